#include "transfer/TDownloadFile.h"
#include "transfer/DownloadThread.h"

#include "doubles/QueuedEventLoop.h"
#include "doubles/ScriptedTransfer.h"
#include "doubles/WorkerThreads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace torvaline {
namespace {

using test::QueuedEventLoop;
using test::ScriptedTransfer;
using test::WorkerThreads;

const char* outcomeName(TransferOutcome outcome) {
    switch (outcome) {
    case TransferOutcome::Succeeded:
        return "ok";
    case TransferOutcome::Failed:
        return "failed";
    case TransferOutcome::Cancelled:
        return "cancelled";
    }
    return "?";
}

class DownloadComponentTest : public ::testing::Test {
protected:
    DownloadComponentTest() {
        component = std::make_unique<TDownloadFile>(loop, facility, threads.starter());
        component->UrlToDownload = "http://host/file.zip";
        component->FileName = "/downloads/file.zip";
        component->OnStart = [this](void*) {
            log.push_back("start busy=" + std::to_string(component->busy()));
        };
        component->OnProgress = [this](void*, std::uint32_t r, std::uint32_t t) {
            log.push_back("progress " + std::to_string(r) + "/" + std::to_string(t));
        };
        component->OnFinish = [this](void*, bool canceled, const TransferResult& result) {
            log.push_back(std::string("finish canceled=") + (canceled ? "1" : "0") + " " +
                          outcomeName(result.outcome) +
                          (result.reason.empty() ? "" : " " + result.reason) +
                          " busy=" + std::to_string(component->busy()));
        };
        component->OnError = [this](void* sender, ErrorCode code, const std::string& msg) {
            EXPECT_EQ(sender, component.get());
            errors.push_back({code, msg});
        };
    }
    ~DownloadComponentTest() override { EXPECT_TRUE(threads.finishAll(loop)); }

    bool finished() const { return !log.empty() && log.back().rfind("finish", 0) == 0; }
    void runToEnd() {
        ASSERT_TRUE(loop.pumpUntil([this] { return finished(); }));
    }

    std::vector<std::string> log;
    std::vector<std::pair<ErrorCode, std::string>> errors;
    QueuedEventLoop loop;
    std::shared_ptr<ScriptedTransfer> facility = std::make_shared<ScriptedTransfer>();
    WorkerThreads threads;
    std::unique_ptr<TDownloadFile> component;
};

TEST_F(DownloadComponentTest, MisuseIsReportedWithItsCodeAndMessageAndChangesNothing) {
    struct Case {
        const char* name;
        std::string url, file;
        bool stopInstead;
        ErrorCode code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"empty url", "", "/d/f.zip", false, ErrorCode::ecNotSpecified,
         "A URL de origem e/ou o local de destino n\xE3o foi especificado."},
        {"empty file", "http://h/f", "", false, ErrorCode::ecNotSpecified,
         "A URL de origem e/ou o local de destino n\xE3o foi especificado."},
        {"stop idle", "http://h/f", "/d/f.zip", true, ErrorCode::ecNotActive,
         "Nenhum download est\xE1 ativo!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        component->UrlToDownload = c.url;
        component->FileName = c.file;
        c.stopInstead ? component->Stop() : component->Start();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].first, c.code);
        EXPECT_EQ(errors[0].second, c.message);
        EXPECT_FALSE(component->busy());
    }
    EXPECT_EQ(threads.started(), 0);
}

TEST_F(DownloadComponentTest, SecondStartIsRefusedAndLeavesTheRunningTransferAlone) {
    facility->script = {ScriptedTransfer::start(), ScriptedTransfer::hold(),
                        ScriptedTransfer::stop()};
    component->Start();
    component->UrlToDownload = "http://other/next.zip";
    component->Start();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, ErrorCode::ecBusy);
    EXPECT_EQ(errors[0].second, "O aplicativo est\xE1 ocupado!");
    component->Stop(); // twice: no error, only the flag again
    component->Stop();
    EXPECT_EQ(errors.size(), 1u);
    ASSERT_TRUE(loop.pumpUntil([this] { return log.size() == 1; }));
    ASSERT_TRUE(facility->release());
    runToEnd();
    EXPECT_EQ(threads.started(), 1);
    ASSERT_EQ(facility->calls().size(), 1u);
    EXPECT_EQ(facility->calls()[0].first, "http://host/file.zip");
}

