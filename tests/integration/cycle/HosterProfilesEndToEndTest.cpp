#include "CycleRig.h"

#include "doubles/RecordingRowEvents.h"
#include "hosters/ProfileLoader.h"
#include "list/LinkLines.h"
#include "pages/HosterProfiles.h"

#include <QueryText.h>
#include <XfsPages.h>
#include <gtest/gtest.h>

#include <fstream>

namespace torvaline::test {
namespace {

// The Free Download family over the emulator's second site, through the built-in profile:
// the button posts op=download1, the countdown is read from its span, and the second form is
// posted when it has run out; its redirect brings the file.
TEST(HosterProfilesEndToEndTest, FreeDownloadFamilyDownloadsThroughItsBuiltInProfile) {
    CycleRig rig;
    const HosterProfiles profiles(LoadHosters({}).profiles);
    rig.core.setProfiles(&profiles);
    rig.core.cycle().setUnattended(true);
    struct Row {
        std::string scenario;
        std::string name;
        std::uint64_t size;
        std::string query;
        std::string status;
        int countdown = 1; // the fake clock runs it out at once; the site counts real seconds
    };
    const std::vector<Row> rows{
        {"ok", "x-ok.bin", 70000, "", "Completed"},
        {"wait", "x-wait.bin", 5000, "wait=2", "Completed"},
        {"limit", "x-limit.bin", 5000, "", "Completed"},
        {"notfound", "x-gone.bin", 5000, "", "Failed"},
        {"nolink", "x-nolink.bin", 5000, "", "Failed"},
        {"ok", "x-cut.bin", 50000, "cutonce=20000", "Completed"},
        // Posted long before the site's countdown ran out: its page, not a file, comes back.
        {"ok", "x-early.bin", 5000, "", "Failed", 60},
        // The family's other themes: the countdown in another span or a script variable, the
        // wait in seconds, the second form answered by a page holding the link, no countdown
        // at all, the digit captcha.
        {"ok", "t1-ok.bin", 6000, "theme=1", "Completed"},
        {"wait", "t1-wait.bin", 5000, "theme=1&waits=3", "Completed"},
        {"ok", "t1-now.bin", 5000, "theme=1&nocount=1&captcha=1", "Completed"},
        {"ok", "t2-cap.bin", 7000, "theme=2&captcha=1", "Completed"},
        {"wait", "t2-wait.bin", 5000, "theme=2&wait=1&captcha=1", "Completed"},
        {"ok", "t0-now.bin", 5000, "nocount=1&captcha=1", "Completed"},
    };
    std::vector<std::string> links;
    for (const Row& r : rows)
        links.push_back(rig.sim.xfsLink(r.scenario, r.name, r.size, r.countdown, r.query));
    AppendLinks(rig.list, links);
    rig.core.StartDownload1Click();
    ASSERT_TRUE(rig.run([&] { return rig.listDone(); }, std::chrono::seconds(120)))
        << "stalled on row " << rig.core.state().CurrentRow << ": " << rig.bar.text(0);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        const int row = static_cast<int>(i) + 1;
        EXPECT_EQ(rig.list.cell(row, DownloadList::Host), "XFileSharing");
        EXPECT_EQ(rig.list.cell(row, DownloadList::Status), rows[i].status);
        const bool saved = std::filesystem::exists(rig.dir / rows[i].name);
        EXPECT_EQ(saved, rows[i].status == "Completed");
        if (saved) {
            EXPECT_EQ(std::filesystem::file_size(rig.dir / rows[i].name), rows[i].size);
        }
    }
    EXPECT_EQ(rig.sim.xfs().early("x-ok.bin"), 0);
    EXPECT_EQ(rig.sim.xfs().early("x-early.bin"), 1);
}

// What a family page says of an archive part goes with its row's completion to whoever follows
// up the parts: the password and the MD5 its first page gave (the countdown page after it says
// neither). The next row's pages say nothing, and it carries nothing of the row before; what a
// page gives that is no checksum or no password is left out.
TEST(HosterProfilesEndToEndTest, APagesArchivePasswordAndChecksumGoWithItsRowsCompletionAlone) {
    CycleRig rig;
    const HosterProfiles profiles(LoadHosters({}).profiles);
    rig.core.setProfiles(&profiles);
    rig.core.cycle().setUnattended(true);
    RecordingRowEvents events;
    rig.core.rowEvents().add(events);
    const std::string md5 = "0123456789ABCDEF0123456789abcdef";
    AppendLinks(rig.list,
                {rig.sim.xfsLink("ok", "p1.part1.rar", 5000, 1,
                                 "password=" + hostersim::encodeQueryValue("se&cret <two>") +
                                     "&md5=" + md5),
                 rig.sim.xfsLink("ok", "p1.part2.rar", 6000, 1),
                 rig.sim.xfsLink("ok", "p3.zip", 7000, 1,
                                 "password=" + std::string(300, 'x') + "&md5=" + md5 + "0")});
    rig.core.StartDownload1Click();
    ASSERT_TRUE(rig.run([&] { return rig.listDone(); }, std::chrono::seconds(60)))
        << "stalled on row " << rig.core.state().CurrentRow << ": " << rig.bar.text(0);
    std::vector<RowPhaseEvent> completed;
    for (const RowPhaseEvent& e : events.phases)
        if (e.phase == RowPhase::Completed)
            completed.push_back(e);
    ASSERT_EQ(completed.size(), 3u);
    EXPECT_EQ(completed[0].fileName, "p1.part1.rar");
    EXPECT_EQ(completed[0].pagePassword, "se&cret <two>");
    EXPECT_EQ(completed[0].pageChecksum, "0123456789abcdef0123456789abcdef");
    for (std::size_t i = 1; i < completed.size(); ++i) {
        SCOPED_TRACE(completed[i].fileName);
        EXPECT_EQ(completed[i].pagePassword, "");
        EXPECT_EQ(completed[i].pageChecksum, "");
    }
    rig.core.rowEvents().remove(events);
}

} // namespace
} // namespace torvaline::test

