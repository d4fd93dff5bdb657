#pragma once

#include "cycle/DownloadCycle.h"
#include "doubles/FakeBrowser.h"
#include "doubles/FakeClock.h"
#include "doubles/FakeDownloadComponent.h"
#include "doubles/ManualTimer.h"
#include "list/DownloadFolder.h"
#include "list/DownloadList.h"
#include "list/StatusBar.h"
#include "pages/TimeText.h"
#include "state/CycleState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace torvaline::test {

// The cycle over fakes. Page handling is played by the test: each captured page runs the
// script set for it, doing what the page rules would do on such a page.
class CycleFixture : public ::testing::Test {
protected:
    DownloadList list;
    StatusBar bar;
    CycleState state;
    DownloadFolder folder{"/home/user/Downloads", '/'};
    FakeBrowser browser;
    ManualTimer timer1, timer2, elpsTimer, estTimer;
    FakeClock clock;
    FakeDownloadComponent component;
    int shutdownChecks = 0;
    int pageClears = 0;
    int captures = 0;
    std::function<void()> nextPage;

    DownloadCycle cycle{
        {list, bar, state, folder, browser, timer1, timer2, elpsTimer, estTimer, clock, component},
        {[this] { capture(); }, [this] { ++pageClears; }, [this] { ++shutdownChecks; },
         [this] { return component.busy; }}};

    // Every text panel 0 showed, in order: the end of the list writes over the last one.
    std::vector<std::string> panel0;

    void SetUp() override {
        folder.setText("/dl");
        cycle.setEvents();
        bar.setOnChanged([this](int panel) {
            if (panel == 0 && (panel0.empty() || panel0.back() != bar.text(0)))
                panel0.push_back(bar.text(0));
        });
    }
    bool sawPanel0(const std::string& text) const {
        return std::find(panel0.begin(), panel0.end(), text) != panel0.end();
    }

    void addRows(int n) {
        const int first = list.rowCount();
        list.setRowCount(first + n);
        for (int r = first; r < first + n; ++r) {
            list.setCell(r, DownloadList::URL, "http://host/" + std::to_string(r));
            list.setCell(r, DownloadList::Status, "Waiting...");
        }
    }

    void capture() {
        ++captures;
        if (nextPage) {
            auto page = std::move(nextPage);
            nextPage = nullptr;
            page();
        }
    }

    // The pages a hoster shows, as the page rules act on them.
    void loadCountdownPage(int seconds, const std::string& url, const std::string& name) {
        nextPage = [=, this] {
            state.FinalLinkFresh = false;
            if (!url.empty()) {
                state.FinalURL = url;
                state.FinalFileName = name;
                state.FinalLinkFresh = true;
                state.PageHandled = true;
            }
            state.WaitSpan = seconds / DayLengthSeconds;
            state.PhaseStart = clock.timeOfDay();
            timer1.setEnabled(true);
            state.PageHandled = true;
        };
        browser.completeDocument();
    }
    void loadWaitPage(int minutes) {
        nextPage = [=, this] {
            state.WaitSpan = minutes * 60 / DayLengthSeconds;
            state.PhaseStart = clock.timeOfDay();
            timer2.setEnabled(true);
            state.PageHandled = true;
        };
        browser.completeDocument();
    }
    void loadFileErrorPage() {
        nextPage = [this] { cycle.DeleteURLError(); };
        browser.completeDocument();
    }

    // One second passes and every enabled timer of the cycle ticks; a countdown that ends
    // between two ticks (its margin) ends within that second.
    void second() {
        clock.advanceSeconds(1);
        timer1.tick();
        if (const auto early = timer1.early()) {
            clock.advanceSeconds(static_cast<double>(early->count()) / 1000.0);
            timer1.tickEarly();
        }
        timer2.tick();
    }
    void seconds(int n) {
        for (int i = 0; i < n; ++i)
            second();
    }

    // The component's start event, as the progress display handles it.
    void transferStarts() {
        state.WaitSpan = 0;
        state.PhaseStart = clock.timeOfDay();
        elpsTimer.setEnabled(true);
        estTimer.setEnabled(true);
        component.Tag = 1;
        list.setCell(state.CurrentRow, DownloadList::Status, "Downloading... ");
        list.setCell(state.CurrentRow, DownloadList::Speed, "07Kb/s");
        list.setCell(state.CurrentRow, DownloadList::Progress, "45.00 %");
    }
    void transferEnds(TransferOutcome outcome = TransferOutcome::Succeeded,
                      const std::string& reason = {}) {
        const bool canceled = component.cancelRequested;
        if (canceled)
            outcome = TransferOutcome::Cancelled;
        cycle.DownloadFile1Finish(canceled, TransferResult{outcome, reason});
        component.busy = false;
    }

    void transferEnds(const TransferResult& result) {
        cycle.DownloadFile1Finish(component.cancelRequested, result);
        component.busy = false;
    }

    // A row from its link to a finished transfer: countdown of `countdown` seconds.
    void runRow(const std::string& name, int countdown = 3,
                TransferOutcome outcome = TransferOutcome::Succeeded) {
        loadCountdownPage(countdown, "http://files/" + name, name);
        seconds(countdown);
        transferStarts();
        transferEnds(outcome, outcome == TransferOutcome::Failed ? "HTTP 503" : "");
    }

    const std::string& status(int row) const { return list.cell(row, DownloadList::Status); }
};

} // namespace torvaline::test
