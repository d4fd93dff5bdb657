#include "doubles/FakeBrowser.h"
#include "doubles/FakeClock.h"
#include "doubles/FakeDocument.h"
#include "doubles/FakeEventLoop.h"
#include "doubles/ManualTimer.h"
#include "pages/PageHandling.h"
#include "state/CycleState.h"

#include <gtest/gtest.h>

namespace torvaline::test {
namespace {

const std::string Failure = "No Web Document Body HTML";

class PageCaptureTest : public ::testing::Test {
protected:
    PageCaptureTest() {
        BrowserEvents events;
        events.beforeNavigate = [this](const std::string&) { handling.clearPageText(); };
        browser.setEvents(std::move(events));
    }

    // A page with a "Free user" button whose click submits the form.
    std::shared_ptr<FakeDocument> pageWithButton(const std::string& body) {
        auto doc = std::make_shared<FakeDocument>(body);
        doc->forms = {{FakeDocument::Element{std::string("Free user")}}};
        doc->onClick = [this](int, int) { browser.Navigate("http://host/next"); };
        return doc;
    }
    std::size_t clicks(const std::shared_ptr<FakeDocument>& doc) const {
        return doc->clicks.size();
    }

    FakeBrowser browser;
    FakeEventLoop loop;
    CycleState state;
    FakeClock clock;
    ManualTimer timer1;
    ManualTimer timer2;
    int deleteCalls = 0;
    PageHandling handling{
        {state, clock, timer1, timer2, browser, loop},
        {[this] { ++deleteCalls; }, [] { return std::string("RapidShare"); }, {}}};
};

TEST_F(PageCaptureTest, UnreadableDocumentLeavesTheFailureLineAndPressesFreeUser) {
    auto doc = pageWithButton("");
    doc->bodyFails = true;
    browser.current = doc;
    handling.BrowserInfo();
    EXPECT_EQ(handling.page().text(), ""); // the click's navigation emptied it again
    EXPECT_EQ(clicks(doc), 1u);
    EXPECT_EQ(browser.navigations.size(), 1u);

    // Without the click's navigation the buffer holds just the failure line.
    auto plain = std::make_shared<FakeDocument>();
    plain->bodyFails = true;
    browser.current = plain;
    handling.BrowserInfo();
    EXPECT_EQ(handling.page().text(), Failure + "\r\n");
    EXPECT_EQ(handling.page().searchStart(), handling.page().text().size());
}

TEST_F(PageCaptureTest, MissingDocumentFailsTheFreeUserStepTooAndThatReachesTheCaller) {
    EXPECT_THROW(handling.BrowserInfo(), DomError);
    EXPECT_EQ(handling.page().text(), Failure + "\r\n");
}

TEST_F(PageCaptureTest, RuleThatFailsAConversionRunsTheChainAgainOnNothing) {
    auto doc = pageWithButton("<p>Please try again in about 5 minutes</p>");
    doc->onClick = nullptr; // keep the buffer to look at it
    browser.current = doc;
    handling.BrowserInfo();
    EXPECT_EQ(handling.page().text(), "<p>Please try again in about 5 minutes</p>\r\n" + Failure);
    EXPECT_FALSE(timer2.enabled());
    EXPECT_EQ(state.WaitText, "about 5 m");
    EXPECT_EQ(clicks(doc), 1u);
}

TEST_F(PageCaptureTest, SamePageCapturedTwiceRunsTheRulesOnce) {
    auto doc = std::make_shared<FakeDocument>("line one\nline two\rthree");
    doc->forms = {{FakeDocument::Element{std::string("Free user")}}};
    browser.current = doc;
    handling.BrowserInfo();
    EXPECT_EQ(handling.page().text(), "line one\r\nline two\r\nthree");
    state.PageHandled = false; // what the document-complete handler does
    handling.BrowserInfo();
    EXPECT_EQ(clicks(doc), 1u);
}

TEST_F(PageCaptureTest, WaitPageArmsTimer2) {
    auto doc = pageWithButton("<b>Or try again in about 12 minutes.</b>\n<p>");
    browser.current = doc;
    handling.BrowserInfo();
    EXPECT_TRUE(timer2.enabled());
    EXPECT_EQ(state.WaitText, "0:12:0");
    EXPECT_EQ(clicks(doc), 0u);
}

TEST_F(PageCaptureTest, PendingEventsRunBeforeThePageIsRead) {
    auto stale = pageWithButton("var c=5;");
    auto fresh = pageWithButton("You have reached the download limit for free-users");
    browser.current = stale;
    loop.post([&] { browser.current = fresh; });
    handling.BrowserInfo();
    EXPECT_EQ(loop.processed, 1);
    EXPECT_TRUE(timer2.enabled());
    EXPECT_FALSE(timer1.enabled());
}

TEST_F(PageCaptureTest, NestedCaptureWhilePendingEventsRun) {
    auto doc = pageWithButton("Unfortunately right now our servers are overloaded");
    browser.current = doc;
    // A second document-complete event of the same page is waiting.
    loop.post([&] {
        handling.BrowserInfo();
        state.PageHandled = false;
    });
    handling.BrowserInfo();
    EXPECT_EQ(timer2.starts(), 1);
    EXPECT_EQ(handling.page().text(), "Unfortunately right now our servers are overloaded");
}

TEST_F(PageCaptureTest, ClickThatLoadsTheNextPageAtOnceIsCapturedInside) {
    auto countdown = pageWithButton(
        "var c=30;<FORM action=\"http://rs.example/files/7/data.bin\" method=\"post\">");
    auto first = pageWithButton("<FORM><INPUT value=\"Free user\"></FORM>");
    first->onClick = [&](int, int) {
        browser.Navigate("http://host/next");
        browser.current = countdown;
        handling.BrowserInfo(); // the next page completes inside the click
    };
    browser.current = first;
    handling.BrowserInfo();
    EXPECT_EQ(clicks(first), 1u);
    EXPECT_TRUE(timer1.enabled());
    EXPECT_EQ(state.FinalURL, "http://rs.example/files/7/data.bin");
    EXPECT_EQ(state.FinalFileName, "data.bin");
    EXPECT_EQ(state.CountdownText, "0:0:30");
}

} // namespace
} // namespace torvaline::test

