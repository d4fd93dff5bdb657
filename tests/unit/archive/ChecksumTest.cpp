#include "archive/ChecksumList.h"
#include "archive/FileChecksum.h"

#include "doubles/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

using torvaline::ChecksumEntry;
using torvaline::ChecksumList;
using torvaline::DigestKind;
using torvaline::FileChecksum;

namespace {

struct Case {
    const char* what;
    DigestKind kind;
    std::string text;
    std::vector<std::pair<std::string, std::string>> entries; // name, digest
    std::size_t ignored;
};

} // namespace

// What an .sfv or .md5 from a hoster holds: every tool's layout, and lines written to make
// a checker crash, read outside the folder or trust the wrong checksum.
TEST(ChecksumList, ReadsEveryLayoutAndLeavesOutHostileLines) {
    const std::string md5 = "25F9E794323B453885F5181F1B624D0B";
    const std::vector<Case> cases = {
        {"sfv with comments, blanks in a name, CRLF and a BOM",
         DigestKind::Crc32,
         "\xEF\xBB\xBF; made by a tool\r\nfilm.part1.rar CBF43926\r\n\r\nmy film.part2.rar   "
         "0000000a\r\n",
         {{"film.part1.rar", "cbf43926"}, {"my film.part2.rar", "0000000a"}},
         0},
        {"md5sum text and binary layouts, BSD layout, no newline at the end",
         DigestKind::Md5,
         md5 + "  a.7z.001\n" + md5 + " *a.7z.002\nMD5 (a.7z.003) = " + md5,
         {{"a.7z.001", "25f9e794323b453885f5181f1b624d0b"},
          {"a.7z.002", "25f9e794323b453885f5181f1b624d0b"},
          {"a.7z.003", "25f9e794323b453885f5181f1b624d0b"}},
         0},
        {"names that leave the folder or name another one",
         DigestKind::Crc32,
         "../etc/passwd cbf43926\n/etc/shadow cbf43926\nsub/x.rar cbf43926\n..\\x.rar "
         "cbf43926\n.. cbf43926\nok.rar cbf43926\n",
         {{"ok.rar", "cbf43926"}},
         5},
        {"binary bytes, control characters, a missing or short checksum",
         DigestKind::Crc32,
         std::string("a") + '\0' +
             "b.rar cbf43926\nbell\a.rar cbf43926\nnochecksum.rar\nshort.rar cbf4392\nok.rar "
             "cbf43926\n",
         {{"ok.rar", "cbf43926"}},
         4},
        {"a name listed twice: once with the same checksum, once with another",
         DigestKind::Crc32,
         "same.rar cbf43926\nsame.rar CBF43926\ntwo.rar cbf43926\ntwo.rar 00000000\n"
         "two.rar cbf43926\n",
         {{"same.rar", "cbf43926"}},
         2},
        {"a line of megabytes without a newline, then a good line",
         DigestKind::Crc32,
         std::string(3 << 20, 'x') + " cbf43926\nok.rar cbf43926\n",
         {{"ok.rar", "cbf43926"}},
         1},
        {"a file past the size read: what fits is kept, the rest named once",
         DigestKind::Crc32,
         [] {
             std::string text;
             while (text.size() <= ChecksumList::MostBytes)
                 text += "; " + std::string(4000, 'x') + "\n";
             return "first.rar cbf43926\n" + text;
         }(),
         {},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::istringstream in(c.text);
        const ChecksumList list = ChecksumList::parse(in, c.kind);
        EXPECT_EQ(list.ignoredCount(), c.ignored);
        EXPECT_LE(list.ignored().size(), ChecksumList::MostReasons);
        if (c.entries.empty()) {
            ASSERT_NE(list.find("first.rar"), nullptr);
            continue;
        }
        ASSERT_EQ(list.entries().size(), c.entries.size());
        for (std::size_t i = 0; i < c.entries.size(); ++i) {
            EXPECT_EQ(list.entries()[i].name, c.entries[i].first);
            EXPECT_EQ(list.entries()[i].digest, c.entries[i].second);
            EXPECT_EQ(list.entries()[i].kind, c.kind);
        }
    }
}

// A part checked against both kinds of file: a good part passes, a changed byte fails with the
// reason the row shows, and what is not a plain file is refused without blocking.
TEST(FileChecksum, MatchesGoodPartsAndNamesTheFailure) {
    torvaline::test::TempDir dir;
    torvaline::test::writeFile(dir.file("good.rar"), "123456789");
    torvaline::test::writeFile(dir.file("bad.rar"), "123456780");
    torvaline::test::writeFile(dir.file("set.sfv"), "GOOD.RAR CBF43926\nbad.rar cbf43926\n");
    torvaline::test::writeFile(dir.file("set.md5"), "25f9e794323b453885f5181f1b624d0b *good.rar\n");
    ASSERT_EQ(::mkfifo(dir.file("pipe.rar").c_str(), 0600), 0);

    const ChecksumList sfv = ChecksumList::read(dir.file("set.sfv"));
    const ChecksumList md5 = ChecksumList::read(dir.file("set.md5"));
    ASSERT_NE(sfv.find("good.rar"), nullptr);
    ASSERT_NE(md5.find("good.rar"), nullptr);
    EXPECT_TRUE(FileChecksum::check(dir.file("good.rar"), *sfv.find("good.rar")).ok());
    EXPECT_TRUE(FileChecksum::check(dir.file("good.rar"), *md5.find("good.rar")).ok());
    const auto bad = FileChecksum::check(dir.file("bad.rar"), *sfv.find("bad.rar"));
    EXPECT_FALSE(bad.ok());
    EXPECT_EQ(bad.reason(), "checksum mismatch");
    // A SHA-1, as a hoster's page gives one.
    const ChecksumEntry sha1{"good.rar", DigestKind::Sha1,
                             "f7c3bc1d808e04732adf679965ccc34ca7ae3441"};
    EXPECT_TRUE(FileChecksum::check(dir.file("good.rar"), sha1).ok());
    EXPECT_EQ(FileChecksum::check(dir.file("bad.rar"), sha1).reason(), "checksum mismatch");
    const auto pipe = FileChecksum::check(dir.file("pipe.rar"), *sfv.find("good.rar"));
    EXPECT_FALSE(pipe.ok());
    EXPECT_EQ(pipe.reason(), "not a plain file");
    EXPECT_EQ(ChecksumList::read(dir.file("pipe.rar")).ignoredCount(), 1u);

    // A part of several blocks, stopped from another thread's request after the first.
    torvaline::test::writeFile(dir.file("big.7z.001"), std::string(3 << 20, 'z'));
    std::stop_source stop;
    int blocks = 0;
    const auto stopped = FileChecksum::check(dir.file("big.7z.001"), *sfv.find("good.rar"),
                                             stop.get_token(), [&](std::uint64_t, std::uint64_t) {
                                                 ++blocks;
                                                 stop.request_stop();
                                             });
    EXPECT_EQ(blocks, 1);
    EXPECT_EQ(stopped.reason(), "stopped");
}
