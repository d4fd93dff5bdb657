#include "CycleRig.h"

#include <FileRoutes.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace torvaline::test {
namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string expectedContent(std::uint64_t size) {
    std::string content(size, '\0');
    hostersim::fillContent(0, content.data(), content.size());
    return content;
}

int fileRequests(const hostersim::HosterSim& sim, const std::string& name) {
    int n = 0;
    for (const auto& r : sim.requests())
        if (r.path == "/file/" + name)
            ++n;
    return n;
}

class EndToEnd : public ::testing::Test {
protected:
    CycleRig rig;
    // Every text panel 0 showed, in order.
    std::vector<std::string> panel0;

    void SetUp() override {
        rig.bar.setOnChanged([this](int panel) {
            if (panel == 0 && !rig.bar.text(0).empty() &&
                (panel0.empty() || panel0.back() != rig.bar.text(0)))
                panel0.push_back(rig.bar.text(0));
        });
    }
    bool sawPanel0(const std::string& prefix) const {
        for (const auto& t : panel0)
            if (t.rfind(prefix, 0) == 0)
                return true;
        return false;
    }
    std::string status(int row) const { return rig.list.cell(row, DownloadList::Status); }
};

TEST_F(EndToEnd, ListWithEveryScenarioEndsWithTheRightFilesStatusesAndRequests) {
    struct Row {
        std::string host;
        std::string scenario;
        std::string name;
        std::uint64_t size;
        std::string query;
        std::string expectedStatus;
        int presses;
        int fileRequests;
    };
    const std::vector<Row> rows{
        {"RapidShare", "ok", "ok.bin", 70000, "", "Completed", 1, 1},
        {"RapidShare", "tryagainabout", "ta.bin", 5000, "wait=3", "Completed", 2, 1},
        {"RapidShare", "tryagain", "t.bin", 5000, "wait=2", "Completed", 2, 1},
        {"RapidShare", "slots", "s.bin", 5000, "", "Completed", 2, 1},
        {"RapidShare", "wait", "w.bin", 5000, "wait=15", "Completed", 2, 1},
        {"RapidShare", "about", "a.bin", 5000, "wait=4", "Completed", 2, 1},
        {"RapidShare", "reach", "r.bin", 5000, "", "Completed", 2, 1},
        // A server error may pass: three retries through the pages, then the row fails.
        {"RapidShare", "ok", "fail.bin", 5000, "status=500", "Failed", 4, 4},
        // A refusal will not: no retry.
        {"RapidShare", "ok", "gone.bin", 5000, "status=404", "Failed", 1, 1},
        // A connection cut once: the retry's fresh link continues the partial file.
        {"RapidShare", "ok", "cut.bin", 50000, "cutonce=20000", "Completed", 2, 2},
        {"4Shared", "", "four.bin", 3000, "", "Completed", 0, 1},
    };
    for (const Row& r : rows) {
        const std::string link =
            r.host == "4Shared" ? rig.sim.fourSharedLink(r.name, r.size, 3)
                                : rig.sim.rapidshareLink(r.scenario, r.name, r.size, 3, r.query);
        rig.addRow(r.host, link);
    }
    rig.core.shutdown().clickShutBtn();
    rig.core.StartDownload1Click();
    ASSERT_TRUE(rig.run([&] { return rig.listDone(); }, std::chrono::seconds(120)))
        << "stalled on row " << rig.core.state().CurrentRow << ": " << rig.bar.text(0);

    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        const int row = static_cast<int>(i) + 1;
        SCOPED_TRACE(r.name);
        EXPECT_EQ(status(row), r.expectedStatus);
        for (int c = DownloadList::Speed; c <= DownloadList::Estimated; ++c)
            EXPECT_EQ(rig.list.cell(row, c), "");
        if (!r.scenario.empty()) {
            EXPECT_EQ(rig.sim.presses(r.scenario, r.name), r.presses);
        }
        EXPECT_EQ(fileRequests(rig.sim, r.name), r.fileRequests);
    }
    // A row's page, press and file go over a connection the server kept open, as a browser's
    // would, rather than three handshakes a row; only the failed and cut transfers cost more.
    EXPECT_LE(rig.sim.connections(), rows.size() + 4) << rig.sim.requests().size() << " requests";
    // Completed rows left their exact bytes, failed ones nothing under the final name.
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(rig.dir))
        files[entry.path().filename().string()] = readFile(entry.path());
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::string found;
        for (const auto& [name, content] : files)
            if (name.rfind(r.name, 0) == 0 && name.find(".part") == std::string::npos)
                found = name;
        if (r.expectedStatus == "Completed") {
            ASSERT_FALSE(found.empty());
            EXPECT_TRUE(files[found] == expectedContent(r.size));
        } else {
            EXPECT_TRUE(found.empty()) << found;
        }
    }
    // Nothing partial is left once every row has ended.
    for (const auto& [name, content] : files)
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    EXPECT_TRUE(sawPanel0(" Download failed - "));
    // Waits of 3, 2, 2, 1, 4 and 1 minutes passed on the fake clock, not in real time.
    EXPECT_GE(rig.ticks, 13 * 60);

    // The button was down: the notice counts down, then the forced shutdown is asked for.
    EXPECT_TRUE(rig.notice.visible);
    ASSERT_TRUE(rig.run([&] { return !rig.shutdownService.requests.empty(); }));
    EXPECT_EQ(rig.shutdownService.requests.front(), std::make_pair(ExitRequest::ShutDown, true));
}

TEST_F(EndToEnd, RowsTheHosterRefusesFailAndTheListGoesOn) {
    struct Case {
        std::string scenario;
        int presses;
    };
    const std::vector<Case> cases{{"notfound", 0}, {"illegal", 0}, {"nolink", 1}};
    for (const Case& c : cases)
        rig.addRow("RapidShare", rig.sim.rapidshareLink(c.scenario, c.scenario + ".bin", 100, 2));
    const int last = rig.addRow("RapidShare", rig.sim.rapidshareLink("ok", "after.bin", 100, 2));
    rig.core.StartDownload1Click();
    // Nobody at the window: the list still runs to its end.
    ASSERT_TRUE(rig.run([&] { return rig.listDone(); }));
    EXPECT_TRUE(sawPanel0(" Error - Please check the download link "));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(status(static_cast<int>(i) + 1), "Failed");
        EXPECT_EQ(rig.sim.presses(c.scenario, c.scenario + ".bin"), c.presses);
        EXPECT_EQ(fileRequests(rig.sim, c.scenario + ".bin"), 0);
    }
    EXPECT_EQ(status(last), "Completed");
    EXPECT_EQ(rig.shutdownService.privilegeSteps, 0); // never armed
}

TEST_F(EndToEnd, PageThatCannotBeLoadedFailsWithTheReason) {
    rig.addRow("RapidShare", "http://127.0.0.1:1/rapidshare/ok/x.bin");
    rig.core.StartDownload1Click();
    ASSERT_TRUE(rig.run([&] { return rig.listDone(); }));
    EXPECT_TRUE(sawPanel0(" Page not loaded - ")) << rig.bar.text(0);
    EXPECT_EQ(status(1), "Failed");
}

} // namespace
} // namespace torvaline::test