namespace torvaline::test {
namespace {

// A "Free user" button whose answer is a page like the first, with the button again: pressed
// ten times at most for one row, then the row fails with why. A countdown or a message on the
// way, a new row or the user's own start count from nothing again.
TEST(FreeUserPresses, AButtonThatLeadsBackToItselfIsPressedTenTimesThenTheRowFails) {
    FakeBrowser browser;
    FakeEventLoop loop;
    CycleState state;
    state.CurrentRow = 1;
    state.CurrentURL = "http://host/a";
    FakeClock clock;
    ManualTimer timer1, timer2;
    std::vector<std::string> failed;
    PageHandling handling{{state, clock, timer1, timer2, browser, loop},
                          {[] {}, [] { return std::string("RapidShare"); },
                           [&](const std::string& why) { failed.push_back(why); }}};
    BrowserEvents events;
    events.beforeNavigate = [&](const std::string&) { handling.clearPageText(); };
    browser.setEvents(std::move(events));
    int clicks = 0;
    // One page load of `body` with the button, as a document-complete brings it.
    const auto load = [&](const std::string& body) {
        auto doc = std::make_shared<FakeDocument>(body);
        doc->forms = {{FakeDocument::Element{std::string("Free user")}}};
        doc->onClick = [&](int, int) {
            ++clicks;
            browser.Navigate("http://host/a");
        };
        browser.current = doc;
        state.PageHandled = false;
        handling.BrowserInfo();
    };
    for (int i = 0; i < 30 && failed.empty(); ++i)
        load("<p>Choose your download</p>");
    EXPECT_EQ(clicks, PageHandling::MaxFreeUserPresses);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0],
              "the \"Free user\" button led to no countdown and no message in 10 presses");

    // The next row starts afresh; a wait message half-way counts as leading somewhere.
    state.CurrentRow = 2;
    handling.clearPageText(); // the cycle navigates to the next row
    clicks = 0;
    for (int i = 0; i < 6; ++i)
        load("<p>Choose your download</p>");
    load("<p>Or try again in about 1 minutes</p>");
    timer2.setEnabled(false);
    for (int i = 0; i < 9; ++i)
        load("<p>Choose your download</p>");
    EXPECT_EQ(clicks, 15);
    EXPECT_EQ(failed.size(), 1u);
    // The user's Start Download on the same row counts from nothing as well.
    load("<p>Choose your download</p>");
    load("<p>Choose your download</p>");
    EXPECT_EQ(failed.size(), 2u);
    handling.resetPresses();
    handling.clearPageText();
    load("<p>Choose your download</p>");
    EXPECT_EQ(failed.size(), 2u);
}

} // namespace
} // namespace torvaline::test