TEST_F(DownloadComponentTest, EventsArriveInOrderInKibibytesAndBusyEndsAfterFinish) {
    struct Case {
        std::uint64_t received, expected;
        const char* shown;
    };
    const std::vector<Case> cases = {
        {0, 0, "progress 0/0"},
        {1023, 1023, "progress 0/0"},
        {1536 * 1024 + 1023, 5120 * 1024, "progress 1536/5120"},
        // KiB are 32-bit, the width of the progress event: 4 TiB wraps.
        {4ull << 40, 4ull << 40, "progress 0/0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        log.clear();
        facility->script = {ScriptedTransfer::start(),
                            ScriptedTransfer::progress(c.received, c.expected),
                            ScriptedTransfer::stop()};
        component->Start();
        EXPECT_TRUE(component->busy());
        // The transfer waits for the window at neither end: it is over before the window
        // hears of it, and then hears of it whole and in order.
        ASSERT_TRUE(threads.waitEnded());
        runToEnd();
        EXPECT_EQ(log, (std::vector<std::string>{"start busy=1", c.shown,
                                                 "finish canceled=0 ok busy=1"}));
        EXPECT_FALSE(component->busy());
        ASSERT_TRUE(threads.finishAll(loop)); // it still reads its script after the finish
    }
    EXPECT_EQ(facility->answers(), (std::vector<bool>(cases.size(), true)));
}

// The GUI thread of a busy window: while it holds, hand-offs wait until the test lets them
// run, possibly after everything else; otherwise they go to the test's GUI thread.
class LateLoop final : public EventLoop {
public:
    explicit LateLoop(QueuedEventLoop& gui)
        : m_gui(gui) {}
    void post(std::function<void()> fn) override {
        {
            std::lock_guard lock(m_mutex);
            if (m_holding) {
                m_held.push_back(std::move(fn));
                m_changed.notify_all();
                return;
            }
        }
        m_gui.post(std::move(fn));
    }
    void invokeAndWait(std::function<void()> fn) override { m_gui.invokeAndWait(std::move(fn)); }
    void processPendingEvents() override { m_gui.processPendingEvents(); }
    void hold(bool holding) {
        std::lock_guard lock(m_mutex);
        m_holding = holding;
    }
    bool waitHeld(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return m_held.size() >= count; });
    }
    std::size_t held() {
        std::lock_guard lock(m_mutex);
        return m_held.size();
    }
    void runHeld() {
        std::vector<std::function<void()>> batch;
        {
            std::lock_guard lock(m_mutex);
            batch.swap(m_held);
        }
        for (auto& fn : batch)
            fn();
    }

private:
    QueuedEventLoop& m_gui;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_holding = false;
    std::vector<std::function<void()>> m_held;
};

TEST_F(DownloadComponentTest, ASlowWindowNeitherPacesTheTransferNorHearsOfItAfterTheEnd) {
    using S = ScriptedTransfer;
    LateLoop late(loop);
    for (const bool destroyFirst : {false, true}) {
        SCOPED_TRACE(destroyFirst ? "component destroyed" : "component kept");
        log.clear();
        auto slow = std::make_unique<TDownloadFile>(late, facility, threads.starter());
        slow->UrlToDownload = "http://host/file.zip";
        slow->FileName = "/downloads/file.zip";
        slow->OnStart = [this](void*) { log.push_back("start"); };
        slow->OnProgress = [this](void*, std::uint32_t r, std::uint32_t t) {
            log.push_back("progress " + std::to_string(r) + "/" + std::to_string(t));
        };
        slow->OnFinish = [this](void*, bool, const TransferResult&) { log.push_back("finish"); };
        // The stop comes after the first figures were published and before the window ran.
        facility->script = {
            S::start(), S::hold(), S::progress(1024, 8192), S::hold(), S::progress(2048, 8192),
            S::stop()};
        slow->Start();
        ASSERT_TRUE(facility->waitHeld());
        ASSERT_TRUE(loop.pumpOne()); // the start event
        late.hold(true);
        ASSERT_TRUE(facility->release());
        ASSERT_TRUE(late.waitHeld(1));
        ASSERT_TRUE(facility->waitHeld()); // the answer to the first figures was given
        slow->Stop();
        late.hold(false);
        ASSERT_TRUE(facility->release());
        if (destroyFirst) {
            slow.reset();
            ASSERT_TRUE(threads.finishAll(loop));
        } else {
            ASSERT_TRUE(loop.pumpUntil([this] { return !log.empty() && log.back() == "finish"; }));
            ASSERT_TRUE(threads.finishAll(loop));
            EXPECT_FALSE(slow->busy());
        }
        // No progress hand-off ran, yet the stop was answered and one hand-off was queued.
        EXPECT_EQ(late.held(), 1u);
        late.runHeld(); // after the finish, and after the worker (and maybe the component) ended
        // The final counts come with the finish, never after it.
        const std::vector<std::string> expected =
            destroyFirst ? std::vector<std::string>{"start"}
                         : std::vector<std::string>{"start", "progress 2/8", "finish"};
        EXPECT_EQ(log, expected);
    }
    EXPECT_EQ(facility->answers(), (std::vector<bool>{true, false, true, false}));
}

