#include "session/LinkCheck.h"

#include "adapters/curl/CurlLinkProbe.h"
#include "adapters/curl/CurlShare.h"
#include "cycle/RowEventHub.h"
#include "doubles/FakeClock.h"
#include "doubles/ManualTimer.h"
#include "doubles/QueuedEventLoop.h"
#include "doubles/ScriptedProbe.h"
#include "doubles/WorkerThreads.h"
#include "list/LinkLines.h"
#include "list/ListOperations.h"
#include "list/RowTexts.h"
#include "platform/WorkerCount.h"

#include <HosterSim.h>
#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

namespace torvaline::test {
namespace {

using namespace std::chrono_literals;
using State = CheckedLink::State;

// The emulator's first page of a link, as the built-in profile of its hoster reads it.
std::string firstPage(const std::string& name, std::uint64_t size) {
    return "<html><body><h1>" + name + "</h1><p>File size: " + std::to_string(size) +
           " bytes</p><form id=\"ff\" action=\"x\" method=\"post\"><input type=\"submit\" "
           "name=\"free\" value=\"Free user\"></form></body></html>";
}
const std::string DeadPage = "<html><body><p>The file could not be found. Please check the "
                             "download link.</p></body></html>";

struct Rig {
    DownloadList list;
    QueuedEventLoop loop;
    FakeClock clock;
    std::shared_ptr<ScriptedProbe> probe = std::make_shared<ScriptedProbe>();
    std::shared_ptr<WorkerCount> workers = std::make_shared<WorkerCount>();
    WorkerThreads threads;
    RowEventHub hub;
    ManualTimer* timer = nullptr;
    std::unique_ptr<LinkCheck> check;

    Rig() {
        auto owned = std::make_unique<ManualTimer>();
        timer = owned.get();
        check = std::make_unique<LinkCheck>(LinkCheck::Ports{
            list, loop, clock, probe, workers, threads.starter(), std::move(owned), &hub});
        hub.follow(list);
        hub.add(*check);
    }
    ~Rig() {
        probe->releaseAll();
        check->stop();
        threads.finishAll(loop);
    }
    void add(std::vector<std::string> links) { AppendLinks(list, std::move(links)); }
    bool settle() {
        return loop.pumpUntil([this] { return check->running() == 0 && check->queued() == 0; });
    }
    int rowOfLink(const std::string& link) const {
        for (int r = 1; r < list.rowCount(); ++r)
            if (list.cell(r, DownloadList::URL) == link)
                return r;
        return -1;
    }
};

TEST(LinkCheck, MixedListIsReadWithItsProfilesOnePerHosterAndFourInAll) {
    Rig rig;
    // Six hosters, three links each: never two at one hoster, never more than four in all.
    std::vector<std::string> links;
    for (int h = 2; h <= 7; ++h)
        for (int i = 0; i < 3; ++i)
            links.push_back("http://127.0.0." + std::to_string(h) + "/rapidshare/ok/f" +
                            std::to_string(h) + std::to_string(i) + ".bin");
    const std::string dead = "http://127.0.0.8/rapidshare/notfound/dead.bin";
    const std::string direct = "http://127.0.0.9/file/photo%20one.jpg?size=10";
    const std::string gone404 = "http://127.0.0.9/file/gone.jpg";
    const std::string unreachable = "http://127.0.0.10/rapidshare/ok/nobody.bin";
    const std::string strange = "http://127.0.0.11/rapidshare/ok/strange.bin";
    for (const std::string& link : links)
        rig.probe->page(link, firstPage("x", 1572864));
    rig.probe->page(dead, DeadPage);
    LinkAnswer file;
    file.directFile = true;
    file.fileName = "photo one.jpg";
    file.fileSize = 10;
    rig.probe->answer(direct, file);
    LinkAnswer notThere;
    notThere.status = 404;
    notThere.error = "The server answered with HTTP status 404.";
    rig.probe->answer(gone404, notThere);
    rig.probe->page(strange, "<html><body><p>Hello</p></body></html>");
    links.insert(links.end(), {dead, direct, gone404, unreachable, strange});

    rig.probe->held = true;
    rig.add(links);
    ASSERT_TRUE(rig.probe->waitRunning(4));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(rig.probe->running(), 4);
    for (int i = 0; i < 40 && rig.check->queued() + rig.check->running() > 0; ++i) {
        rig.probe->release(1);
        rig.loop.pumpFor(200ms);
    }
    rig.probe->releaseAll();
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.probe->maxRunning(), 4);
    EXPECT_EQ(rig.probe->maxPerHost(), 1);
    // Each link fetched once, nothing pressed.
    EXPECT_EQ(rig.probe->fetched().size(), links.size());

