#include "cycle/ShutdownControl.h"
#include "doubles/FakeClock.h"
#include "doubles/ManualTimer.h"
#include "doubles/RecordingShutdown.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace torvaline::test {
namespace {

using Request = std::pair<ExitRequest, bool>;

class Shutdown : public ::testing::Test {
protected:
    RecordingShutdownService service;
    RecordingShutdownNotice notice;
    ManualTimer noticeTimer;
    FakeClock clock;
    ShutdownControl control{service, notice, noticeTimer, clock};

    // Lets the notice run out unanswered.
    void waitOutNotice() {
        for (int i = 0; i < ShutdownControl::NoticeSeconds + 5 && noticeTimer.enabled(); ++i) {
            clock.advanceSeconds(1);
            noticeTimer.tick();
        }
    }
};

TEST_F(Shutdown, ButtonClickedOnceShutsDownByForceAfterTheNotice) {
    control.clickShutBtn();
    EXPECT_TRUE(control.down());
    EXPECT_EQ(control.Tag(), 1);
    control.CheckShutDown();
    EXPECT_TRUE(service.requests.empty()); // not before the notice has run out
    EXPECT_TRUE(notice.visible);
    EXPECT_EQ(notice.shown.front(), 60);
    clock.advanceSeconds(1);
    noticeTimer.tick();
    EXPECT_EQ(notice.shown.back(), 59);
    waitOutNotice();
    EXPECT_FALSE(notice.visible);
    EXPECT_EQ(service.privilegeSteps, 1);
    EXPECT_EQ(service.requests, (std::vector<Request>{{ExitRequest::ShutDown, true}}));
}

TEST_F(Shutdown, NoticeCancelledMeansNoShutdown) {
    control.clickShutBtn();
    control.CheckShutDown();
    clock.advanceSeconds(30);
    noticeTimer.tick();
    notice.cancel();
    EXPECT_FALSE(notice.visible);
    EXPECT_FALSE(noticeTimer.enabled());
    waitOutNotice();
    clock.advanceSeconds(120);
    noticeTimer.tick();
    EXPECT_EQ(service.privilegeSteps, 0);
    EXPECT_TRUE(service.requests.empty());
    // Still armed: a later check asks again.
    control.CheckShutDown();
    EXPECT_TRUE(notice.visible);
}

TEST_F(Shutdown, DisarmedWhileTheNoticeRunsMeansNoShutdown) {
    control.clickShutBtn();
    control.CheckShutDown();
    control.clickShutBtn();
    waitOutNotice();
    EXPECT_TRUE(service.requests.empty());
}

TEST_F(Shutdown, NoticeRunsOutAcrossMidnight) {
    clock.setTime(23, 59, 40);
    control.clickShutBtn();
    control.CheckShutDown();
    clock.setTime(0, 0, 30);
    noticeTimer.tick();
    EXPECT_EQ(notice.shown.back(), 10);
    EXPECT_TRUE(service.requests.empty());
    clock.setTime(0, 0, 40);
    noticeTimer.tick();
    EXPECT_EQ(service.requests.size(), 1u);
}

TEST_F(Shutdown, SecondCheckDuringTheNoticeKeepsOneCountdown) {
    control.clickShutBtn();
    control.CheckShutDown();
    clock.advanceSeconds(50);
    control.CheckShutDown(); // Start Download on the finished list
    clock.advanceSeconds(10);
    noticeTimer.tick();
    EXPECT_EQ(service.requests.size(), 1u);
}

TEST_F(Shutdown, ButtonClickedTwiceOnlyEnablesThePrivilege) {
    control.clickShutBtn();
    control.clickShutBtn();
    EXPECT_FALSE(control.down());
    EXPECT_EQ(control.Tag(), 1);
    control.CheckShutDown();
    EXPECT_FALSE(notice.visible);
    EXPECT_EQ(service.privilegeSteps, 1);
    EXPECT_TRUE(service.requests.empty());
}

TEST_F(Shutdown, MenuChosenTwiceLeavesTheShutdownArmed) {
    int changes = 0;
    control.setOnChanged([&] { ++changes; });
    control.chooseShutPC1();
    control.chooseShutPC1();
    EXPECT_FALSE(control.menuChecked());
    EXPECT_TRUE(control.down());
    EXPECT_GT(changes, 0);
    control.CheckShutDown();
    waitOutNotice();
    EXPECT_EQ(service.requests, (std::vector<Request>{{ExitRequest::ShutDown, true}}));
    // Only the button disarms it.
    control.clickShutBtn();
    EXPECT_FALSE(control.down());
}

TEST_F(Shutdown, NeverUsedDoesNothingAtAll) {
    control.CheckShutDown();
    EXPECT_EQ(service.privilegeSteps, 0);
    EXPECT_TRUE(service.requests.empty());
    EXPECT_TRUE(notice.shown.empty());
    // The button put down by a view without a click is not "used" either.
    control.setDown(true);
    control.CheckShutDown();
    EXPECT_TRUE(notice.shown.empty());
}

TEST_F(Shutdown, ModesAndForcesChooseTheRequest) {
    struct Case {
        const char* mode;
        std::uint8_t force;
        std::vector<Request> expected;
    };
    const std::vector<Case> cases{
        {"1", 0, {{ExitRequest::ShutDown, false}}},
        {"1", 1, {{ExitRequest::ShutDown, true}}},
        {"2", 0, {{ExitRequest::Restart, false}}},
        {"2", 1, {{ExitRequest::Restart, true}}},
        {"3", 0, {{ExitRequest::LogOff, false}}},
        {"3", 1, {{ExitRequest::LogOff, true}}},
        {"0", 0, {}},
        {"0", 1, {}},
        {"4", 1, {}},
        {"", 0, {}},
        {"1", 2, {}},
        {"11", 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + "/" + std::to_string(c.force));
        service = RecordingShutdownService{};
        control.ShutDownWindows(c.mode, c.force);
        EXPECT_EQ(service.privilegeSteps, 1);
        EXPECT_EQ(service.requests, c.expected);
    }
}

} // namespace
} // namespace torvaline::test
