#include "CycleFixture.h"
#include "doubles/RecordingRowEvents.h"

#include <algorithm>
#include <string>
#include <vector>

namespace torvaline::test {
namespace {

// What a row's link does when the cycle opens it.
enum class Link {
    Good,       // a countdown, then a transfer that completes
    Missing,    // the hoster reports the file missing
    Unloadable, // the page cannot be loaded
    NoLink,     // a countdown page that gives no link
};

class ListGoesOn : public CycleFixture {
protected:
    RecordingRowEvents events;

    void SetUp() override {
        CycleFixture::SetUp();
        cycle.setRowEvents(&events);
    }

    // Plays each opened row's link until the list is done; bounded in steps.
    void play(const std::vector<Link>& links) {
        for (int step = 0; step < 50 && shutdownChecks == 0; ++step) {
            const int row = state.CurrentRow;
            ASSERT_LT(row - 1, static_cast<int>(links.size()));
            switch (links[static_cast<std::size_t>(row - 1)]) {
            case Link::Good:
                runRow("f" + std::to_string(row), 1);
                break;
            case Link::Missing:
                loadFileErrorPage();
                break;
            case Link::Unloadable:
                browser.completeDocument("http://host/" + std::to_string(row),
                                         "Connection refused");
                break;
            case Link::NoLink:
                loadCountdownPage(1, "", "");
                second();
                break;
            }
        }
    }
};

// Rows that would wait for the user fail with their reason and the list runs to its end,
// every good row behind them done; the status bar keeps what it says of such a link.
TEST_F(ListGoesOn, RowsThatWouldWaitForTheUserFailAndTheRestComplete) {
    struct Case {
        const char* name;
        std::vector<Link> links;
        std::vector<std::string> statuses;
        const char* reason; // of the first failed row
        const char* panel;  // panel 0 right after that failure
    };
    const std::vector<Case> cases{
        {"missing file, then two good rows",
         {Link::Missing, Link::Good, Link::Good},
         {"Failed", "Completed", "Completed"},
         "the hoster reports the file missing or blocked",
         " Error - Please check the download link "},
        {"a page that cannot be loaded between good rows",
         {Link::Good, Link::Unloadable, Link::Good},
         {"Completed", "Failed", "Completed"},
         "page not loaded - Connection refused",
         " Page not loaded - Connection refused "},
        {"a countdown without a link, last",
         {Link::Good, Link::NoLink},
         {"Completed", "Failed"},
         "the countdown page has no download link",
         " Error - Please check the download link "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        list.setRowCount(1);
        state = CycleState{};
        component.Tag = 0;
        component.busy = false;
        shutdownChecks = 0;
        events = RecordingRowEvents{};
        addRows(static_cast<int>(c.links.size()));
        bar.clear();
        panel0.clear();
        cycle.StartDownload1Click();
        play(c.links);
        EXPECT_EQ(shutdownChecks, 1) << "the list did not end";
        std::vector<std::string> statuses;
        for (int r = 1; r < list.rowCount(); ++r)
            statuses.push_back(status(r));
        EXPECT_EQ(statuses, c.statuses);
        // The failure is told with its reason, and the tool tip keeps it.
        const auto failed =
            std::find_if(events.phases.begin(), events.phases.end(),
                         [](const RowPhaseEvent& e) { return e.phase == RowPhase::Failed; });
        ASSERT_NE(failed, events.phases.end());
        EXPECT_EQ(failed->reason, c.reason);
        const int failedRow = list.rowOf(failed->id);
        EXPECT_NE(list.note(failedRow).find(c.reason), std::string::npos) << list.note(failedRow);
        ASSERT_EQ(events.done.size(), 1u);
        EXPECT_EQ(events.done[0].completed + events.done[0].failed,
                  static_cast<int>(c.links.size()));
        EXPECT_EQ(events.done[0].failed, 1);
        EXPECT_TRUE(sawPanel0(c.panel));
        EXPECT_EQ(bar.text(0), DownloadCycle::listDoneText(events.done[0].completed, 1, 0));
    }
}

// The panel text of a failing row in the middle of the list, as the status bar shows it
// until the next row's countdown writes the bar.
TEST_F(ListGoesOn, TheStatusBarKeepsItsTextForAFailedRow) {
    addRows(2);
    cycle.StartDownload1Click();
    loadFileErrorPage();
    EXPECT_EQ(bar.text(0), " Error - Please check the download link ");
    EXPECT_EQ(browser.navigations.back(), "http://host/2");
    EXPECT_EQ(events.phasesOf(list.id(1)),
              (std::vector<RowPhase>{RowPhase::Opening, RowPhase::Failed}));
}

// Start after the end of the list: rows added below the last one done, a list cleared and
// filled again, and nothing left at all.
TEST_F(ListGoesOn, StartAfterTheEndGoesOnWhereTheListStands) {
    addRows(2);
    cycle.StartDownload1Click();
    runRow("a", 1);
    runRow("b", 1);
    ASSERT_EQ(shutdownChecks, 1);
    const std::size_t opened = browser.navigations.size();

    // Nothing below the last row: nothing is opened and the status bar says so.
    cycle.StartDownload1Click();
    EXPECT_EQ(browser.navigations.size(), opened);
    EXPECT_EQ(bar.text(0), DownloadCycle::NothingLeftText);
    EXPECT_EQ(bar.width(0), StatusBar::widthFor(DownloadCycle::NothingLeftText));

    // Two rows added: the first of them is next, and the list ends again after both.
    addRows(2);
    cycle.StartDownload1Click();
    ASSERT_EQ(browser.navigations.size(), opened + 1);
    EXPECT_EQ(browser.navigations.back(), "http://host/3");
    runRow("c", 1);
    runRow("d", 1);
    EXPECT_EQ(status(4), "Completed");
    EXPECT_EQ(shutdownChecks, 3); // the end, Start on nothing left, the end again

    // Stopped on the last row and started again: nothing left below it.
    cycle.StopDownExecute();
    cycle.StartDownload1Click();
    EXPECT_EQ(bar.text(0), DownloadCycle::NothingLeftText);

    // Cleared and filled again: the first row, with the "Start Download Now" the same command.
    list.setRowCount(1);
    addRows(1);
    cycle.StartDownload1Click();
    EXPECT_EQ(state.CurrentRow, 1);
    EXPECT_EQ(browser.navigations.back(), "http://host/1");
    runRow("e", 1);
    EXPECT_EQ(status(1), "Completed");
    ASSERT_EQ(component.jobs.size(), 5u);
    EXPECT_EQ(component.jobs.back().fileName, "/dl/e");
}

// A restored row that reaches its transfer with no folder set saves into the default folder,
// never into the root.
TEST_F(ListGoesOn, AnEmptyFolderIsTheDefaultFolder) {
    folder.setText("");
    addRows(1);
    cycle.StartDownload1Click();
    runRow("a.bin", 1);
    ASSERT_EQ(component.jobs.size(), 1u);
    EXPECT_EQ(component.jobs[0].fileName, "/home/user/Downloads/a.bin");
}

TransferResult serverError(const std::string& partialPath) {
    TransferResult r{TransferOutcome::Failed, "HTTP 500"};
    r.transient = true;
    r.partial = PartialFile{partialPath, 1000, 5000, "\"etag\""};
    return r;
}

// A file server that answers 500 for ever: its row is set aside with what it kept and the good
// rows behind it complete long before its first retry is due; it fails after its third retry,
// and only then is the list done.
TEST_F(ListGoesOn, AFlakyRowIsSetAsideAndTheGoodRowsCompleteFirst) {
    addRows(3);
    cycle.StartDownload1Click();
    loadCountdownPage(1, "http://files/flaky", "flaky");
    second();
    transferStarts();
    transferEnds(serverError("/dl/flaky.part1"));
    EXPECT_EQ(status(1),
              DownloadCycle::setAsideText(1, TimeText(clock.timeOfDay() + 30 / DayLengthSeconds)));
    EXPECT_NE(list.note(1).find("HTTP 500"), std::string::npos); // the tool tip says why
    EXPECT_EQ(browser.navigations.back(), "http://host/2");
    // Kept for a crash: the recovery file names the set-aside file with its link.
    ASSERT_EQ(cycle.keptPartials().size(), 1u);
    EXPECT_EQ(cycle.keptPartials()[0].first, "http://host/1");
    runRow("good2", 1);
    runRow("good3", 1);
    EXPECT_EQ(status(2), "Completed");
    EXPECT_EQ(status(3), "Completed");
    EXPECT_EQ(shutdownChecks, 0) << "done while a row waits aside";

    // The list now waits for the flaky row; each retry continues its file, until the third.
    const std::vector<int> waits{30, 120, 300};
    int retry = 0;
    for (int step = 0; step < 2000 && shutdownChecks == 0; ++step) {
        second();
        if (!component.busy && state.CurrentRow == 1 && !timer2.enabled() && !timer1.enabled()) {
            ++retry;
            ASSERT_LE(retry, 3);
            loadCountdownPage(1, "http://files/flaky", "flaky");
            second();
            EXPECT_EQ(component.Resume.path, "/dl/flaky.part" + std::to_string(retry));
            transferStarts();
            transferEnds(serverError("/dl/flaky.part" + std::to_string(retry + 1)));
        }
    }
    EXPECT_EQ(retry, 3);
    EXPECT_EQ(status(1), "Failed");
    EXPECT_EQ(component.discarded, std::vector<std::string>{"/dl/flaky.part4"});
    EXPECT_EQ(shutdownChecks, 1);
    std::vector<int> told;
    for (const RowPhaseEvent& e : events.phases)
        if (e.phase == RowPhase::SetAside)
            told.push_back(e.retry);
    EXPECT_EQ(told, (std::vector<int>{1, 2, 3}));
    ASSERT_EQ(events.done.size(), 1u);
    EXPECT_EQ(events.done[0].completed, 2);
    EXPECT_EQ(events.done[0].failed, 1);
}

// A set-aside row whose retry is due when a row finishes comes before the next row.
TEST_F(ListGoesOn, ADueSetAsideRowComesBeforeTheNextRow) {
    addRows(3);
    cycle.StartDownload1Click();
    loadCountdownPage(1, "http://files/flaky", "flaky");
    second();
    transferStarts();
    transferEnds(serverError("/dl/flaky.part"));
    runRow("slow2", 40); // longer than the 30-second wait
    EXPECT_EQ(status(2), "Completed");
    EXPECT_EQ(state.CurrentRow, 1);
    EXPECT_EQ(browser.navigations.back(), "http://host/1");
    runRow("flaky", 1);
    EXPECT_EQ(component.jobs.back().fileName, "/dl/flaky");
    EXPECT_EQ(status(1), "Completed");
    // Then the list goes on where it was.
    EXPECT_EQ(state.CurrentRow, 3);
    EXPECT_EQ(browser.navigations.back(), "http://host/3");
    runRow("good3", 1);
    EXPECT_EQ(shutdownChecks, 1);
}

// Moving, deleting or clearing rows while one waits aside: the kept file follows its own row
// and link, and is never handed to another link.
TEST_F(ListGoesOn, ListEditsNeverHandASetAsideFileToAnotherLink) {
    enum class Edit { Move, Delete, Clear, Stop };
    for (const Edit edit : {Edit::Move, Edit::Delete, Edit::Clear, Edit::Stop}) {
        SCOPED_TRACE(static_cast<int>(edit));
        list.setRowCount(1);
        state = CycleState{};
        component.Tag = 0;
        component.busy = false;
        component.discarded.clear();
        component.Resume = {};
        shutdownChecks = 0;
        timer1.setEnabled(false);
        timer2.setEnabled(false);
        addRows(3);
        cycle.StartDownload1Click();
        loadCountdownPage(1, "http://files/a", "a");
        second();
        transferStarts();
        transferEnds(serverError("/dl/a.part"));
        ASSERT_EQ(browser.navigations.back(), "http://host/2");
        switch (edit) {
        case Edit::Move:
            list.swapRows(1, 3); // the set-aside row goes to the end
            break;
        case Edit::Delete:
            list.removeRow(1);
            break;
        case Edit::Clear:
            list.setRowCount(1);
            addRows(2); // new links in the same places
            break;
        case Edit::Stop:
            cycle.StopDownExecute();
            EXPECT_EQ(status(1), "Stopped");
            EXPECT_EQ(component.discarded, std::vector<std::string>{"/dl/a.part"});
            EXPECT_TRUE(cycle.keptPartials().empty());
            continue;
        }
        // Play the rest of the list, retries included, within a bounded time.
        for (int step = 0; step < 400 && shutdownChecks == 0; ++step) {
            if (!component.busy && !timer1.enabled() && !timer2.enabled()) {
                const std::string link = list.cell(state.CurrentRow, DownloadList::URL);
                loadCountdownPage(1, "http://files/" + link.substr(link.rfind('/') + 1), "x");
                second();
                // Only the set-aside row's own link may continue its file.
                if (!component.Resume.empty()) {
                    EXPECT_EQ(link, "http://host/1");
                    EXPECT_EQ(edit, Edit::Move);
                }
                transferStarts();
                transferEnds();
            }
            second();
        }
        EXPECT_EQ(shutdownChecks, 1);
        if (edit == Edit::Move) {
            EXPECT_EQ(list.cell(3, DownloadList::URL), "http://host/1");
            EXPECT_EQ(status(3), "Completed");
            EXPECT_TRUE(component.discarded.empty());
            // Passed over when the list reached it, taken up once when due.
            EXPECT_EQ(std::count_if(component.jobs.begin(), component.jobs.end(),
                                    [](const FakeDownloadComponent::Job& j) {
                                        return j.url == "http://files/1";
                                    }),
                      1);
        } else {
            EXPECT_EQ(component.discarded, std::vector<std::string>{"/dl/a.part"});
        }
    }
}

} // namespace
} // namespace torvaline::test
