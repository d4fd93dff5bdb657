#include "CycleFixture.h"
#include "cycle/ListRecovery.h"
#include "cycle/RecoveryFormat.h"
#include "doubles/FakeDialogs.h"
#include "doubles/FakeRecoveryStore.h"

#include <vector>

namespace torvaline::test {
namespace {

using Cycle = CycleFixture;

TEST_F(Cycle, TwoRowsWithAWaitRunToTheEndOfTheList) {
    addRows(2);
    cycle.StartDownload1Click();
    ASSERT_EQ(browser.navigations, std::vector<std::string>{"http://host/1"});
    EXPECT_EQ(pageClears, 1);
    EXPECT_EQ(status(1), "Waiting..."); // opening writes nothing

    loadWaitPage(2);
    EXPECT_FALSE(state.PageHandled); // cleared after every capture
    second();
    EXPECT_EQ(bar.text(0), "Wait ");
    EXPECT_EQ(bar.width(0), 50);
    EXPECT_EQ(bar.text(1), "00:01:59");
    EXPECT_EQ(bar.text(2), " For the Next Download");
    EXPECT_EQ(bar.width(2), 220);
    seconds(118);
    EXPECT_EQ(browser.navigations.size(), 1u);
    second();
    EXPECT_EQ(browser.navigations, (std::vector<std::string>{"http://host/1", "http://host/1"}));
    EXPECT_FALSE(timer2.enabled());
    EXPECT_EQ(bar.text(0) + bar.text(1) + bar.text(2), "");

    loadCountdownPage(3, "http://files/a.zip", "a.zip");
    second();
    EXPECT_EQ(bar.text(0), "Download will start in ");
    EXPECT_EQ(bar.width(0), 115);
    EXPECT_EQ(bar.text(1), "00:00:02");
    EXPECT_EQ(state.SaveFolder, "/dl");
    seconds(2);
    ASSERT_EQ(component.jobs.size(), 1u);
    EXPECT_EQ(component.jobs[0].url, "http://files/a.zip");
    EXPECT_EQ(component.jobs[0].fileName, "/dl/a.zip");
    EXPECT_FALSE(timer1.enabled());
    EXPECT_EQ(bar.text(0) + bar.text(1) + bar.text(2), "");

    transferStarts();
    state.TransferSeconds = 9;
    transferEnds();
    EXPECT_EQ(list.row(1)[DownloadList::Status], "Completed");
    for (int c = DownloadList::Speed; c <= DownloadList::Estimated; ++c)
        EXPECT_EQ(list.cell(1, c), "") << "column " << c;
    EXPECT_FALSE(elpsTimer.enabled());
    EXPECT_FALSE(estTimer.enabled());
    EXPECT_EQ(state.CurrentRow, 2);
    EXPECT_EQ(state.TransferSeconds, 0);
    EXPECT_EQ(component.Tag, 0);
    EXPECT_EQ(browser.navigations.back(), "http://host/2");

    runRow("b.zip");
    EXPECT_EQ(status(2), "Completed");
    EXPECT_EQ(state.CurrentRow, 2);
    EXPECT_EQ(component.Tag, 1); // the list is done
    EXPECT_EQ(bar.text(0), " List done - 2 completed, 0 failed, 0 stopped ");
    EXPECT_EQ(bar.width(0), StatusBar::widthFor(bar.text(0))); // the whole text shows
    EXPECT_EQ(shutdownChecks, 1);
    EXPECT_EQ(browser.navigations.size(), 3u);

    // Start after the end goes on with a row added below the last one done.
    addRows(1);
    cycle.StartDownload1Click();
    EXPECT_EQ(browser.navigations.size(), 4u);
    EXPECT_EQ(browser.navigations.back(), "http://host/3");
    EXPECT_EQ(state.CurrentRow, 3);
    EXPECT_EQ(shutdownChecks, 1);
}

// Remaining time of a countdown when its tick comes: what panel 1 shows, whether the
// countdown ends at that tick, and otherwise the early tick it asks for. A hoster that checks
// the time refuses a fetch that comes before its whole span (and a margin) has passed since
// its page came, even when the panel already reads 00:00:00.
TEST_F(Cycle, CountdownEndsOnlyAfterItsWholeSpanEvenIfTheTickIsLateOrThePanelReadsZero) {
    struct Case {
        double secondsAfterEnd;
        const char* text;
        bool ends;
        int earlyMs; // the early tick asked for; 0: none
    };
    const std::vector<Case> cases{
        {-1.6, "00:00:01", false, 0},  {-1.2, "00:00:01", false, 0}, {-0.6, "00:00:00", false, 850},
        {0.0, "00:00:00", false, 250}, {0.2, "00:00:00", false, 50}, {0.4, "00:00:00", true, 0},
        {1.2, "00:00:01", true, 0},    {7.0, "00:00:07", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.secondsAfterEnd);
        component = FakeDownloadComponent{};
        addRows(1);
        state.CurrentRow = list.rowCount() - 1;
        loadCountdownPage(10, "http://files/f", "f");
        const double pageCame = clock.timeOfDay();
        clock.advanceSeconds(10 + c.secondsAfterEnd);
        timer1.tick();
        EXPECT_EQ(state.RemainingText, c.text);
        EXPECT_EQ(timer1.enabled(), !c.ends);
        EXPECT_EQ(component.jobs.size(), c.ends ? 1u : 0u);
        EXPECT_EQ(timer1.early().value_or(std::chrono::milliseconds(0)).count(), c.earlyMs);
        if (!c.ends) {
            EXPECT_EQ(bar.text(1), c.text);
        }
        if (c.earlyMs > 0) {
            clock.advanceSeconds(c.earlyMs / 1000.0);
            EXPECT_TRUE(timer1.tickEarly());
            EXPECT_EQ(component.jobs.size(), 1u) << "the early tick ends the countdown";
            EXPECT_GE((clock.timeOfDay() - pageCame) * DayLengthSeconds, 10.25 - 1e-6);
        }
        timer1.setEnabled(false);
    }
}

TEST_F(Cycle, WaitAcrossMidnightCountsDownAndEndsOnTime) {
    addRows(1);
    cycle.StartDownload1Click();
    clock.setTime(23, 59, 30);
    loadWaitPage(2);
    seconds(40); // 00:00:10
    EXPECT_EQ(bar.text(1), "00:01:20");
    EXPECT_TRUE(timer2.enabled());
    seconds(79);
    EXPECT_EQ(bar.text(1), "00:00:01");
    second(); // 00:01:30
    EXPECT_FALSE(timer2.enabled());
    EXPECT_EQ(browser.navigations.size(), 2u);
}

TEST_F(Cycle, StartDuringAWaitReopensTheLinkAndLeavesTheTimerRunning) {
    addRows(1);
    cycle.StartDownload1Click();
    loadWaitPage(1);
    seconds(10);
    cycle.StartDownload1Click();
    EXPECT_EQ(browser.navigations.size(), 2u);
    EXPECT_TRUE(timer2.enabled());
    EXPECT_EQ(timer2.starts(), 1);
    seconds(50); // the old wait still reaches its end and opens the link once more
    EXPECT_FALSE(timer2.enabled());
    EXPECT_EQ(browser.navigations.size(), 3u);
}

TEST_F(Cycle, StartDuringATransferOpensNothingAndChecksNothing) {
    addRows(2);
    cycle.StartDownload1Click();
    loadCountdownPage(1, "http://files/a", "a");
    second();
    transferStarts();
    cycle.StartDownload1Click();
    EXPECT_EQ(browser.navigations.size(), 1u);
    EXPECT_EQ(shutdownChecks, 0);
}

TEST_F(Cycle, StopDuringACountdownThenStartCompletesTheRow) {
    addRows(1);
    cycle.StartDownload1Click();
    loadCountdownPage(30, "http://files/a", "a");
    seconds(5);
    cycle.StopDownExecute();
    EXPECT_EQ(status(1), "Stopped");
    EXPECT_FALSE(timer1.enabled());
    EXPECT_EQ(bar.text(0), "");
    EXPECT_EQ(browser.stops, 1);
    EXPECT_EQ(component.refusedStops, 1); // nothing was running
    seconds(60);
    EXPECT_TRUE(component.jobs.empty());

    cycle.StartDownload1Click();
    EXPECT_FALSE(state.StopRequested);
    runRow("a");
    EXPECT_EQ(status(1), "Completed");
}

TEST_F(Cycle, StopDuringTheFirstOfTwoTransfersGoesOnWithTheSecond) {
    addRows(2);
    cycle.StartDownload1Click();
    loadCountdownPage(1, "http://files/a", "a");
    second();
    transferStarts();
    cycle.StopDownExecute();
    EXPECT_TRUE(component.cancelRequested);
    EXPECT_EQ(component.Tag, 1); // untouched until the finish event
    transferEnds();
    EXPECT_EQ(status(1), "Stopped");
    EXPECT_EQ(list.cell(1, DownloadList::Speed), "");
    EXPECT_EQ(browser.navigations.back(), "http://host/2");
    runRow("b");
    EXPECT_EQ(status(2), "Completed");
    EXPECT_EQ(shutdownChecks, 1);
}

TEST_F(Cycle, DeletingARowAboveTheCurrentOneShiftsWhereTheStatusLands) {
    addRows(3);
    cycle.StartDownload1Click();
    runRow("a");
    loadCountdownPage(1, "http://files/b", "b");
    second();
    transferStarts();
    // Row 1 deleted: rows are addressed by index, so row 2 is now the third link.
    list.setRow(1, list.row(2));
    list.setRow(2, list.row(3));
    list.setRowCount(3);
    transferEnds();
    EXPECT_EQ(list.cell(2, DownloadList::URL), "http://host/3");
    EXPECT_EQ(status(2), "Completed");
    EXPECT_EQ(shutdownChecks, 1); // row 2 is now the last row
}

TEST_F(Cycle, RowsDeletedDuringTheLastTransferLeaveTheCycleWhereItIs) {
    addRows(2);
    cycle.StartDownload1Click();
    runRow("a");
    loadCountdownPage(1, "http://files/b", "b");
    second();
    transferStarts();
    list.setRowCount(1);
    const auto navigations = browser.navigations.size();
    transferEnds();
    EXPECT_EQ(state.CurrentRow, 2);
    EXPECT_EQ(component.Tag, 1);
    EXPECT_EQ(shutdownChecks, 0);
    EXPECT_EQ(browser.navigations.size(), navigations);
}

// A finished row stays finished: a Stop after the end (the daemon's SIGTERM, the window's Stop)
// once wrote "Stopped" over "Completed", and a restart fetched the file again; Start after
// that must fetch nothing either, even when the row done last is gone from the list.
TEST_F(Cycle, StopAfterTheListIsDoneKeepsTheCompletedRowsAndStartFetchesNoneAgain) {
    addRows(2);
    cycle.StartDownload1Click();
    runRow("a");
    runRow("b");
    ASSERT_EQ(status(2), "Completed");
    const auto navigations = browser.navigations.size();
    cycle.StopDownExecute();
    EXPECT_EQ(status(1), "Completed");
    EXPECT_EQ(status(2), "Completed");
    EXPECT_EQ(component.Tag, 1);
    EXPECT_EQ(state.CurrentRow, 2);
    cycle.StartDownload1Click();
    EXPECT_EQ(browser.navigations.size(), navigations);
    EXPECT_EQ(bar.text(0), DownloadCycle::NothingLeftText);
    // The row done last goes: Start must not go round the list from its first row.
    list.removeRow(2);
    cycle.StartDownload1Click();
    EXPECT_EQ(browser.navigations.size(), navigations);
    EXPECT_EQ(status(1), "Completed");
}

// Inside the last transfer's finish the component still reads busy: the end of the list must
// not leave Pause on as if a transfer were running.
TEST_F(Cycle, NothingCanBePausedOnceTheLastTransferHasFinished) {
    addRows(1);
    cycle.StartDownload1Click();
    loadCountdownPage(1, "http://files/a", "a");
    second();
    ASSERT_TRUE(component.busy);
    transferStarts();
    EXPECT_TRUE(cycle.canPause());
    bool pausableAtTheEnd = true;
    struct Watch final : RowEvents {
        std::function<void()> onDone;
        void rowsAdded(int, std::span<const RowRef>) override {}
        void rowsRemoved(int, std::span<const RowRef>) override {}
        void rowMoved(std::uint64_t, int, int) override {}
        void rowPhase(const RowPhaseEvent&) override {}
        void rowProgress(const RowProgressEvent&) override {}
        void listDone(int, int, int) override { onDone(); }
    } watch;
    watch.onDone = [&] { pausableAtTheEnd = cycle.canPause() || !cycle.atRest(); };
    cycle.setRowEvents(&watch);
    cycle.DownloadFile1Finish(false, TransferResult{TransferOutcome::Succeeded, ""});
    component.busy = false;
    EXPECT_EQ(status(1), "Completed");
    EXPECT_FALSE(pausableAtTheEnd);
    cycle.setRowEvents(nullptr);
}

TEST_F(Cycle, TargetPathJoinsFolderAndNameWithTheSeparatorAsTheyAre) {
    addRows(1);
    folder.setText("/dl/");
    cycle.StartDownload1Click();
    loadCountdownPage(1, "http://files/a.zip", "a.zip");
    second();
    ASSERT_EQ(component.jobs.size(), 1u);
    EXPECT_EQ(component.jobs[0].fileName, "/dl//a.zip");
}

// A row's own request options go with its pages and its transfer, scoped to its link, and
// with no other row's: the next row must not carry the last one's cookie.
TEST_F(Cycle, ARowsRequestOptionsGoWithItsPagesAndTransferAlone) {
    addRows(3);
    RequestOptions asked;
    asked.headers = {"Cookie: login=abc"};
    asked.userAgent = "UA/1";
    cycle.setRequestOptions(list.id(2), asked);
    cycle.StartDownload1Click();
    runRow("a.zip");
    runRow("b.zip");
    runRow("c.zip");
    ASSERT_EQ(browser.navigatedWith.size(), 3u);
    ASSERT_EQ(component.jobs.size(), 3u);
    RequestOptions scoped = asked;
    scoped.scope = "http://host/2";
    EXPECT_EQ(browser.navigatedWith[0], RequestOptions{});
    EXPECT_EQ(browser.navigatedWith[1], scoped);
    EXPECT_EQ(browser.navigatedWith[2], RequestOptions{});
    EXPECT_EQ(component.jobs[0].request, RequestOptions{});
    EXPECT_EQ(component.jobs[1].request, scoped);
    EXPECT_EQ(component.jobs[2].request, RequestOptions{});
    EXPECT_EQ(cycle.requestOptions(list.id(2)), asked);
}

// What the commands gave a row (a hold, its own folder and name, its request options) stays
// with that row wherever it is moved: its transfer, the recovery file and a restore all find
// it there, and it leaves the list with the row. A held row reads "Paused" throughout.
TEST_F(Cycle, WhatARowWasGivenMovesWithItAndLeavesWithIt) {
    addRows(4);
    const std::uint64_t plain = list.id(1), held = list.id(2), placed = list.id(3),
                        gone = list.id(4);
    RequestOptions asked;
    asked.headers = {"Cookie: login=abc"};
    cycle.setPlacement(placed, "/elsewhere", "named.bin");
    cycle.setRequestOptions(placed, asked);
    cycle.setPlacement(gone, "/x", "");
    ASSERT_TRUE(cycle.holdRow(held));
    // Stop on a list at rest leaves a held row as it stands: paused, not stopped.
    ASSERT_TRUE(cycle.holdRow(plain));
    cycle.StopDownExecute();
    EXPECT_EQ(status(1), "Paused");
    ASSERT_TRUE(cycle.releaseRow(plain));
    list.moveRow(3, 1);  // placed, plain, held, gone
    list.swapRows(2, 3); // placed, held, plain, gone
    EXPECT_TRUE(cycle.isHeldRow(held));
    EXPECT_FALSE(cycle.isHeldRow(plain));
    EXPECT_EQ(cycle.placement(placed),
              (std::pair<std::string, std::string>{"/elsewhere", "named.bin"}));

    FakeRecoveryStore store;
    ManualTimer recoveryTimer;
    ListRecovery recovery{list, store, recoveryTimer};
    recovery.bindCycle(cycle, folder);
    const RecoveryFormat::Decoded kept = RecoveryFormat::decode(recovery.encodeList());
    ASSERT_TRUE(kept.ok) << kept.problem;
    ASSERT_EQ(kept.rows.size(), 4u);
    EXPECT_EQ(kept.rows[0].dir, "/elsewhere");
    EXPECT_EQ(kept.rows[0].out, "named.bin");
    EXPECT_EQ(kept.rows[1].dir + kept.rows[2].dir + kept.rows[2].out, "");
    EXPECT_EQ(kept.rows[3].dir, "/x");

    cycle.removeRow(4);
    EXPECT_EQ(cycle.placement(gone), (std::pair<std::string, std::string>{}));
    cycle.StartDownload1Click();
    runRow("a.zip");
    runRow("b.zip"); // the held row is passed over
    ASSERT_EQ(component.jobs.size(), 2u);
    EXPECT_EQ(component.jobs[0].fileName, "/elsewhere/named.bin");
    EXPECT_EQ(component.jobs[0].request.headers, asked.headers);
    EXPECT_EQ(component.jobs[0].request.scope, "http://host/3");
    EXPECT_EQ(component.jobs[1].fileName, "/dl/b.zip");
    EXPECT_EQ(component.jobs[1].request, RequestOptions{});
    EXPECT_EQ(status(2), "Paused");
    ASSERT_TRUE(cycle.releaseRow(held));
    EXPECT_FALSE(cycle.releaseRow(held));
    ASSERT_TRUE(cycle.startAt(1));
    EXPECT_EQ(state.CurrentRow, 2);

    // A restore puts the placement on the row that comes back.
    const std::string copy = RecoveryFormat::encode(kept.rows);
    list.setRowCount(1);
    store.copy = copy;
    FakeDialogs dialogs;
    dialogs.answers = {Answer::Yes};
    recovery.offerRestore(dialogs);
    ASSERT_EQ(list.rowCount(), 5);
    EXPECT_EQ(cycle.placement(list.id(1)),
              (std::pair<std::string, std::string>{"/elsewhere", "named.bin"}));
    EXPECT_EQ(cycle.requestOptions(list.id(1)), RequestOptions{});
}

TEST_F(Cycle, BrowserEventsOtherThanDocumentsChangeNothing) {
    addRows(1);
    cycle.StartDownload1Click();
    EXPECT_TRUE(browser.askNewWindow("http://ads/popup"));
    EXPECT_EQ(browser.navigations.size(), 1u);
    // On the last row, before its transfer: must not reach the shutdown check.
    cycle.WebBrowser1DownloadComplete();
    EXPECT_EQ(shutdownChecks, 0);
}

TEST_F(Cycle, EmptyListOpensAnEmptyLink) {
    cycle.StartDownload1Click();
    EXPECT_EQ(browser.navigations, std::vector<std::string>{""});
}

TEST_F(Cycle, FileErrorFailsTheRowWithTheMessageAndGoesOn) {
    addRows(2);
    cycle.StartDownload1Click();
    loadFileErrorPage();
    EXPECT_EQ(bar.text(0), " Error - Please check the download link ");
    EXPECT_EQ(bar.width(0), 400);
    EXPECT_EQ(status(1), "Failed");
    EXPECT_NE(list.note(1).find("the hoster reports the file missing or blocked"),
              std::string::npos);
    EXPECT_EQ(state.CurrentRow, 2);
    EXPECT_EQ(browser.navigations.back(), "http://host/2");
    EXPECT_EQ(browser.stops, 0);
}

TEST_F(Cycle, FileErrorOnAnEmptyListRestartsAndEndsThePageRules) {
    cycle.StartDownload1Click();
    bool handledAfter = false;
    nextPage = [&] {
        cycle.DeleteURLError();
        handledAfter = state.PageHandled;
    };
    browser.completeDocument();
    EXPECT_TRUE(handledAfter);
    EXPECT_EQ(browser.stops, 1);
    EXPECT_EQ(component.refusedStops, 1);
    EXPECT_EQ(browser.navigations.size(), 2u);
}

TEST_F(Cycle, PageThatCannotBeLoadedSaysWhyInTheStatusBar) {
    addRows(1);
    cycle.StartDownload1Click();
    browser.completeDocument("http://host/1", "Could not connect to host");
    EXPECT_EQ(captures, 1);
    EXPECT_TRUE(sawPanel0(" Page not loaded - Could not connect to host "));
    EXPECT_EQ(bar.text(0), DownloadCycle::listDoneText(0, 1, 0)); // then the end of the list
    EXPECT_EQ(browser.navigations.size(), 1u);
    EXPECT_EQ(status(1), "Failed");
    EXPECT_EQ(component.Tag, 1); // the last row: the list is done
    EXPECT_EQ(shutdownChecks, 1);
}

TEST_F(Cycle, UnreadableDocumentFailsTheRowInsteadOfEndingTheProgram) {
    addRows(1);
    cycle.StartDownload1Click();
    state.PageHandled = true;
    nextPage = [] { throw torvaline::DomError("no document"); };
    EXPECT_NO_THROW(browser.completeDocument());
    EXPECT_FALSE(state.PageHandled);
    EXPECT_TRUE(sawPanel0(" Page not read - no document "));
    EXPECT_EQ(browser.navigations.size(), 1u);
    EXPECT_EQ(status(1), "Failed");
}

TEST_F(Cycle, FailedTransferIsMarkedFailedAndTheCycleGoesOn) {
    addRows(2);
    cycle.StartDownload1Click();
    runRow("a", 1, TransferOutcome::Failed);
    EXPECT_EQ(status(1), "Failed");
    EXPECT_EQ(bar.text(0), " Download failed - HTTP 503 ");
    EXPECT_EQ(browser.navigations.back(), "http://host/2");
    runRow("b", 1, TransferOutcome::Failed);
    EXPECT_EQ(status(2), "Failed");
    EXPECT_EQ(shutdownChecks, 1);
}

TEST_F(Cycle, StoppedWinsOverAFailure) {
    addRows(1);
    cycle.StartDownload1Click();
    loadCountdownPage(1, "http://files/a", "a");
    second();
    transferStarts();
    cycle.StopDownExecute();
    cycle.DownloadFile1Finish(false, TransferResult{TransferOutcome::Failed, "write error"});
    EXPECT_EQ(status(1), "Stopped");
    EXPECT_EQ(bar.text(0), DownloadCycle::listDoneText(0, 0, 1)); // not the failure
}

TEST_F(Cycle, UnusableFileNamesFailTheRowWithoutATransfer) {
    const std::vector<std::string> names{
        "", ".", "..", "../etc/passwd", "a/b", "a\\b", "a\nb", "a\x7f", "a\rb",
        std::string(256, 'n'),
        // Text-direction controls make "photo<RLO>gpj.exe" show as "photoexe.jpg".
        "photo\xE2\x80\xAE"
        "gpj.exe",
        "a\xE2\x81\xA6"
        "b",
        "a\xD8\x9C"
        "b"};
    addRows(static_cast<int>(names.size()) + 1);
    cycle.StartDownload1Click();
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(i);
        const int row = state.CurrentRow;
        loadCountdownPage(1, "http://files/x", names[i]);
        second();
        EXPECT_TRUE(component.jobs.empty());
        EXPECT_EQ(status(row), "Failed");
        EXPECT_NE(bar.text(0).find(" Download failed - the "), std::string::npos);
        EXPECT_EQ(state.CurrentRow, row + 1);
        EXPECT_EQ(browser.navigations.back(), "http://host/" + std::to_string(row + 1));
    }
    // The longest name a file system takes is fine.
    runRow(std::string(255, 'n'));
    ASSERT_EQ(component.jobs.size(), 1u);
    EXPECT_EQ(component.jobs[0].fileName, "/dl/" + std::string(255, 'n'));
    EXPECT_EQ(shutdownChecks, 1);
}

TEST_F(Cycle, UnusableFileNameOnTheLastRowEndsTheList) {
    addRows(1);
    cycle.StartDownload1Click();
    loadCountdownPage(1, "http://files/x", "..");
    second();
    EXPECT_EQ(status(1), "Failed");
    EXPECT_EQ(component.Tag, 1);
    EXPECT_EQ(shutdownChecks, 1);
    cycle.StartDownload1Click();
    EXPECT_EQ(browser.navigations.size(), 1u);
    EXPECT_EQ(shutdownChecks, 2);
}

TEST_F(Cycle, CountdownWithoutAFreshLinkNeverFetchesTheEarlierFile) {
    addRows(3);
    cycle.StartDownload1Click();
    runRow("a.zip");
    loadCountdownPage(2, "", "");
    EXPECT_EQ(state.FinalURL, "http://files/a.zip"); // still the earlier page's link
    seconds(2);
    EXPECT_EQ(component.jobs.size(), 1u);
    EXPECT_FALSE(timer1.enabled());
    EXPECT_EQ(bar.text(0), " Error - Please check the download link ");
    EXPECT_EQ(status(2), "Failed");
    EXPECT_EQ(state.CurrentRow, 3);

    // The next row, whose page does give a link, fetches it.
    runRow("b.zip");
    ASSERT_EQ(component.jobs.size(), 2u);
    EXPECT_EQ(component.jobs[1].fileName, "/dl/b.zip");
}

TEST_F(Cycle, LinkIsHandedOverOnlyOnce) {
    addRows(1);
    cycle.StartDownload1Click();
    loadCountdownPage(1, "http://files/a", "a");
    second();
    EXPECT_FALSE(state.FinalLinkFresh);
    // The same countdown armed again without a new page (a rule re-run) must not refetch.
    timer1.setEnabled(true);
    second();
    EXPECT_EQ(component.jobs.size(), 1u);
}

} // namespace
} // namespace torvaline::test

