#include "list/ListFile.h"

#include "doubles/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>

using namespace torvaline;
namespace fs = std::filesystem;

namespace {

class ListFile : public testing::Test {
protected:
    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    static void write(const std::string& file, const std::string& bytes) {
        test::writeFile(file, bytes);
    }
    static std::string read(const std::string& file) { return test::readFile(file); }
    // Everything in the folder, so that a leftover temporary file shows.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static DownloadList listWith(const std::vector<std::string>& links) {
        DownloadList list;
        list.setRowCount(static_cast<int>(links.size()) + 1);
        for (std::size_t i = 0; i < links.size(); ++i) {
            const int r = static_cast<int>(i) + 1;
            list.setCell(r, DownloadList::URL, links[i]);
            list.setCell(r, DownloadList::Host, "RapidShare");
            list.setCell(r, DownloadList::Status, "Completed");
        }
        return list;
    }

    test::TempDir m_temp;
    const fs::path& m_dir = m_temp.path();
};

TEST_F(ListFile, SavedLinksComeBackAsWaitingRows) {
    const std::string file = path("list.txt");
    EXPECT_EQ(SaveGrid(file, listWith({"a", "b", "c"})).reason(), "");
    EXPECT_EQ(read(file), "a\r\nb\r\nc\r\n");

    DownloadList list;
    EXPECT_EQ(LoadFile(file, list).reason(), "");
    ASSERT_EQ(list.rowCount(), 4);
    for (int r = 1; r <= 3; ++r) {
        EXPECT_EQ(list.cell(r, DownloadList::URL), std::string(1, static_cast<char>('a' + r - 1)));
        EXPECT_EQ(list.cell(r, DownloadList::Host), "");
        EXPECT_EQ(list.cell(r, DownloadList::Status), "Waiting...");
    }
}

TEST_F(ListFile, BytesTravelUnchangedAndTitlesAloneGiveAnEmptyFile) {
    const std::string file = path("bytes.txt");
    const std::string odd("\xff\xfe h\xe9llo\t\x1a z\0", 13);
    EXPECT_EQ(SaveGrid(file, listWith({odd, "", " x "})).reason(), "");
    EXPECT_EQ(read(file), odd + "\r\n\r\n x \r\n");
    EXPECT_EQ(ReadListFile(file).value(), (std::vector<std::string>{odd, "", " x "}));

    EXPECT_EQ(SaveGrid(file, DownloadList()).reason(), "");
    EXPECT_EQ(read(file), "");
    EXPECT_EQ(entries(), std::vector<std::string>{"bytes.txt"});
}

TEST_F(ListFile, ReadingSplitsEveryLineEndConventionAlike) {
    using Lines = std::vector<std::string>;
    const std::pair<std::string, Lines> cases[] = {
        {"", {}},
        {"a\r\nb", {"a", "b"}},
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"a\nb\nc\n", {"a", "b", "c"}},
        {"a\rb\rc\r", {"a", "b", "c"}},
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {std::string("a\0b\r\n\x1a\r\nc", 9), {std::string("a\0b", 3), "\x1a", "c"}},
    };
    const std::string file = path("in.txt");
    for (const auto& [bytes, lines] : cases) {
        write(file, bytes);
        EXPECT_EQ(ReadListFile(file).value(), lines) << testing::PrintToString(bytes);
    }
}

TEST_F(ListFile, LoadAppendsAfterExistingRows) {
    const std::string file = path("more.txt");
    write(file, "http://rapidshare.example/x\r\nhttp://4shared.example/y\r\n");
    DownloadList list = listWith({"1", "2", "3", "4"});
    EXPECT_EQ(LoadFile(file, list).reason(), "");
    ASSERT_EQ(list.rowCount(), 7);
    EXPECT_EQ(list.cell(4, DownloadList::URL), "4");
    EXPECT_EQ(list.cell(5, DownloadList::URL), "http://rapidshare.example/x");
    EXPECT_EQ(list.cell(5, DownloadList::Host), "RapidShare");
    EXPECT_EQ(list.cell(6, DownloadList::Host), "4Shared");
}

