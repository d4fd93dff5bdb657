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
        if (c.links.back() != Link::Good) {
            EXPECT_EQ(bar.text(0), c.panel); // nothing ran after it to write the bar
        }
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

} // namespace
} // namespace torvaline::test
