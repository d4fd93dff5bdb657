#include "archive/DesktopTrash.h"

#include "doubles/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>

using torvaline::DesktopTrash;
using torvaline::test::readFile;
using torvaline::test::TempDir;
namespace fs = std::filesystem;

namespace {

void write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace

// Parts of the same name from two lists both reach the trash, neither replacing the other,
// each with an info file the file manager reads to put it back; the trash is made where a
// fresh account has none, and what cannot be trashed stays where it was.
TEST(DesktopTrash, KeepsEveryFileAndWhereItCameFrom) {
    TempDir dir;
    const std::optional<std::string> before =
        std::getenv("XDG_DATA_HOME") ? std::optional<std::string>(std::getenv("XDG_DATA_HOME"))
                                     : std::nullopt;
    ::setenv("XDG_DATA_HOME", (dir.path() / "new" / "data").c_str(), 1);
    fs::create_directories(dir.path() / "one");
    fs::create_directories(dir.path() / "two 100%");
    write(dir.path() / "one" / "set.7z.001", "first");
    write(dir.path() / "two 100%" / "set.7z.001", "second");

    const auto first = DesktopTrash::moveToTrash((dir.path() / "one" / "set.7z.001").string());
    ASSERT_TRUE(first) << first.reason();
    const auto second =
        DesktopTrash::moveToTrash((dir.path() / "two 100%" / "set.7z.001").string());
    ASSERT_TRUE(second) << second.reason();
    const fs::path trash = dir.path() / "new" / "data" / "Trash";
    EXPECT_EQ(DesktopTrash::homeTrash(), trash.string());
    EXPECT_EQ(readFile((trash / "files" / "set.7z.001").string()), "first");
    EXPECT_EQ(readFile((trash / "files" / "set.7z.2.001").string()), "second");
    EXPECT_FALSE(fs::exists(dir.path() / "one" / "set.7z.001"));
    const std::string info = readFile((trash / "info" / "set.7z.2.001.trashinfo").string());
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + (dir.path() / "two%20100%25").string() +
                             "/set.7z.001\nDeletionDate=",
                         0),
              0u)
        << info;
    struct stat folder {};
    ASSERT_EQ(::stat(trash.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);

    const auto gone = DesktopTrash::moveToTrash((dir.path() / "gone").string());
    EXPECT_FALSE(gone);
    EXPECT_FALSE(gone.reason().empty());
    // A trash that is not a folder of ours takes nothing.
    ::setenv("XDG_DATA_HOME", (dir.path() / "bad").c_str(), 1);
    fs::create_directories(dir.path() / "bad");
    write(dir.path() / "bad" / "Trash", "a file");
    write(dir.path() / "keep.zip", "kept");
    EXPECT_FALSE(DesktopTrash::moveToTrash((dir.path() / "keep.zip").string()));
    EXPECT_EQ(readFile((dir.path() / "keep.zip").string()), "kept");

    if (before)
        ::setenv("XDG_DATA_HOME", before->c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}