TEST_F(DownloadComponentTest, StopBeforeTheFirstProgressTakesEffectAtIt) {
    facility->script = {ScriptedTransfer::start(), ScriptedTransfer::hold(),
                        ScriptedTransfer::progress(0, 2048), ScriptedTransfer::progress(1024, 2048),
                        ScriptedTransfer::stop()};
    component->OnStart = [this](void*) {
        log.push_back("start");
        component->Stop();
    };
    component->Start();
    // The transfer does not wait for the window: it is held until the start handler has run.
    ASSERT_TRUE(facility->waitHeld());
    ASSERT_TRUE(loop.pumpUntil([this] { return !log.empty(); }));
    ASSERT_TRUE(facility->release());
    runToEnd();
    EXPECT_EQ(log, (std::vector<std::string>{"start", "progress 0/2",
                                             "finish canceled=1 cancelled cancelled busy=1"}));
    EXPECT_EQ(facility->answers(), (std::vector<bool>{false}));
    EXPECT_TRUE(errors.empty());
}

TEST_F(DownloadComponentTest, StopAfterTheLastProgressStillSaysCanceled) {
    facility->script = {ScriptedTransfer::start(), ScriptedTransfer::progress(2048, 2048),
                        ScriptedTransfer::hold(), ScriptedTransfer::stop()};
    component->Start();
    ASSERT_TRUE(loop.pumpUntil([this] { return log.size() == 2; }));
    // Only once the answer to the last progress has been given.
    ASSERT_TRUE(facility->waitHeld());
    component->Stop();
    ASSERT_TRUE(facility->release());
    runToEnd();
    EXPECT_EQ(log.back(), "finish canceled=1 ok busy=1");
    EXPECT_EQ(facility->answers(), (std::vector<bool>{true}));
}

TEST_F(DownloadComponentTest, StartInsideFinishIsRefusedAndAfterItRuns) {
    facility->script = {ScriptedTransfer::start(), ScriptedTransfer::stop()};
    int finishes = 0;
    component->OnFinish = [&](void*, bool, const TransferResult&) {
        ++finishes;
        if (finishes == 1)
            component->Start();
    };
    component->Start();
    ASSERT_TRUE(loop.pumpUntil([&] { return finishes == 1; }));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, ErrorCode::ecBusy);
    EXPECT_FALSE(component->busy());
    component->Start();
    ASSERT_TRUE(loop.pumpUntil([&] { return finishes == 2; }));
    EXPECT_EQ(threads.started(), 2);
}

TEST_F(DownloadComponentTest, ThrowingHandlersAreContainedAndTheComponentComesBackIdle) {
    facility->script = {ScriptedTransfer::start(), ScriptedTransfer::progress(10, 20),
                        ScriptedTransfer::progress(20, 20), ScriptedTransfer::stop()};
    int finishes = 0;
    component->OnStart = [](void*) { throw std::runtime_error("start handler"); };
    component->OnProgress = [](void*, std::uint32_t, std::uint32_t) { throw 42; };
    component->OnFinish = [&](void*, bool, const TransferResult&) {
        ++finishes;
        throw std::logic_error("finish handler");
    };
    component->OnError = [](void*, ErrorCode, const std::string&) {
        throw std::runtime_error("error handler");
    };
    component->Start();
    ASSERT_TRUE(loop.pumpUntil([&] { return finishes == 1; }));
    EXPECT_FALSE(component->busy());
    EXPECT_EQ(facility->answers(), (std::vector<bool>{true, true}));
    EXPECT_NO_THROW(component->Stop()); // error handler throws: Stop still does not
    component->Start();
    ASSERT_TRUE(loop.pumpUntil([&] { return finishes == 2; }));
}

TEST_F(DownloadComponentTest, FacilityEndingWithoutEndNotificationStillFinishes) {
    struct Case {
        const char* name;
        std::vector<ScriptedTransfer::Step> script;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"returns at once", {}, "finish canceled=0 failed unsupported link busy=1"},
        {"returns after progress",
         {ScriptedTransfer::start(), ScriptedTransfer::progress(0, 0)},
         "finish canceled=0 failed unsupported link busy=1"},
        {"throws",
         {ScriptedTransfer::start(), ScriptedTransfer::fail()},
         "finish canceled=0 failed The transfer failed: socket layer exploded. busy=1"},
    };
    facility->returned = {TransferOutcome::Failed, "unsupported link"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        facility->script = c.script;
        component->Start();
        runToEnd();
        EXPECT_EQ(log.back(), c.expected);
        EXPECT_FALSE(component->busy());
    }
}

