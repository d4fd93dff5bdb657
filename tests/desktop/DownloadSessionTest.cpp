#include "session/DownloadSession.h"
#include "cycle/TorvalineCore.h"
#include "doubles/FakeBrowser.h"
#include "doubles/FakeClock.h"
#include "doubles/FakeEventLoop.h"
#include "doubles/ManualTimer.h"
#include "doubles/RecordingRowEvents.h"
#include "doubles/RecordingShutdown.h"
#include "list/LinkLines.h"
#include "platform/TransferFacility.h"
#include "remote/RowTable.h"
#include "remote/SessionRemote.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace torvaline::test {
namespace {

using namespace std::chrono_literals;

// A transfer deaf to its cancel holds its worker until the test lets it go (or 10 s pass).
class StuckTransfer final : public TransferFacility {
public:
    TransferResult transfer(const std::string&, const std::string&, const PartialFile&,
                            TransferCallback&) override {
        std::unique_lock lock(m_mutex);
        m_entered = true;
        m_changed.notify_all();
        m_changed.wait_for(lock, 10s, [this] { return m_released; });
        return {};
    }
    TransferResult transferPost(const std::string& url, const std::string&, const std::string& path,
                                const PartialFile& resume, TransferCallback& callback) override {
        return transfer(url, path, resume, callback);
    }
    void discardPartial(const PartialFile&) override {}

    bool waitEntered() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 5s, [this] { return m_entered; });
    }
    void release() {
        const std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_entered = false;
    bool m_released = false;
};

struct Rig {
    FakeEventLoop loop;
    FakeBrowser browser;
    FakeClock clock;
    RecordingShutdownService shutdownService;
    RecordingShutdownNotice shutdownNotice;
    std::shared_ptr<StuckTransfer> facility = std::make_shared<StuckTransfer>();
    std::optional<DownloadSession> session;

    explicit Rig(std::chrono::milliseconds grace) {
        DownloadSession::Options options;
        options.defaultFolder = "/tmp";
        options.workerGrace = grace;
        session.emplace(
            DownloadSession::Adapters{
                .browser = browser,
                .loop = loop,
                .clock = clock,
                .makeTimer = [] { return std::make_unique<ManualTimer>(); },
                .facility = facility,
                .shutdownService = shutdownService,
                .shutdownNotice = shutdownNotice,
                .workers = {},
                .notice = {},
                .startThread = {},
            },
            options);
    }
    void startTransfer() {
        TDownloadFile& component = session->component();
        component.UrlToDownload = "http://127.0.0.1:9/file.bin";
        component.FileName = "/tmp/never-written.bin";
        component.Start();
    }
};

// The end waits for a transfer worker that lets go, and gives up on one that does not at the
// deadline instead of hanging the program's exit; either way it says which, since a worker
// still running may reach the event loop, which must then stay.
TEST(DownloadSession, EndWaitsForTheWorkersUntilItsDeadline) {
    for (const bool letsGo : {true, false}) {
        SCOPED_TRACE(letsGo ? "the worker lets go" : "the worker is stuck");
        Rig rig(letsGo ? 5000ms : 300ms);
        rig.startTransfer();
        ASSERT_TRUE(rig.facility->waitEntered());
        EXPECT_EQ(rig.session->workersRunning(), 1);
        std::thread releaser;
        if (letsGo)
            releaser = std::thread([&rig] {
                std::this_thread::sleep_for(100ms);
                rig.facility->release();
            });
        const auto began = std::chrono::steady_clock::now();
        EXPECT_EQ(rig.session->close(), letsGo);
        const auto took = std::chrono::steady_clock::now() - began;
        if (letsGo) {
            EXPECT_EQ(rig.session->workersRunning(), 0);
            EXPECT_LT(took, 3s);
        } else {
            EXPECT_GE(took, 300ms);
            EXPECT_LT(took, 3s);
            rig.facility->release();
            // The loop of this rig outlives the worker here; in the program it would be left.
            for (int i = 0; i < 500 && rig.session->workersRunning() > 0; ++i)
                std::this_thread::sleep_for(10ms);
        }
        if (releaser.joinable())
            releaser.join();
    }
}

// Rows that were on the list, held or at work before a front end attached (list files, a
// restore, --start before the remote control) reach it, where they stand.
TEST(DownloadSession, AFrontEndThatAttachesLateHearsEveryRowWhereItStands) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    std::optional<QCoreApplication> app;
    if (QCoreApplication::instance() == nullptr)
        app.emplace(argc, argv);

    Rig rig(1000ms);
    DownloadSession& session = *rig.session;
    AppendLinks(session.list(),
                {"http://example.com/a", "http://example.com/b", "http://example.com/c"});
    const std::uint64_t a = session.list().id(1);
    const std::uint64_t c = session.list().id(3);
    ASSERT_TRUE(session.core().cycle().holdRow(c));
    session.core().StartDownload1Click(); // row a opens its page
    session.list().removeRow(2);

    RecordingRowEvents late;
    session.attach(late);
    ASSERT_EQ(late.added.size(), 2u);
    EXPECT_EQ(late.added[0].id, a);
    EXPECT_EQ(late.added[1].id, c);
    EXPECT_EQ(late.phasesOf(a), std::vector<RowPhase>{RowPhase::Opening});
    EXPECT_EQ(late.phasesOf(c), std::vector<RowPhase>{RowPhase::Paused});

    RemoteControl::Options remote;
    remote.port = 0;
    SessionRemote::Hooks hooks;
    hooks.shutdown = [] {};
    ASSERT_EQ(SessionRemote::start(session, remote, hooks), QString());
    const RowTable& rows = SessionRemote::of(session)->rows();
    ASSERT_EQ(rows.listCount(), 2);
    EXPECT_EQ((std::vector<std::uint64_t>{rows.at(1).id, rows.at(2).id}),
              (std::vector<std::uint64_t>{a, c}));
    EXPECT_EQ(rows.status(a), RowTable::Status::Active);
    EXPECT_EQ(rows.status(c), RowTable::Status::Paused);
    session.detach(late);
}

} // namespace
} // namespace torvaline::test