    const auto checked = [&](const std::string& link) {
        const CheckedLink* c = rig.list.checked(rig.rowOfLink(link));
        return c ? *c : CheckedLink{State::Unknown, -2, "none", "none"};
    };
    const CheckedLink ok = checked(links[0]);
    EXPECT_EQ(ok.state, State::Online);
    EXPECT_EQ(ok.size, 1572864);
    EXPECT_EQ(ok.name, "f20.bin");
    // The stored status stays the cycle's.
    EXPECT_EQ(rig.list.cell(rig.rowOfLink(links[0]), DownloadList::Status), StatusWaiting);

    const int deadRow = rig.rowOfLink(dead);
    EXPECT_EQ(checked(dead).state, State::Offline);
    EXPECT_EQ(rig.list.cell(deadRow, DownloadList::Status), StatusFailed);
    EXPECT_NE(rig.list.note(deadRow).find("missing or blocked"), std::string::npos);
    EXPECT_TRUE(rig.list.offline(deadRow));

    EXPECT_EQ(checked(direct).state, State::Online);
    EXPECT_EQ(checked(direct).name, "photo one.jpg");
    EXPECT_EQ(checked(direct).size, 10);
    EXPECT_EQ(checked(gone404).state, State::Offline);
    EXPECT_TRUE(rig.list.offline(rig.rowOfLink(gone404)));

    for (const std::string& link : {unreachable, strange}) {
        EXPECT_EQ(checked(link).state, State::Unknown) << link;
        EXPECT_FALSE(checked(link).reason.empty()) << link;
        EXPECT_EQ(rig.list.cell(rig.rowOfLink(link), DownloadList::Status), StatusWaiting);
    }

    // Again: the dead one waits again until its answer, and fails again.
    rig.check->checkAgain();
    EXPECT_EQ(rig.list.cell(deadRow, DownloadList::Status), StatusWaiting);
    EXPECT_EQ(rig.list.checked(deadRow), nullptr);
    ASSERT_TRUE(rig.settle());
    EXPECT_TRUE(rig.list.offline(deadRow));
    EXPECT_EQ(rig.probe->fetched().size(), 2 * links.size());
}

TEST(LinkCheck, HosterOnHoldIsNotAskedUntilItsHoldEndsAndTurnedOffChecksNothingNew) {
    Rig rig;
    bool holdA = true;
    rig.check->setHosterOf([](const std::string& link) {
        return link.find("/a/") != std::string::npos ? std::string("A") : std::string("B");
    });
    rig.check->setOnHold([&holdA](const std::string& hoster) { return hoster == "A" && holdA; });
    rig.add({"http://127.0.0.2/a/1.bin", "http://127.0.0.3/b/2.bin", "http://127.0.0.2/a/3.bin"});
    ASSERT_TRUE(
        rig.loop.pumpUntil([&] { return rig.check->running() == 0 && rig.list.checked(2); }));
    EXPECT_EQ(rig.probe->fetched(), std::vector<std::string>{"http://127.0.0.3/b/2.bin"});
    EXPECT_TRUE(rig.timer->enabled());
    rig.timer->tick();
    rig.loop.pumpFor(50ms);
    EXPECT_EQ(rig.probe->fetched().size(), 1u);
    holdA = false;
    rig.timer->tick();
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.probe->fetched().size(), 3u);
    EXPECT_FALSE(rig.timer->enabled());

    // Row 2's hoster asks it to wait (the row events tell): its other rows are looked at only
    // once the wait is over.
    RowPhaseEvent wait;
    wait.id = rig.list.id(2);
    wait.phase = RowPhase::HosterWait;
    wait.link = rig.list.cell(2, DownloadList::URL);
    rig.hub.rowPhase(wait);
    rig.add({"http://127.0.0.3/b/5.bin"});
    rig.timer->tick();
    rig.loop.pumpFor(50ms);
    EXPECT_EQ(rig.probe->fetched().size(), 3u);
    wait.phase = RowPhase::Countdown;
    rig.hub.rowPhase(wait);
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.probe->fetched().size(), 4u);

    rig.check->setEnabled(false);
    rig.add({"http://127.0.0.4/b/4.bin"});
    rig.loop.pumpFor(50ms);
    EXPECT_EQ(rig.probe->fetched().size(), 4u);
    EXPECT_EQ(rig.list.checked(5), nullptr);
}

