#include "CycleFixture.h"
#include "doubles/RecordingRowEvents.h"

#include <vector>

namespace torvaline::test {
namespace {

class PauseResume : public CycleFixture {
protected:
    RecordingRowEvents events;

    void SetUp() override {
        CycleFixture::SetUp();
        cycle.setRowEvents(&events);
        addRows(2);
        cycle.StartDownload1Click();
    }
    RowPhase lastPhase() const { return events.phases.back().phase; }
    // What the buttons would show.
    std::pair<bool, bool> buttons() const { return {cycle.canPause(), cycle.canResume()}; }
    void countdownToTransfer() {
        loadCountdownPage(2, "http://files/a.zip", "a.zip");
        seconds(2);
        transferStarts();
    }
    // The finish of a transfer that Pause (or Stop) asked to end, keeping what it brought.
    void cancelledKeeping(const std::string& path) {
        TransferResult r{TransferOutcome::Cancelled, "cancelled"};
        r.partial = PartialFile{path, 4096 * 3, 100000, "\"v1\""};
        transferEnds(r);
    }
};

TEST_F(PauseResume, PauseKeepsTheTransfersFileAndResumeContinuesItThroughThePages) {
    EXPECT_EQ(buttons(), std::make_pair(true, false)); // opening the row's page
    countdownToTransfer();
    EXPECT_EQ(buttons(), std::make_pair(true, false));
    ASSERT_TRUE(cycle.pause());
    EXPECT_TRUE(component.pauseRequested);
    EXPECT_TRUE(component.cancelRequested);
    // Until the transfer has stopped neither applies: a second press does nothing.
    EXPECT_EQ(buttons(), std::make_pair(false, false));
    EXPECT_FALSE(cycle.pause());
    cancelledKeeping("/dl/.a.zip.part");
    EXPECT_EQ(status(1), "Paused");
    EXPECT_EQ(lastPhase(), RowPhase::Paused);
    EXPECT_EQ(state.CurrentRow, 1); // the list does not go on without it
    EXPECT_TRUE(component.discarded.empty());
    EXPECT_EQ(cycle.keptPartials().size(), 1u); // a crash now still leaves it to continue
    EXPECT_EQ(buttons(), std::make_pair(false, true));

    const std::size_t opened = browser.navigations.size();
    ASSERT_TRUE(cycle.resume());
    EXPECT_FALSE(cycle.resume());
    // The link that was cut may have expired: the row's pages again, then the kept file.
    ASSERT_EQ(browser.navigations.size(), opened + 1);
    EXPECT_EQ(browser.navigations.back(), "http://host/1");
    EXPECT_NE(status(1), "Paused");
    EXPECT_EQ(buttons(), std::make_pair(true, false));
    countdownToTransfer();
    EXPECT_EQ(component.Resume.path, "/dl/.a.zip.part");
    EXPECT_EQ(component.Resume.validator, "\"v1\"");
    EXPECT_EQ(component.jobs.size(), 2u);
    transferEnds();
    EXPECT_EQ(status(1), "Completed");
    EXPECT_TRUE(component.discarded.empty());
    EXPECT_EQ(state.CurrentRow, 2);
}

TEST_F(PauseResume, PauseHoldsACountdownOrAWaitWithItsTimeLeft) {
    struct Case {
        const char* name;
        bool countdown;
        int span; // seconds
    };
    for (const Case c : {Case{"countdown", true, 30}, Case{"hoster wait", false, 120}}) {
        SCOPED_TRACE(c.name);
        // Each case works on the row the list has reached.
        const int row = state.CurrentRow;
        const std::size_t jobs = component.jobs.size();
        if (c.countdown)
            loadCountdownPage(c.span, "http://files/a.zip", "a.zip");
        else
            loadWaitPage(c.span / 60);
        ManualTimer& timer = c.countdown ? timer1 : timer2;
        seconds(10);
        ASSERT_TRUE(cycle.pause());
        EXPECT_FALSE(timer.enabled());
        EXPECT_EQ(status(row), "Paused");
        EXPECT_EQ(lastPhase(), RowPhase::Paused);
        EXPECT_EQ(buttons(), std::make_pair(false, true));
        // An hour held: nothing runs out, nothing is fetched.
        const std::size_t opened = browser.navigations.size();
        seconds(3600);
        EXPECT_EQ(browser.navigations.size(), opened);
        EXPECT_EQ(component.jobs.size(), jobs);

        ASSERT_TRUE(cycle.resume());
        EXPECT_TRUE(timer.enabled());
        EXPECT_EQ(status(row), "Waiting...");
        EXPECT_EQ(events.phases.back().secondsLeft, c.span - 10);
        EXPECT_EQ(lastPhase(), c.countdown ? RowPhase::Countdown : RowPhase::HosterWait);
        seconds(c.span - 11);
        EXPECT_TRUE(timer.enabled()); // one second still to go
        second();
        if (c.countdown) {
            ASSERT_EQ(component.jobs.size(), jobs + 1);
            EXPECT_EQ(component.jobs.back().url, "http://files/a.zip");
            transferStarts();
            transferEnds();
            EXPECT_EQ(status(row), "Completed");
        } else {
            EXPECT_EQ(browser.navigations.size(), opened + 1); // the page again, as after a wait
        }
    }
}

TEST_F(PauseResume, StopWhilePausedRemovesTheFileAndNothingAppliesAfterTheList) {
    countdownToTransfer();
    ASSERT_TRUE(cycle.pause());
    cancelledKeeping("/dl/.a.zip.part");
    cycle.StopDownExecute();
    EXPECT_EQ(status(1), "Stopped");
    EXPECT_EQ(lastPhase(), RowPhase::Stopped);
    EXPECT_EQ(component.discarded, std::vector<std::string>{"/dl/.a.zip.part"});
    EXPECT_TRUE(cycle.keptPartials().empty());
    EXPECT_EQ(buttons(), std::make_pair(false, false));
    EXPECT_FALSE(cycle.resume());

    // Stop while the pause is still on its way: the stop wins, and the file goes.
    cycle.StartDownload1Click();
    countdownToTransfer();
    ASSERT_TRUE(cycle.pause());
    cycle.StopDownExecute();
    cancelledKeeping("/dl/.a.zip.part2");
    EXPECT_NE(status(1), "Paused");
    EXPECT_EQ(component.discarded.back(), "/dl/.a.zip.part2");
    EXPECT_FALSE(cycle.canResume());

    // A transfer that finished before the pause reached it is simply done.
    countdownToTransfer();
    ASSERT_TRUE(cycle.pause());
    cycle.DownloadFile1Finish(false, TransferResult{TransferOutcome::Succeeded, ""});
    component.busy = false;
    EXPECT_EQ(status(2), "Completed");
    // The end of the list: nothing is being worked on.
    EXPECT_EQ(buttons(), std::make_pair(false, false));
    EXPECT_FALSE(cycle.pause());
}

} // namespace
} // namespace torvaline::test