TEST_F(ListFile, UnreadableFileFailsWithTheSystemMessageAndLeavesTheListAlone) {
    const std::tuple<std::string, FailureCause, std::string> cases[] = {
        {path("missing.txt"), FailureCause::NotFound,
         "Cannot open file \"" + path("missing.txt") + "\": " + std::strerror(ENOENT)},
        {m_dir.string(), FailureCause::Other,
         "\"" + m_dir.string() + "\" is not a plain file: " + std::strerror(EINVAL)},
    };
    for (const auto& [file, cause, text] : cases) {
        DownloadList list = listWith({"keep"});
        const Result<void> loaded = LoadFile(file, list);
        ASSERT_FALSE(loaded.ok()) << "no error for " << file;
        EXPECT_EQ(loaded.cause(), cause) << loaded.reason();
        EXPECT_NE(loaded.reason().find(file), std::string::npos) << loaded.reason();
        EXPECT_NE(loaded.reason().find(text), std::string::npos) << loaded.reason();
        EXPECT_EQ(list.rowCount(), 2);
        EXPECT_EQ(list.cell(1, DownloadList::URL), "keep");
    }
}

TEST_F(ListFile, SaveThatCannotReplaceTheTargetLeavesItAsItWas) {
    // A folder of that name, and a name below a plain file.
    const std::string folder = path("taken");
    fs::create_directory(folder);
    write(folder + "/inside.txt", "old");
    write(path("plain"), "old");
    // A folder that is not there is told apart: the user picks another.
    const std::pair<std::string, FailureCause> cases[] = {
        {folder, FailureCause::Other},
        {path("plain") + "/list.txt", FailureCause::Other},
        {path("gone") + "/list.txt", FailureCause::NotFound},
    };
    for (const auto& [file, cause] : cases) {
        const Result<void> saved = SaveGrid(file, listWith({"a"}));
        ASSERT_FALSE(saved.ok()) << "no error for " << file;
        EXPECT_EQ(saved.cause(), cause) << saved.reason();
        EXPECT_EQ(saved.reason().rfind("Cannot create file \"" + file + "\": ", 0), 0u)
            << saved.reason();
    }
    EXPECT_EQ(read(folder + "/inside.txt"), "old");
    EXPECT_EQ(read(path("plain")), "old");
    EXPECT_EQ(entries(), (std::vector<std::string>{"plain", "taken"}));
}

TEST_F(ListFile, SaveThatFailsWhileWritingKeepsTheOldFile) {
    // A file-size limit makes the write itself fail half way, as a full disk would.
    const std::string file = path("list.txt");
    write(file, "old\r\n");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    const Result<void> written =
        SaveGrid(file, listWith(std::vector<std::string>(200, std::string(100, 'x'))));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written.ok());
    EXPECT_EQ(written.reason().rfind("Cannot write file \"" + file + "\": ", 0), 0u)
        << written.reason();
    EXPECT_EQ(read(file), "old\r\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"list.txt"});
}

TEST_F(ListFile, SaveReplacesAFileKeepingItsRightsAndTheLinksToIt) {
    const std::string file = path("list.txt");
    write(file, "old old old\r\n");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(file, path("link.txt"));

    EXPECT_EQ(SaveGrid(path("link.txt"), listWith({"new"})).reason(), "");

    EXPECT_TRUE(fs::is_symlink(path("link.txt")));
    EXPECT_EQ(read(file), "new\r\n");
    EXPECT_EQ(fs::status(file).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(entries(), (std::vector<std::string>{"link.txt", "list.txt"}));
}

} // namespace

// A list file is the user's, but what it holds is not: a huge file, a pipe or a folder must be
// refused with a reason, never crash, block or exhaust memory; long lines stay whole.
TEST_F(ListFile, RefusesHugeOrSpecialFilesAndKeepsLongLinesWhole) {
    DownloadList list;
    const std::string huge = path("huge.txt");
    { std::ofstream(huge, std::ios::binary) << "http://rapidshare.example/a\r\n"; }
    // Sparse: over the cap without using the disk.
    fs::resize_file(huge, MaxListFileBytes + 1);
    const std::string fifo = path("pipe.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& refused : {huge, fifo, m_dir.string()}) {
        const Result<void> loaded = LoadFile(refused, list);
        ASSERT_FALSE(loaded.ok()) << refused << " was read";
        EXPECT_NE(loaded.reason().find(refused), std::string::npos) << loaded.reason();
        EXPECT_EQ(list.rowCount(), 1);
    }

    const std::string longLine(3 * 1024 * 1024, 'x');
    write(path("long.txt"), "http://a/" + longLine + "\r\nhttp://b\r\n");
    EXPECT_EQ(LoadFile(path("long.txt"), list).reason(), "");
    ASSERT_EQ(list.rowCount(), 3);
    EXPECT_EQ(list.cell(1, DownloadList::URL), "http://a/" + longLine);
    EXPECT_EQ(list.cell(2, DownloadList::URL), "http://b");
}