TEST(LinkCheck, AnswersGoToTheirOwnRowsByIdWhateverWasDeletedMovedOrCleared) {
    Rig rig;
    std::vector<std::string> links;
    for (int h = 2; h <= 9; ++h) {
        links.push_back("http://127.0.0." + std::to_string(h) + "/rapidshare/ok/n" +
                        std::to_string(h) + ".bin");
        rig.probe->page(links.back(), firstPage("x", 100u * h));
    }
    rig.probe->held = true;
    rig.add(links);
    ASSERT_TRUE(rig.probe->waitRunning(4));
    // Rows 1 and 3 (in flight) go, the last moves to the top, while their pages come.
    DeleteStringGridRow1(rig.list, 3);
    DeleteStringGridRow1(rig.list, 1);
    rig.list.moveRow(rig.list.rowCount() - 1, 1);
    rig.probe->releaseAll();
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.list.rowCount(), 7);
    for (int r = 1; r < rig.list.rowCount(); ++r) {
        const CheckedLink* c = rig.list.checked(r);
        ASSERT_NE(c, nullptr) << r;
        const std::string& link = rig.list.cell(r, DownloadList::URL);
        EXPECT_NE(link.find("/" + c->name), std::string::npos) << link << " got " << c->name;
        const int h = std::stoi(link.substr(std::string("http://127.0.0.").size()));
        EXPECT_EQ(c->size, 100 * h) << link;
    }

    // The list cleared and filled again while four pages come: the new rows are checked for
    // their own links only.
    rig.probe->held = true;
    rig.list.setRowCount(1);
    rig.add(links);
    ASSERT_TRUE(rig.probe->waitRunning(4));
    rig.list.setRowCount(1);
    std::vector<std::string> fresh;
    for (int h = 2; h <= 5; ++h) {
        fresh.push_back("http://127.0.0." + std::to_string(h) + "/rapidshare/notfound/z.bin");
        rig.probe->page(fresh.back(), DeadPage);
    }
    rig.add(fresh);
    // The four old pages come while the new rows wait behind them.
    rig.probe->release(4);
    ASSERT_TRUE(rig.loop.pumpUntil([&] { return rig.probe->fetched().size() == 16; }))
        << rig.probe->fetched().size() << " fetched, " << rig.probe->running() << " running, "
        << rig.check->running() << " checking, " << rig.check->queued() << " queued";
    ASSERT_TRUE(rig.probe->waitRunning(4));
    rig.loop.pumpFor(50ms);
    for (int r = 1; r < rig.list.rowCount(); ++r)
        EXPECT_EQ(rig.list.checked(r), nullptr) << r;
    EXPECT_EQ(rig.list.cell(1, DownloadList::Status), StatusWaiting);
    rig.probe->releaseAll();
    ASSERT_TRUE(rig.settle());
    ASSERT_EQ(rig.list.rowCount(), 5);
    for (int r = 1; r < 5; ++r) {
        ASSERT_NE(rig.list.checked(r), nullptr);
        EXPECT_EQ(rig.list.checked(r)->state, State::Offline) << r;
    }
}

// Real pages over a real socket: what a hostile server sends ends as Unknown, in bounded time.
TEST(LinkCheck, HostilePagesHugeSlowOrGarbageEndUnknownWithoutAHang) {
    hostersim::HosterSim sim;
    std::mt19937 random(7);
    std::string garbage(300000, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random());
    sim.server().Get("/page/garbage", [&garbage](const httplib::Request&, httplib::Response& res) {
        res.set_content(garbage, "text/html");
    });
    sim.start();
    const std::string base = sim.baseUrl();
    PageOptions options = CurlLinkProbe::checkOptions();
    options.totalTimeout = 1500ms;
    auto probe = std::make_shared<CurlLinkProbe>(std::make_shared<CurlShare>(), options);

    DownloadList list;
    QueuedEventLoop loop;
    FakeClock clock;
    auto workers = std::make_shared<WorkerCount>();
    LinkCheck check(LinkCheck::Ports{list, loop, clock, probe, workers, {}, nullptr, nullptr});
    RowEventHub hub;
    hub.follow(list);
    hub.add(check);
    const std::vector<std::string> links = {
        base + "/page/big?size=" + std::to_string(5 << 20),
        base + "/page/slow?ms=8000",
        base + "/page/garbage",
        base + "/page/nested?depth=100000&size=" + std::to_string(1 << 20),
        sim.rapidshareLink("ok", "fine.bin", 4096, 1),
    };
    const auto began = std::chrono::steady_clock::now();
    AppendLinks(list, links);
    ASSERT_TRUE(loop.pumpUntil([&] { return check.running() == 0 && check.queued() == 0; }, 20s));
    EXPECT_LT(std::chrono::steady_clock::now() - began, 10s);
    // A page nested this deep is read within its bounds, whatever it says.
    ASSERT_NE(list.checked(4), nullptr);
    for (int r = 1; r <= 3; ++r) {
        ASSERT_NE(list.checked(r), nullptr) << links[r - 1];
        EXPECT_EQ(list.checked(r)->state, State::Unknown) << links[r - 1];
        EXPECT_EQ(list.cell(r, DownloadList::Status), StatusWaiting);
    }
    ASSERT_NE(list.checked(5), nullptr);
    EXPECT_EQ(list.checked(5)->state, State::Online);
    EXPECT_EQ(list.checked(5)->size, 4096);
    hub.remove(check);
    check.stop();
    EXPECT_TRUE(workers->waitIdle(std::chrono::steady_clock::now() + 5s, [&] { loop.pumpOnce(); }));
}

} // namespace
} // namespace torvaline::test