namespace torvaline::test {
namespace {

// The remote control removes rows while the list runs. The cycle goes on with the row after the
// one removed, in whatever phase it was; it never works on a row that is gone, nor on another
// row than it says; and a list ended by a removal starts again on the next row added.
TEST_F(Cycle, RemovingRowsWhileTheListRunsNeverLeavesTheCycleOnARowThatIsGone) {
    addRows(4);
    cycle.StartDownload1Click();
    const auto url = [this](int row) { return list.cell(row, DownloadList::URL); };
    const std::string second = url(2), third = url(3);

    cycle.removeRow(1); // while its page loads
    EXPECT_EQ(browser.navigations.back(), second);
    EXPECT_EQ(state.CurrentRow, 1);
    EXPECT_EQ(url(state.CurrentRow), second);

    loadCountdownPage(3, "http://files/b", "b");
    seconds(3);
    ASSERT_EQ(component.jobs.size(), 1u);
    transferStarts();
    cycle.removeRow(1); // during its transfer
    EXPECT_TRUE(component.cancelRequested);
    const auto navigations = browser.navigations.size();
    transferEnds();
    ASSERT_EQ(browser.navigations.size(), navigations + 1);
    EXPECT_EQ(browser.navigations.back(), third);
    EXPECT_EQ(url(state.CurrentRow), third);
    // The row that took its place was not written over by the cancelled transfer.
    EXPECT_EQ(status(state.CurrentRow), "Waiting...");
    EXPECT_EQ(list.cell(state.CurrentRow, DownloadList::Speed), "");

    // Another row goes: one after the current one, then one before it.
    addRows(1);
    const std::string fifth = url(3);
    cycle.removeRow(2);
    EXPECT_EQ(url(state.CurrentRow), third);
    cycle.removeRow(0);
    loadCountdownPage(2, "http://files/c", "c");
    seconds(2);
    transferStarts();
    transferEnds();
    EXPECT_EQ(browser.navigations.back(), fifth);
    ASSERT_EQ(state.CurrentRow, 2);
    cycle.removeRow(1);
    EXPECT_EQ(state.CurrentRow, 1);
    EXPECT_EQ(url(state.CurrentRow), fifth);

    // The last row goes during its countdown: the list is done, and a row added is tried.
    loadCountdownPage(5, "http://files/e", "e");
    cycle.removeRow(1);
    EXPECT_FALSE(timer1.enabled());
    EXPECT_EQ(component.Tag, 1);
    EXPECT_EQ(shutdownChecks, 1);
    EXPECT_TRUE(cycle.atRest());
    seconds(5);
    EXPECT_EQ(component.jobs.size(), 2u) << "the removed row's countdown went on";
    addRows(1);
    ASSERT_TRUE(cycle.startAt(1));
    EXPECT_EQ(browser.navigations.back(), url(1));
    runRow("f");
    EXPECT_EQ(status(1), "Completed");
    EXPECT_EQ(component.jobs.back().fileName, "/dl/f");
}

} // namespace
} // namespace torvaline::test