TEST_F(DownloadComponentTest, ThreadCreationFailureIsReportedAndLeavesTheComponentUsable) {
    facility->script = {ScriptedTransfer::start(), ScriptedTransfer::stop()};
    threads.failNext = true;
    component->Start();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, ErrorCode::ecThreadFailed);
    EXPECT_EQ(errors[0].second, "N\xE3o foi poss\xEDvel iniciar o download!");
    EXPECT_FALSE(component->busy());
    component->Stop(); // nothing runs
    EXPECT_EQ(errors.back().first, ErrorCode::ecNotActive);
    component->Start();
    runToEnd();
    EXPECT_EQ(log.back(), "finish canceled=0 ok busy=1");
}

TEST_F(DownloadComponentTest, DestroyingABusyComponentCancelsAndDeliversNothingMore) {
    facility->script = {ScriptedTransfer::start(), ScriptedTransfer::hold(),
                        ScriptedTransfer::progress(1024, 4096),
                        ScriptedTransfer::progress(2048, 4096), ScriptedTransfer::stop()};
    component->Start();
    // The start hand-off is queued; the component goes away before it runs.
    ASSERT_TRUE(facility->waitHeld());
    ASSERT_TRUE(loop.waitForWork());
    component.reset();
    ASSERT_TRUE(facility->release());
    ASSERT_TRUE(threads.finishAll(loop));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(facility->answers(), (std::vector<bool>{false}));
}

TEST_F(DownloadComponentTest, HandlerThatDestroysTheComponentEndsDeliveries) {
    facility->script = {ScriptedTransfer::start(), ScriptedTransfer::progress(1024, 4096),
                        ScriptedTransfer::hold(), ScriptedTransfer::progress(2048, 4096),
                        ScriptedTransfer::stop()};
    int progresses = 0;
    component->OnProgress = [&](void*, std::uint32_t, std::uint32_t) {
        ++progresses;
        component.reset();
    };
    component->Start();
    ASSERT_TRUE(loop.pumpOne()); // the start event
    ASSERT_TRUE(facility->waitHeld());
    ASSERT_TRUE(loop.pumpUntil([&] { return progresses == 1; }));
    ASSERT_TRUE(facility->release());
    ASSERT_TRUE(threads.finishAll(loop));
    EXPECT_EQ(progresses, 1);
    EXPECT_EQ(log, std::vector<std::string>{"start busy=1"}); // and no finish
    EXPECT_EQ(facility->answers(), (std::vector<bool>{true, false}));
}

TEST(ErrorMessageText, Windows1252MessagesReadAsUtf8) {
    EXPECT_EQ(Windows1252ToUtf8(ErrorMessage(ErrorCode::ecBusy)),
              "O aplicativo est\xC3\xA1 ocupado!");
    EXPECT_EQ(Windows1252ToUtf8("\x80 \x9F \xFF"), "\xE2\x82\xAC \xC5\xB8 \xC3\xBF");
}

TEST_F(DownloadComponentTest, AKeptFileGoesToOneTransferOnlyAndItsOffsetReachesTheDisplay) {
    using S = ScriptedTransfer;
    facility->script = {S::start(), S::resumed(4096), S::progress(6144, 10240), S::hold(),
                        S::stop()};
    const PartialFile kept{"/downloads/file.zip.tv0123456789ab.part", 4096, 10240, "\"v1\""};
    std::vector<std::uint64_t> offsets;
    component->OnProgress = [&](void*, std::uint32_t, std::uint32_t) {
        offsets.push_back(component->ResumedFrom);
    };
    component->Resume = kept;
    component->Start();
    EXPECT_TRUE(component->Resume.empty()); // the transfer owns it now
    ASSERT_TRUE(loop.pumpUntil([&] { return offsets.size() == 1; }));
    ASSERT_TRUE(facility->release());
    runToEnd();
    log.clear();
    facility->script = {S::start(), S::progress(1024, 10240), S::hold(), S::stop()};
    component->Start();
    ASSERT_TRUE(loop.pumpUntil([&] { return offsets.size() == 2; }));
    ASSERT_TRUE(facility->release());
    runToEnd();
    EXPECT_EQ(facility->resumed(), (std::vector<std::string>{kept.path, ""}));
    EXPECT_EQ(offsets, (std::vector<std::uint64_t>{4096, 0}));

    component->DiscardPartial(kept);
    component->DiscardPartial(PartialFile{});
    EXPECT_EQ(facility->discarded(), std::vector<std::string>{kept.path});
}

} // namespace
} // namespace torvaline
