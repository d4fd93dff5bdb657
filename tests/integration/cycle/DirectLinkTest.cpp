#include "CycleRig.h"

#include "doubles/RecordingRowEvents.h"

#include <FileRoutes.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace torvaline::test {
namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string content(std::uint64_t size) {
    std::string bytes(size, '\0');
    hostersim::fillContent(0, bytes.data(), bytes.size());
    return bytes;
}

std::string queryEncoded(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '.' || c == '_') {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

// Links that answer with the file itself, as any web server's do, in one list: each is
// transferred straight into the folder under the name its answer gives (checked like every
// name), or fails with the reason; the rows behind never wait.
TEST(DirectLink, FilesAnsweringALinkComeStraightInUnderTheirOwnNames) {
    CycleRig rig;
    const std::string base = rig.sim.baseUrl();
    struct Case {
        const char* name;
        std::string link;
        const char* status;
        std::string savedAs; // empty: nothing saved
        std::uint64_t size;
        const char* reason; // a part of the failed row's note
    };
    const std::vector<Case> cases{
        {"plain file", base + "/file/photo.jpg?size=70000", "Completed", "photo.jpg", 70000, ""},
        {"Content-Disposition filename* first",
         base + "/attach/x.bin?size=3000&cd=" +
             queryEncoded("attachment; filename=\"plain.txt\"; "
                          "filename*=UTF-8''na%C3%AFve%20file.txt"),
         "Completed", "na\xC3\xAFve file.txt", 3000, ""},
        {"Content-Disposition filename",
         base +
             "/attach/y.bin?size=2000&cd=" + queryEncoded("attachment; filename=\"report;1.pdf\""),
         "Completed", "report;1.pdf", 2000, ""},
        {"a hostile name",
         base +
             "/attach/z.bin?size=100&cd=" + queryEncoded("attachment; filename=\"../../evil.sh\""),
         "Failed", "", 0, "folder separator"},
        {"a redirect to a file", base + "/redirect?to=" + queryEncoded("/file/moved.bin?size=5000"),
         "Completed", "moved.bin", 5000, ""},
        {"a file larger than the disk", base + "/file/huge.bin?size=1000&announce=1000000000000000",
         "Failed", "", 0, "free"},
        {"a good file after them", base + "/file/last.bin?size=4000", "Completed", "last.bin", 4000,
         ""},
    };
    for (const Case& c : cases)
        rig.addRow("", c.link);
    rig.core.StartDownload1Click();
    ASSERT_TRUE(rig.run([&] { return rig.listDone(); }, std::chrono::seconds(60)));
    hostersim::releaseFileRoutes(rig.sim.server());

    std::set<std::string> expected;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const int row = static_cast<int>(i) + 1;
        EXPECT_EQ(rig.list.cell(row, DownloadList::Status), c.status) << rig.list.note(row);
        if (!c.savedAs.empty()) {
            expected.insert(c.savedAs);
            EXPECT_TRUE(readFile(rig.dir / c.savedAs) == content(c.size));
        } else {
            EXPECT_NE(rig.list.note(row).find(c.reason), std::string::npos) << rig.list.note(row);
        }
    }
    // Nothing else in the folder (no partial file), nothing beside it.
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(rig.dir))
        found.insert(entry.path().filename().string());
    EXPECT_EQ(found, expected);
    EXPECT_FALSE(std::filesystem::exists(rig.dir.parent_path() / "evil.sh"));
}

// An answer typed as a web page is read as a page, never saved as a file.
TEST(DirectLink, AnHtmlAnswerIsAPageAfterAll) {
    CycleRig rig;
    rig.addRow("", rig.sim.baseUrl() + "/file/page.html?size=100&page=typed");
    rig.addRow("", rig.sim.baseUrl() + "/file/sniffed.bin?size=100&page=sniffed");
    rig.core.StartDownload1Click();
    rig.run([] { return false; }, std::chrono::seconds(3));
    EXPECT_TRUE(std::filesystem::is_empty(rig.dir));
    EXPECT_NE(rig.list.cell(1, DownloadList::Status), "Completed");
}

// Whoever reports a row (the headless log and summary, the remote control) hears of the file
// as it was saved: beside a name already taken, or under the name the remote control gave,
// never as the page or the link planned it.
TEST(DirectLink, EveryRowIsToldUnderTheNameItsFileWasSavedAs) {
    CycleRig rig;
    RecordingRowEvents events;
    rig.core.rowEvents().add(events);
    for (const char* taken : {"a.bin", "photo.jpg"})
        std::ofstream(rig.dir / taken) << "the user's own";
    struct Case {
        const char* name;
        std::string link;
        std::string out; // the remote control's name for the row
        std::string savedAs;
    };
    const std::vector<Case> cases{
        {"a countdown page's name, taken", rig.sim.rapidshareLink("ok", "a.bin", 3000, 0), "",
         "a (1).bin"},
        {"a direct link's name, taken", rig.sim.baseUrl() + "/file/photo.jpg?size=2000", "",
         "photo (1).jpg"},
        {"a row the remote control named", rig.sim.rapidshareLink("ok", "page.bin", 1000, 0),
         "named.bin", "named.bin"},
    };
    for (const Case& c : cases) {
        const int row = rig.addRow("", c.link);
        if (!c.out.empty())
            rig.core.cycle().setPlacement(rig.list.id(row), "", c.out);
    }
    rig.core.StartDownload1Click();
    ASSERT_TRUE(rig.run([&] { return rig.listDone(); }, std::chrono::seconds(60)));
    hostersim::releaseFileRoutes(rig.sim.server());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const int row = static_cast<int>(i) + 1;
        EXPECT_EQ(rig.list.cell(row, DownloadList::Status), "Completed") << rig.list.note(row);
        EXPECT_TRUE(std::filesystem::exists(rig.dir / c.savedAs));
        int told = 0;
        for (const RowPhaseEvent& e : events.phases) {
            if (e.id != rig.list.id(row) ||
                (e.phase != RowPhase::Transferring && e.phase != RowPhase::Completed))
                continue;
            ++told;
            EXPECT_EQ(e.fileName, c.savedAs);
            EXPECT_EQ(std::filesystem::path(e.filePath), rig.dir / c.savedAs);
        }
        EXPECT_EQ(told, 2);
    }
    EXPECT_EQ(readFile(rig.dir / "a.bin"), "the user's own");
}

} // namespace
} // namespace torvaline::test