namespace torvaline::test {
namespace {

// The profile written from the documentation alone, for the emulator's "Slow download" shape,
// loaded from its folder like a user's.
TEST(HosterProfilesEndToEndTest, ProfileWrittenFromTheDocumentationDownloadsItsHoster) {
    CycleRig rig;
    HosterLoad load = LoadHosters({TORVALINE_TEST_HOSTERS_DIR});
    ASSERT_TRUE(load.problems.empty()) << load.problems.front();
    const HosterProfiles profiles(std::move(load.profiles));
    rig.core.setProfiles(&profiles);
    rig.core.cycle().setUnattended(true);
    AppendLinks(rig.list, {rig.sim.gateLink("ok", "g-ok.bin", 40000, 2),
                           rig.sim.gateLink("later", "g-later.bin", 3000, 2, "wait=2"),
                           rig.sim.gateLink("dead", "g-dead.bin", 3000, 2)});
    rig.core.StartDownload1Click();
    ASSERT_TRUE(rig.run([&] { return rig.listDone(); }, std::chrono::seconds(60)))
        << "stalled on row " << rig.core.state().CurrentRow << ": " << rig.bar.text(0);
    const char* statuses[] = {"Completed", "Completed", "Failed"};
    for (int row = 1; row <= 3; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(rig.list.cell(row, DownloadList::Host), "Gate");
        EXPECT_EQ(rig.list.cell(row, DownloadList::Status), statuses[row - 1]);
    }
    EXPECT_EQ(std::filesystem::file_size(rig.dir / "g-ok.bin"), 40000u);
    EXPECT_EQ(std::filesystem::file_size(rig.dir / "g-later.bin"), 3000u);
}

} // namespace
} // namespace torvaline::test
