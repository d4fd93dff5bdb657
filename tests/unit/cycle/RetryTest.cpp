#include "CycleFixture.h"

#include <chrono>
#include <vector>

namespace torvaline::test {
namespace {

using namespace std::chrono_literals;

TransferResult transient(const std::string& partialPath, std::chrono::seconds retryAfter = 0s,
                         const std::string& reason = "connection cut") {
    TransferResult r{TransferOutcome::Failed, reason};
    r.transient = true;
    r.retryAfter = retryAfter;
    if (!partialPath.empty())
        r.partial = PartialFile{partialPath, 1000, 5000, "\"etag\""};
    return r;
}

class Retry : public CycleFixture {
protected:
    // Pages of the current row up to a started transfer.
    void countdownToTransfer(const std::string& name) {
        loadCountdownPage(2, "http://files/" + name, name);
        seconds(2);
        transferStarts();
    }
};

TEST_F(Retry, TransientFailuresGoBackThroughThePagesUntilTheRetriesAreUsedUp) {
    addRows(1);
    cycle.StartDownload1Click();
    countdownToTransfer("a.zip");
    EXPECT_TRUE(component.Resume.empty()); // a first attempt continues nothing

    const std::vector<std::pair<const char*, int>> waits{
        {"Retry 1 of 3 ", 30}, {"Retry 2 of 3 ", 120}, {"Retry 3 of 3 ", 300}};
    for (std::size_t i = 0; i < waits.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string kept = "/dl/.a.zip.part" + std::to_string(i);
        transferEnds(transient(kept));
        // Nothing else to do: the list waits for this row, which says when it comes back.
        EXPECT_EQ(status(1), DownloadCycle::setAsideText(
                                 static_cast<int>(i) + 1,
                                 TimeText(clock.timeOfDay() + waits[i].second / DayLengthSeconds)));
        EXPECT_NE(list.note(1).find("connection cut"), std::string::npos);
        EXPECT_EQ(state.CurrentRow, 1);
        EXPECT_EQ(list.cell(1, DownloadList::Speed), "");
        EXPECT_EQ(bar.text(0), waits[i].first);
        EXPECT_EQ(bar.text(1), TimeText(waits[i].second / DayLengthSeconds));
        EXPECT_EQ(bar.text(2), " connection cut ");
        const std::size_t opened = browser.navigations.size();
        seconds(waits[i].second - 1);
        EXPECT_EQ(bar.text(0), waits[i].first);
        EXPECT_EQ(bar.text(1), "00:00:01");
        EXPECT_EQ(browser.navigations.size(), opened);
        second();
        // The row's own link again, for a fresh direct link; the old one may have expired.
        ASSERT_EQ(browser.navigations.size(), opened + 1);
        EXPECT_EQ(browser.navigations.back(), "http://host/1");
        EXPECT_FALSE(timer2.enabled());
        EXPECT_EQ(bar.text(0) + bar.text(1) + bar.text(2), "");
        countdownToTransfer("a.zip");
        EXPECT_EQ(component.Resume.path, kept); // the next attempt continues the file
        EXPECT_EQ(component.Resume.validator, "\"etag\"");
    }
    EXPECT_TRUE(component.discarded.empty()); // each partial went on to the next attempt

    transferEnds(transient("/dl/.a.zip.last", 0s, "HTTP 503"));
    EXPECT_EQ(status(1), "Failed");
    EXPECT_EQ(component.discarded, std::vector<std::string>{"/dl/.a.zip.last"});
    EXPECT_FALSE(timer2.enabled());
    EXPECT_EQ(shutdownChecks, 1); // the list is done
    // A row added and started afresh begins with a fresh count and continues nothing.
    addRows(1);
    cycle.StartDownload1Click();
    EXPECT_EQ(browser.navigations.back(), "http://host/2");
    countdownToTransfer("b.zip");
    EXPECT_TRUE(component.Resume.empty());
    transferEnds(transient(""));
    EXPECT_EQ(bar.text(0), "Retry 1 of 3 ");
}

TEST_F(Retry, OnlyTransientFailuresWaitAndRetryAfterWinsUpToHalfAnHour) {
    struct Case {
        const char* name;
        bool transient;
        std::chrono::seconds retryAfter;
        const char* wait; // nullptr: the row fails at once
    };
    const std::vector<Case> cases{
        {"permanent", false, 0s, nullptr},
        {"permanent with Retry-After", false, 60s, nullptr},
        {"no Retry-After", true, 0s, "00:00:30"},
        {"shorter Retry-After", true, 5s, "00:00:05"},
        {"longer Retry-After", true, 600s, "00:10:00"},
        {"Retry-After past the cap", true, 86400s * 3, "00:30:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        list.setRowCount(1);
        state = CycleState{};
        component = FakeDownloadComponent{};
        timer2.setEnabled(false);
        addRows(1);
        state.CurrentRow = 1;
        cycle.StartDownload1Click();
        countdownToTransfer("f");
        TransferResult r = transient("/dl/.f.part", c.retryAfter, "HTTP 404");
        r.transient = c.transient;
        transferEnds(r);
        if (!c.wait) {
            EXPECT_EQ(status(1), "Failed");
            EXPECT_TRUE(sawPanel0(" Download failed - HTTP 404 "));
            EXPECT_EQ(component.discarded, std::vector<std::string>{"/dl/.f.part"});
            EXPECT_FALSE(timer2.enabled());
            continue;
        }
        EXPECT_EQ(bar.text(1), c.wait);
        const auto opened = browser.navigations.size();
        const int span = static_cast<int>(
            std::min(c.retryAfter > 0s ? c.retryAfter : 30s, std::chrono::seconds(1800)).count());
        seconds(span - 1);
        EXPECT_EQ(browser.navigations.size(), opened);
        second();
        EXPECT_EQ(browser.navigations.size(), opened + 1);
        EXPECT_TRUE(component.discarded.empty());
    }
}

TEST_F(Retry, ARetryMeetingTheHostersWaitKeepsItsCountAndItsPartialFile) {
    addRows(1);
    cycle.StartDownload1Click();
    countdownToTransfer("a.zip");
    transferEnds(transient("/dl/.a.part"));
    seconds(30);
    ASSERT_EQ(browser.navigations.size(), 2u);

    loadWaitPage(2); // "try again in 2 minutes"
    second();
    EXPECT_EQ(bar.text(0), "Wait ");
    EXPECT_EQ(bar.text(2), " For the Next Download");
    seconds(119);
    EXPECT_EQ(browser.navigations.size(), 3u);
    countdownToTransfer("a.zip");
    EXPECT_EQ(component.Resume.path, "/dl/.a.part");
    transferEnds(transient("/dl/.a.part2"));
    EXPECT_EQ(bar.text(0), "Retry 2 of 3 ");
    EXPECT_EQ(bar.text(1), "00:02:00");
}

TEST_F(Retry, StopAndStartDuringARetryWaitNeverContinueTheWrongFile) {
    addRows(1);
    cycle.StartDownload1Click();
    countdownToTransfer("a.zip");
    transferEnds(transient("/dl/.a.part"));
    seconds(10);

    // Stop ends the wait like any wait and removes what the attempt kept.
    cycle.StopDownExecute();
    EXPECT_EQ(status(1), "Stopped");
    EXPECT_FALSE(timer2.enabled());
    EXPECT_EQ(bar.text(0) + bar.text(1) + bar.text(2), "");
    EXPECT_EQ(component.discarded, std::vector<std::string>{"/dl/.a.part"});
    seconds(60);
    EXPECT_EQ(browser.navigations.size(), 1u);

    // A new Start begins afresh: no Resume, the count from 1 again.
    cycle.StartDownload1Click();
    EXPECT_EQ(browser.navigations.size(), 2u);
    countdownToTransfer("a.zip");
    EXPECT_TRUE(component.Resume.empty());
    transferEnds(transient("/dl/.a.second"));
    EXPECT_EQ(bar.text(0), "Retry 1 of 3 ");

    // Start during the wait tries at once and ends the pending retry; its partial goes.
    cycle.StartDownload1Click();
    EXPECT_FALSE(timer2.enabled());
    EXPECT_EQ(component.discarded.back(), "/dl/.a.second");
    countdownToTransfer("a.zip");
    transferEnds(transient("/dl/.a.third"));

    // The row's link is edited during the wait: another link's transfer must not continue
    // this one's file.
    DownloadList::Row other = list.row(1);
    other[DownloadList::URL] = "http://host/other";
    list.setRow(1, other);
    seconds(30);
    EXPECT_EQ(browser.navigations.back(), "http://host/other");
    countdownToTransfer("b.zip");
    EXPECT_TRUE(component.Resume.empty());
    EXPECT_EQ(component.discarded.back(), "/dl/.a.third");
}

// A retry whose page asks for a captcha nobody reads is set aside again: the file the attempt
// before it kept waits for the next attempt instead of staying behind on the disk.
TEST_F(Retry, ACaptchaNobodyReadsDuringARetryKeepsTheFileForTheNextAttempt) {
    addRows(1);
    cycle.setCaptchaAnswers(true, 5s);
    cycle.StartDownload1Click();
    countdownToTransfer("a.zip");
    transferEnds(transient("/dl/.a.zip.part"));
    seconds(30);
    ASSERT_EQ(browser.navigations.back(), "http://host/1");
    state.CaptchaImage = "/captcha.png";
    cycle.needCaptcha();
    EXPECT_EQ(status(1), "Needs captcha");
    seconds(6);
    EXPECT_EQ(status(1).rfind("Retry 2 of 3 at ", 0), 0u) << status(1);
    seconds(120);
    countdownToTransfer("a.zip");
    EXPECT_EQ(component.Resume.path, "/dl/.a.zip.part");
    EXPECT_TRUE(component.discarded.empty());
}

// A partial file the last session's crash left is continued by the first transfer of its own
// row, and only in the folder that transfer saves to; a normal end removes it only from there.
TEST_F(Retry, ARestoredPartialFileIsContinuedOnlyByItsRowInTheDownloadFolder) {
    addRows(3);
    const PartialFile cut{"/dl/b.zip.tv0123456789ab.part", 100, 5000, "\"e\""};
    cycle.restorePartial("http://host/2", cut);
    // A crash before its row comes must not lose it: the recovery file still names it.
    ASSERT_EQ(cycle.keptPartials().size(), 1u);
    EXPECT_EQ(cycle.keptPartials()[0].first, "http://host/2");

    cycle.StartDownload1Click();
    countdownToTransfer("a.zip");
    EXPECT_TRUE(component.Resume.empty()); // another link's file is never continued
    transferEnds();
    countdownToTransfer("b.zip");
    EXPECT_EQ(component.Resume.path, cut.path);
    EXPECT_EQ(component.Resume.size, 100u);
    EXPECT_TRUE(cycle.keptPartials().empty()); // the transfer owns it now
    component.busy = true;
    EXPECT_TRUE(cycle.partialPending());
    component.Keeping = cut;
    ASSERT_EQ(cycle.keptPartials().size(), 1u);
    EXPECT_EQ(cycle.keptPartials()[0].first, "http://host/2");
    EXPECT_EQ(cycle.keptPartials()[0].second.path, cut.path);
    transferEnds();

    // The user chose another folder since: the file stays where it is, untouched.
    const PartialFile elsewhere{"/old/c.zip.tv0123456789ac.part", 100, 5000, ""};
    cycle.restorePartial("http://host/3", elsewhere);
    countdownToTransfer("c.zip");
    EXPECT_TRUE(component.Resume.empty());
    transferEnds();
    cycle.restorePartial("http://host/9", elsewhere);
    cycle.discardRetryPartial();
    EXPECT_TRUE(component.discarded.empty());
    cycle.restorePartial("http://host/9", cut);
    cycle.discardRetryPartial();
    EXPECT_EQ(component.discarded, std::vector<std::string>{cut.path});
}

} // namespace
} // namespace torvaline::test
