#include "adapters/curl/CurlShare.h"
#include "adapters/curl/HttpBrowser.h"
#include "doubles/FakeClock.h"
#include "doubles/ManualTimer.h"
#include "doubles/QueuedEventLoop.h"
#include "pages/PageHandling.h"
#include "state/CycleState.h"

#include <HosterSim.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace torvaline {
namespace {

using namespace std::chrono_literals;

// The real browser, the real page handling and the emulator over a socket, wired the way the
// main window wires them; only the clock and the timers are doubles.
class PageFlow : public testing::Test {
protected:
    void SetUp() override {
        sim.start();
        BrowserEvents events;
        events.beforeNavigate = [this](const std::string&) { handling.clearPageText(); };
        events.documentComplete = [this](const DocumentCompleteEvent&) {
            ++completes;
            handling.BrowserInfo();
            state.PageHandled = false;
        };
        browser.setEvents(std::move(events));
    }

    // Opens the link and lets the pages follow one another until a timer is armed.
    bool runUntilArmed(const std::string& link) {
        browser.Navigate(link);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!timer1.enabled() && !timer2.enabled() &&
               std::chrono::steady_clock::now() < deadline)
            loop.pumpFor(20ms);
        return timer1.enabled() || timer2.enabled();
    }

    hostersim::HosterSim sim;
    CurlShare share;
    test::QueuedEventLoop loop;
    test::FakeClock clock;
    test::ManualTimer timer1;
    test::ManualTimer timer2;
    CycleState state;
    std::string host = "RapidShare";
    int deleted = 0;
    int completes = 0;
    HttpBrowser browser{loop, share};
    PageHandling handling{{state, clock, timer1, timer2, browser, loop},
                          {[this] { ++deleted; }, [this] { return host; }, {}}};
};

TEST_F(PageFlow, OkLinkArmsTheCountdownWithTheDirectLink) {
    ASSERT_TRUE(runUntilArmed(sim.rapidshareLink("ok", "a.bin", 1000, 5)));
    EXPECT_TRUE(timer1.enabled());
    EXPECT_FALSE(timer2.enabled());
    EXPECT_EQ(completes, 2);
    EXPECT_EQ(state.CountdownText, "0:0:5");
    EXPECT_EQ(state.FinalURL, sim.baseUrl() + "/dl/1/a.bin");
    EXPECT_EQ(state.FinalFileName, "a.bin");
    EXPECT_EQ(sim.presses("ok", "a.bin"), 1);
}

TEST_F(PageFlow, WaitPageArmsTheRetryTimer) {
    ASSERT_TRUE(runUntilArmed(sim.rapidshareLink("tryagainabout", "w.bin", 10, 2, "wait=7")));
    EXPECT_TRUE(timer2.enabled());
    EXPECT_FALSE(timer1.enabled());
    EXPECT_EQ(state.WaitText, "0:7:0");
}

TEST_F(PageFlow, MissingFileGoesToTheBadLinkStep) {
    browser.Navigate(sim.rapidshareLink("notfound", "m.bin", 10, 2));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (completes == 0 && std::chrono::steady_clock::now() < deadline)
        loop.pumpFor(20ms);
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(sim.presses("notfound", "m.bin"), 0);
}

TEST_F(PageFlow, SecondHosterRowTakesTheAnchorLink) {
    host = "4Shared";
    ASSERT_TRUE(runUntilArmed(sim.fourSharedLink("b.bin", 10, 3)));
    EXPECT_TRUE(timer1.enabled());
    EXPECT_EQ(state.FinalURL, sim.baseUrl() + "/dl/1/b.bin");
    EXPECT_EQ(state.FinalFileName, "b.bin");
}

} // namespace
} // namespace torvaline
