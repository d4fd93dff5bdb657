#include "transfer/ProgressDisplay.h"

#include "list/AppTitle.h"
#include "list/DownloadList.h"
#include "list/StatusBar.h"
#include "state/CycleState.h"

#include "doubles/FakeClock.h"
#include "doubles/FakeDownloadComponent.h"
#include "doubles/ManualTimer.h"

#include <gtest/gtest.h>

namespace torvaline {
namespace {

using L = DownloadList;

class ProgressDisplayTest : public ::testing::Test {
protected:
    ProgressDisplayTest() {
        list.setRowCount(3);
        state.CurrentRow = 2;
        state.FinalFileName = "name.zip";
        clock.setTime(12, 0, 0);
    }
    const std::string& cell(int column) const { return list.cell(2, column); }
    void seconds(int n) {
        for (int i = 0; i < n; ++i) {
            estTimer.tick();
            clock.advanceSeconds(1);
        }
    }

    DownloadList list;
    StatusBar statusBar;
    AppTitle title;
    CycleState state;
    test::FakeClock clock;
    test::ManualTimer elpsTimer, estTimer, stbarTimer;
    test::FakeDownloadComponent component;
    ProgressDisplay display{
        {list, statusBar, title, state, clock, elpsTimer, estTimer, stbarTimer, component, '.'}};
};

TEST(ProgressNumberForms, FixedTwoDecimalsRoundHalvesAwayFromZeroExactly) {
    struct Case {
        std::uint64_t kib;
        const char* text;
    };
    for (const Case& c :
         {Case{1536, "1.50"}, Case{5120, "5.00"}, Case{0, "0.00"}, Case{128, "0.13"},
          Case{5, "0.00"}, Case{6, "0.01"}, Case{1023, "1.00"}, Case{4294967295u, "4194304.00"}}) {
        EXPECT_EQ(FormatFixed2(c.kib, 1024, '.'), c.text) << c.kib;
    }
    EXPECT_EQ(FormatFixed2(1536, 1024, ','), "1,50");
    EXPECT_EQ(FormatTwoDigits(7), "07");
    EXPECT_EQ(FormatTwoDigits(153), "153");
    EXPECT_EQ(FormatTwoDigits(0), "00");
    EXPECT_EQ(FormatFullHours(100000), "27:46:40");
    EXPECT_EQ(FormatFullHours(-65), "00:01:05");
}

TEST_F(ProgressDisplayTest, StartArmsTheTimersAndMarksTheRow) {
    state.WaitSpan = 0.3;
    display.DownloadFile1Start();
    EXPECT_EQ(cell(L::Left), "00:00:00");
    EXPECT_EQ(cell(L::Status), "Downloading... ");
    EXPECT_EQ(state.WaitSpan, 0);
    EXPECT_EQ(state.PhaseStart, clock.timeOfDay());
    EXPECT_TRUE(elpsTimer.enabled());
    EXPECT_TRUE(estTimer.enabled());
    EXPECT_EQ(component.Tag, 1);
}

TEST_F(ProgressDisplayTest, SizesAndShareDoneInTheRowAndStatusBar) {
    struct Case {
        std::uint32_t r, t;
        const char *total, *received, *progress;
    };
    for (const Case& c : {
             Case{45, 100, "0.10 MB", "0.04 MB", "45.00 %"},
             Case{1536, 5120, "5.00 MB", "1.50 MB", "30.00 %"},
             Case{128, 128, "0.13 MB", "0.13 MB", "99.00 %"}, // at R = T never 100
             Case{5120, 5120, "5.00 MB", "5.00 MB", "99.00 %"},
             // Far past what 32-bit products hold (about 41 GiB).
             Case{3000000001u, 4000000000u, "3906250.00 MB", "2929687.50 MB", "75.00 %"},
         }) {
        SCOPED_TRACE(c.progress);
        display.DownloadFile1Progress(c.r, c.t);
        EXPECT_EQ(cell(L::Total), c.total);
        EXPECT_EQ(cell(L::Downloaded), c.received);
        EXPECT_EQ(cell(L::Progress), c.progress);
        EXPECT_EQ(display.ProgressTotal(), c.t + 2);
        EXPECT_EQ(display.ProgressReceived(), c.r + 1);
        EXPECT_EQ(statusBar.text(0), "Downloading...");
        EXPECT_EQ(statusBar.text(1), c.progress);
        EXPECT_EQ(statusBar.text(2), " name.zip");
        EXPECT_EQ(statusBar.width(0), 140);
        EXPECT_EQ(statusBar.width(2), 90);
        EXPECT_EQ(statusBar.width(1), 50);
    }
    // A file of that name was already there: the one saved beside it is what the user sees.
    component.SavingPath = "/dl/name (1).zip";
    display.DownloadFile1Progress(1, 2);
    EXPECT_EQ(statusBar.text(2), " name (1).zip");
}

TEST_F(ProgressDisplayTest, UnknownSizeShowsNoShareEstimateOrTimeLeft) {
    display.DownloadFile1Start();
    seconds(3);
    display.DownloadFile1Progress(0, 0);
    EXPECT_EQ(cell(L::Total), "0.00 MB");
    EXPECT_EQ(cell(L::Progress), "");
    display.DownloadFile1Progress(100, 0);
    EXPECT_EQ(cell(L::Downloaded), "0.10 MB");
    EXPECT_EQ(cell(L::Progress), "");
    EXPECT_EQ(cell(L::Estimated), "");
    EXPECT_EQ(cell(L::Speed), "33Kb/s");
    EXPECT_EQ(statusBar.text(1), "");
    elpsTimer.tick();
    EXPECT_EQ(cell(L::Left), "");
    // Once the size is known, everything shows.
    display.DownloadFile1Progress(100, 200);
    EXPECT_EQ(cell(L::Progress), "50.00 %");
    EXPECT_EQ(cell(L::Estimated), "00:00:06");
    elpsTimer.tick();
    EXPECT_EQ(cell(L::Left), "00:00:03");
}

TEST_F(ProgressDisplayTest, SpeedAndEstimateWaitForTwoCountedSeconds) {
    display.DownloadFile1Start();
    seconds(1);
    display.DownloadFile1Progress(20, 100);
    EXPECT_EQ(cell(L::Speed), "");
    EXPECT_EQ(cell(L::Estimated), "");
    seconds(2);
    display.DownloadFile1Progress(20, 100); // 21 KiB over 3 s; 102 * 3 div 21 = 14 s
    EXPECT_EQ(cell(L::Speed), "07Kb/s");
    EXPECT_EQ(cell(L::Estimated), "00:00:14");
    EXPECT_EQ(display.EstimateText(), "0:0:14");
    EXPECT_DOUBLE_EQ(display.EstimatedTime(), 14 / 86400.0);
    display.DownloadFile1Progress(458, 1000);
    EXPECT_EQ(cell(L::Speed), "153Kb/s");
}

TEST_F(ProgressDisplayTest, AResumedTransferCountsOnlyThisAttemptForSpeedAndTime) {
    // 600 of 1000 KiB came in an earlier attempt; this one brought 20 KiB in 4 s.
    component.ResumedFrom = 600 << 10;
    display.DownloadFile1Start();
    seconds(4);
    display.DownloadFile1Progress(620, 1000);
    EXPECT_EQ(cell(L::Downloaded), "0.61 MB");
    EXPECT_EQ(cell(L::Progress), "61.00 %");
    EXPECT_EQ(cell(L::Speed), "05Kb/s");       // 21 KiB in 4 s, not 621
    EXPECT_EQ(cell(L::Estimated), "00:01:16"); // 402 KiB at that pace: 402 * 4 div 21 s
    elpsTimer.tick();
    EXPECT_EQ(cell(L::Left), "00:01:12");
}

TEST_F(ProgressDisplayTest, LeftCountsDownThenUpAndStartsFromThePreviousEstimate) {
    display.DownloadFile1Start();
    seconds(3);
    display.DownloadFile1Progress(20, 100); // estimate 14 s
    elpsTimer.tick();
    EXPECT_EQ(cell(L::Left), "00:00:11");
    clock.advanceSeconds(21); // 24 s elapsed: 10 s past the estimate
    elpsTimer.tick();
    EXPECT_EQ(cell(L::Left), "00:00:10");
    EXPECT_LT(display.LeftTime(), 0);

    // The next transfer shows the old estimate minus its own time until it has one.
    state.TransferSeconds = 0;
    display.DownloadFile1Start();
    clock.advanceSeconds(1);
    elpsTimer.tick();
    EXPECT_EQ(cell(L::Left), "00:00:13");
}

TEST_F(ProgressDisplayTest, LeftPastMidnightShowsOnlyThePartBelowADay) {
    clock.setTime(23, 59, 55);
    display.DownloadFile1Start();
    seconds(3);
    display.DownloadFile1Progress(20, 100); // estimate 14 s
    clock.setTime(0, 0, 5);                 // 10 s elapsed
    elpsTimer.tick();
    EXPECT_EQ(cell(L::Left), "00:00:04");
    clock.setTime(0, 0, 19); // 10 s past the estimate: one day minus the overrun
    elpsTimer.tick();
    EXPECT_EQ(cell(L::Left), "23:59:50");
}

TEST_F(ProgressDisplayTest, EstimatesOfADayOrMoreShowTheirFullHours) {
    display.DownloadFile1Start();
    seconds(2);
    display.DownloadFile1Progress(0, 49998); // 50000 * 2 div 1 = 100000 s
    EXPECT_EQ(cell(L::Estimated), "27:46:40");
    EXPECT_EQ(display.EstimateText(), "27:46:40");
    EXPECT_DOUBLE_EQ(display.EstimatedTime(), 100000 / 86400.0);
    elpsTimer.tick();
    EXPECT_EQ(cell(L::Left), "27:46:38");
    // Absurd sizes at a crawl: far beyond 32-bit seconds, and still no failure.
    seconds(1);
    display.DownloadFile1Progress(0, 4294967000u);
    EXPECT_EQ(cell(L::Estimated), "3579139:10:06");
    // Faster again: back to a time of day.
    display.DownloadFile1Progress(3000, 4000); // 4002 * 3 div 3001 = 4 s, 3 s gone
    EXPECT_EQ(cell(L::Estimated), "00:00:04");
    elpsTimer.tick();
    EXPECT_EQ(cell(L::Left), "00:00:01");
}

TEST_F(ProgressDisplayTest, MinimisedTitleMirrorsTheStatusBar) {
    display.ApplicationEvents1Minimize(); // nothing in panel 0: no mirror
    EXPECT_FALSE(stbarTimer.enabled());
    EXPECT_EQ(title.text(), " Torvaline V.1.2.2");
    display.DownloadFile1Progress(45, 100);
    EXPECT_FALSE(stbarTimer.tick());

    display.ApplicationEvents1Restore();
    display.ApplicationEvents1Minimize();
    EXPECT_TRUE(stbarTimer.enabled());
    EXPECT_TRUE(stbarTimer.tick());
    EXPECT_EQ(title.text(), "Downloading... 45.00 %  name.zip");
    statusBar.clear(); // the transfer ends while minimised
    stbarTimer.tick();
    EXPECT_EQ(title.text(), "  ");
    display.ApplicationEvents1Restore();
    EXPECT_FALSE(stbarTimer.enabled());
    EXPECT_EQ(title.text(), " Torvaline V.1.2.2");
}

TEST_F(ProgressDisplayTest, TheUsersDecimalSeparatorIsUsed) {
    ProgressDisplay comma{
        {list, statusBar, title, state, clock, elpsTimer, estTimer, stbarTimer, component, ','}};
    comma.DownloadFile1Progress(1536, 5120);
    EXPECT_EQ(cell(L::Total), "5,00 MB");
    EXPECT_EQ(cell(L::Downloaded), "1,50 MB");
    EXPECT_EQ(cell(L::Progress), "30,00 %");
}

} // namespace
} // namespace torvaline
