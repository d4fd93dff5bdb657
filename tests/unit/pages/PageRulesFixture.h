#pragma once

#include "doubles/FakeClock.h"
#include "doubles/ManualTimer.h"
#include "pages/PageRules.h"
#include "pages/PageText.h"
#include "state/CycleState.h"

#include <gtest/gtest.h>

#include <string>

namespace torvaline::test {

// The rules wired to a page text, as the main window wires them, with the cycle's hooks
// replaced by counters.
class PageRulesFixture : public ::testing::Test {
protected:
    PageRulesFixture() {
        page.setOnChange([this] { rules.Memo2Change(); });
        clock.setTime(10, 0, 0);
    }

    // Replaces the page text, which runs the rules.
    void show(const std::string& text) { page.replace(text); }

    static double seconds(double s) { return s / DayLengthSeconds; }

    PageText page;
    CycleState state;
    FakeClock clock;
    ManualTimer timer1;
    ManualTimer timer2;
    int deleteCalls = 0;
    int freeUserSteps = 0;
    bool deleteRestartsCycle = false;
    std::string host = "RapidShare";
    PageRules rules{{page, state, clock, timer1, timer2},
                    {[this] {
                         ++deleteCalls;
                         if (deleteRestartsCycle)
                             state.PageHandled = true;
                     },
                     [this] { ++freeUserSteps; },
                     [this] { return host; },
                     {}}};
};

} // namespace torvaline::test
