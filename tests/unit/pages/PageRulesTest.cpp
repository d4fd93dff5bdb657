#include "PageRulesFixture.h"

#include "pages/ConversionError.h"

#include <optional>
#include <vector>

namespace torvaline::test {
namespace {

enum class Armed { None, Timer1, Timer2 };

struct RuleCase {
    const char* name;
    std::string text;
    Armed armed;
    int spanSeconds; // only when armed
    const char* waitText;
    const char* waitNumber; // nullptr: not looked at
};

class PageRuleCases : public PageRulesFixture, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(PageRuleCases, ArmTheRightTimerForTheRightSpan) {
    const RuleCase& c = GetParam();
    clock.setTime(23, 59, 30);
    show(c.text);
    EXPECT_EQ(timer1.enabled(), c.armed == Armed::Timer1);
    EXPECT_EQ(timer2.enabled(), c.armed == Armed::Timer2);
    EXPECT_EQ(state.PageHandled, c.armed != Armed::None);
    EXPECT_EQ(freeUserSteps, c.armed == Armed::None ? 1 : 0);
    if (c.armed != Armed::None) {
        EXPECT_NEAR(state.WaitSpan, seconds(c.spanSeconds), 1e-12);
        EXPECT_DOUBLE_EQ(state.PhaseStart, clock.timeOfDay());
    }
    EXPECT_EQ(state.WaitText, c.waitText);
    if (c.waitNumber) {
        EXPECT_EQ(state.WaitNumber, c.waitNumber);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, PageRuleCases,
    ::testing::Values(
        RuleCase{"OrTryAgainAboutCutsEighteen", "Or try again in about 12 minutes.\r\n<abcd>efg",
                 Armed::Timer2, 720, "0:12:0", "12"},
        RuleCase{"OrTryAgainAboutAtTheVeryEnd", "xx Or try again in about 7 minutes", Armed::Timer2,
                 420, "0:7:0", "7"},
        RuleCase{"TryAgainWithoutAbout", "<p>Please try again in 12 minutes</p>", Armed::Timer2,
                 720, "0:12:0", "12"},
        RuleCase{"ServersOverloaded", "Unfortunately right now our servers are overloaded",
                 Armed::Timer2, 120, "0:2:0", ""},
        RuleCase{"WaitTakesTheFirstDigitOnly", "Unfortunately you will have to wait 15 minutes",
                 Armed::Timer2, 60, "0:1:0", ""},
        RuleCase{"Countdown", "<script>var c=45;</script>", Armed::Timer1, 45, "45;<", "45"},
        RuleCase{"CountdownAtTheVeryEnd", "var c=45;", Armed::Timer1, 45, "45;", "45"},
        RuleCase{"AgainInAboutWithoutTry", "Come again in about 3 minutes", Armed::Timer2, 180,
                 "0:3:0", "3"},
        RuleCase{"DownloadLimit", "You have reached the download limit for free-users",
                 Armed::Timer2, 60, "0:1:0", ""},
        RuleCase{"LongestWaitBelowADay", "Or try again in about 1439 minutes", Armed::Timer2, 86340,
                 "23:59:0", "1439"},
        RuleCase{"OrTryAgainAboutWinsOverCountdown", "var c=45; Or try again in about 5 minutes",
                 Armed::Timer2, 300, "0:5:0", "5"},
        RuleCase{"ServersWinOverWaitAndCountdown",
                 "Unfortunately you will have to wait 9 minutes var c=3; Unfortunately right now "
                 "our servers are over",
                 Armed::Timer2, 120, "0:2:0", ""},
        RuleCase{"LetterCaseMatters", "try Again in about 5 minutes; VAR C=5;", Armed::None, 0, "",
                 ""},
        RuleCase{"NoMessage", "<form><input value=\"Free user\"></form>", Armed::None, 0, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    std::string text;
    const char* waitText; // what the failed rule left
    const char* waitNumber;
};

class PageRuleFailures : public PageRulesFixture,
                         public ::testing::WithParamInterface<FailureCase> {};

TEST_P(PageRuleFailures, EndTheChainWithAConversionErrorAndArmNothing) {
    const FailureCase& c = GetParam();
    EXPECT_THROW(show(c.text), ConversionError);
    EXPECT_FALSE(timer1.enabled());
    EXPECT_FALSE(timer2.enabled());
    EXPECT_EQ(freeUserSteps, 0);
    EXPECT_EQ(state.WaitText, c.waitText);
    EXPECT_EQ(state.WaitNumber, c.waitNumber);
    EXPECT_DOUBLE_EQ(state.WaitSpan, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, PageRuleFailures,
    ::testing::Values(
        FailureCase{"PleaseTryAgainInAbout", "Please try again in about 5 minutes", "about 5 m",
                    "about 5"},
        FailureCase{"CountdownWithTwoSemicolons", "var c=5;x;", "5;x;", "5;x"},
        FailureCase{"CountdownWithoutAnyNumber", "var c=;", ";", ""},
        FailureCase{"WaitMarkerAtTheVeryEnd", "Unfortunately you will have to wait", "", ""},
        FailureCase{"WaitOfLetters", "Unfortunately you will have to wait a minute", "a", ""},
        FailureCase{"ADayIsTooLong", "Or try again in about 1440 minutes", "24:0:0", "1440"},
        FailureCase{"SixteenBitHoursDoNotWrapToNoWait", "Or try again in about 3932160 minutes",
                    "0:0:0", "3932160"},
        FailureCase{"MinutesPastThirtyTwoBits", "Or try again in about 99999999 minutes",
                    "99999999 minutes", "99999999"},
        FailureCase{"NegativeWait", "Or try again in about -5 minutes", "0:65531:0", "-5"}),
    [](const auto& info) { return std::string(info.param.name); });

using PageRulesTest = PageRulesFixture;

TEST_F(PageRulesTest, CountdownOfFourDigitsIsReadToItsSemicolonNeverFromAnEarlierPage) {
    state.WaitNumber = "30";
    show("var c=1000;");
    EXPECT_EQ(state.WaitText, "1000");
    EXPECT_EQ(state.WaitNumber, "1000");
    EXPECT_EQ(state.CountdownText, "0:16:40");
    EXPECT_TRUE(timer1.enabled());
    EXPECT_NEAR(state.WaitSpan, seconds(1000), 1e-12);

    // One character behind the marker at the end of the text: nothing to read a number from.
    page.clear();
    state.PageHandled = false;
    timer1.setEnabled(false);
    EXPECT_THROW(show("var c=9"), ConversionError);
    EXPECT_EQ(state.WaitText, "9");
    EXPECT_FALSE(timer1.enabled());
}

// With the cycle's hook to fail a row, a wait or countdown that cannot be read fails the row
// with why, arms nothing and presses nothing; the earlier page's number is never used.
TEST(PageRulesFailingRows, AWaitThatCannotBeReadFailsTheRowWithTheText) {
    struct Case {
        const char* text;
        const char* why; // empty: armed, not failed
    };
    const std::vector<Case> cases{
        {"var c=5;x;", "'5;x' is not a valid integer value"},
        {"var c=9", "'' is not a valid integer value"},
        {"var c=12345678901234;", "'' is not a valid integer value"},
        {"Or try again in about a while", "'' is not a valid integer value"},
        {"Unfortunately you will have to wait a minute", "'a' is not a valid integer value"},
        {"Or try again in about 1440 minutes", "'24:0:0' is not a valid time"},
        {"var c=1000;", ""},
        {"Or try again in about 7 minutes", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PageText page;
        CycleState state;
        state.WaitNumber = "30"; // an earlier row's
        FakeClock clock;
        ManualTimer timer1, timer2;
        std::vector<std::string> failed;
        int presses = 0;
        PageRules rules{{page, state, clock, timer1, timer2},
                        {[] {}, [&] { ++presses; }, [] { return std::string("RapidShare"); },
                         [&](const std::string& why) { failed.push_back(why); }}};
        page.setOnChange([&] { rules.Memo2Change(); });
        EXPECT_NO_THROW(page.replace(c.text));
        EXPECT_EQ(presses, 0);
        EXPECT_TRUE(state.PageHandled);
        if (*c.why == 0) {
            EXPECT_TRUE(failed.empty());
            EXPECT_TRUE(timer1.enabled() || timer2.enabled());
            continue;
        }
        ASSERT_EQ(failed.size(), 1u);
        EXPECT_EQ(failed[0], std::string("the hoster's wait cannot be read (") + c.why + ")");
        EXPECT_FALSE(timer1.enabled());
        EXPECT_FALSE(timer2.enabled());
    }
}

TEST_F(PageRulesTest, CountdownTakesTheLinkFromTheSamePage) {
    show("var c=45;\r\n<form action=\"http://rs1.example/files/123/name.zip\" method=\"post\">");
    EXPECT_EQ(state.FinalURL, "http://rs1.example/files/123/name.zip");
    EXPECT_EQ(state.FinalFileName, "name.zip");
    EXPECT_TRUE(state.FinalLinkFresh);
    EXPECT_TRUE(timer1.enabled());
    EXPECT_TRUE(state.PageHandled);
}

TEST_F(PageRulesTest, CountdownWithoutLinkArmsButMarksTheOldLinkStale) {
    state.FinalURL = "http://old/1/a.zip";
    state.FinalFileName = "a.zip";
    state.FinalLinkFresh = true;
    show("var c=45; <form action=\"/relative/b.zip\" method=\"post\">");
    EXPECT_EQ(state.FinalURL, "http://old/1/a.zip");
    EXPECT_EQ(state.FinalFileName, "a.zip");
    EXPECT_FALSE(state.FinalLinkFresh);
    EXPECT_TRUE(timer1.enabled());
    EXPECT_TRUE(state.PageHandled);
}

TEST_F(PageRulesTest, CountdownThatFailsAfterTheLinkWasCutLeavesThePageHandled) {
    // The link is cut before the number is read, so the failure line finds the page handled
    // and presses nothing.
    EXPECT_THROW(show("var c=5;x;<form action=\"http://a/1/f.zip\" method=\"post\">"),
                 ConversionError);
    EXPECT_EQ(state.FinalURL, "http://a/1/f.zip");
    EXPECT_TRUE(state.PageHandled);
    EXPECT_FALSE(timer1.enabled());
    page.appendFailureLine();
    EXPECT_EQ(freeUserSteps, 0);
}

TEST_F(PageRulesTest, CountdownOfA4SharedRowReadsTheAnchor) {
    const std::string page4 =
        "var c=20; <A href=\"http://dc.example/get/x/file.rar\" onclick=\"f()\">"
        "<form action=\"http://other/form.zip\" method=\"post\">";
    host = "4Shared";
    show(page4);
    EXPECT_EQ(state.FinalURL, "http://dc.example/get/x/file.rar");
    EXPECT_EQ(state.FinalFileName, "file.rar");

    host = "RapidShare";
    page.clear();
    state.PageHandled = false;
    show(page4);
    EXPECT_EQ(state.FinalURL, "http://other/form.zip");
}

TEST_F(PageRulesTest, ErrorRulesReportTheLinkAndEndTheChainOnlyWhenTheCycleRestarted) {
    const std::string both = "This file is suspected to contain illegal content. The file could "
                             "not be found. Please check the download link. Or try again in about "
                             "5 minutes";
    show(both);
    EXPECT_EQ(deleteCalls, 2); // both error rules, the cycle did not restart
    EXPECT_TRUE(timer2.enabled());

    page.clear();
    state.PageHandled = false;
    timer2.setEnabled(false);
    deleteCalls = 0;
    deleteRestartsCycle = true;
    show(both);
    EXPECT_EQ(deleteCalls, 1);
    EXPECT_FALSE(timer2.enabled());
    EXPECT_EQ(freeUserSteps, 0);
}

TEST_F(PageRulesTest, ErrorPageWithoutOtherMessagesStillPressesFreeUser) {
    show("The file could not be found. Please check the download link.");
    EXPECT_EQ(deleteCalls, 1);
    EXPECT_EQ(freeUserSteps, 1);
    EXPECT_FALSE(state.PageHandled);
}

TEST_F(PageRulesTest, HandledPageRunsNothing) {
    state.PageHandled = true;
    show("You have reached the download limit for free-users");
    EXPECT_FALSE(timer2.enabled());
    EXPECT_EQ(freeUserSteps, 0);
}

TEST_F(PageRulesTest, RearmingARunningTimerKeepsItsScheduleButTakesTheNewSpan) {
    timer2.setEnabled(true);
    clock.setTime(12, 0, 0);
    show("Unfortunately right now our servers are overloaded");
    EXPECT_EQ(timer2.starts(), 1);
    EXPECT_NEAR(state.WaitSpan, seconds(120), 1e-12);
    EXPECT_DOUBLE_EQ(state.PhaseStart, clock.timeOfDay());
}

TEST_F(PageRulesTest, RulesSearchOnlyBehindTheSearchStart) {
    show("You have reached the download limit for free-users");
    timer2.setEnabled(false);
    state.PageHandled = false;
    page.appendFailureLine();
    EXPECT_FALSE(timer2.enabled());
    EXPECT_EQ(freeUserSteps, 1);
}

TEST_F(PageRulesTest, EmptyPageMissesEveryRule) {
    rules.Memo2Change();
    EXPECT_FALSE(state.PageHandled);
    EXPECT_EQ(freeUserSteps, 1);
    EXPECT_EQ(deleteCalls, 0);
}

TEST_F(PageRulesTest, NumberCutsDropTheCharacterBeforeTheLastMark) {
    struct Case {
        const char* waitText;
        const char* aboutNumber; // nullptr: unchanged
        const char* timeNumber;
    } cases[] = {
        {"12 minutes", "12", nullptr}, {"m", "", nullptr},      {"am", "", nullptr},
        {"5;x;", nullptr, "5;x"},      {";", nullptr, ""},      {"7 mm;", "7 ", "7 mm"},
        {"", nullptr, nullptr},        {"45;<", nullptr, "45"},
    };
    for (const auto& c : cases) {
        state.WaitText = c.waitText;
        state.WaitNumber = "keep";
        rules.GetTimeAbout();
        EXPECT_EQ(state.WaitNumber, c.aboutNumber ? c.aboutNumber : "keep") << c.waitText;
        state.WaitNumber = "keep";
        rules.GetTime();
        EXPECT_EQ(state.WaitNumber, c.timeNumber ? c.timeNumber : "keep") << c.waitText;
    }
}

} // namespace
} // namespace torvaline::test
