#include "archive/PackageGrouping.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using torvaline::ArchivePackage;
using torvaline::PackageGrouping;
using torvaline::PackageKind;
using Names = std::vector<std::string>;

namespace {

struct Expected {
    std::string name;
    PackageKind kind;
    Names parts;
    Names missing;
};

struct Case {
    const char* what;
    Names files;
    std::vector<Expected> packages;
};

} // namespace

// The lists a night's downloads leave: sets given out of order and mixed with other files,
// sets with a part missing, and files that look like parts but are none.
TEST(PackageGrouping, FindsTheSetsTheirOrderAndTheirGaps) {
    const std::vector<Case> cases = {
        {"new-style RAR volumes given out of order",
         {"film.part02.rar", "readme.txt", "film.part01.rar", "film.part03.rar"},
         {{"film",
           PackageKind::RarParts,
           {"film.part01.rar", "film.part02.rar", "film.part03.rar"},
           {}}}},
        {"a gap in new-style volumes, and the first missing",
         {"a.part2.rar", "a.part4.rar"},
         {{"a",
           PackageKind::RarParts,
           {"a.part2.rar", "a.part4.rar"},
           {"a.part1.rar", "a.part3.rar"}}}},
        {"old-style RAR: the .rar first, then .r00 on",
         {"b.r01", "B.rar.txt", "b.r00", "b.rar"},
         {{"b", PackageKind::RarOldStyle, {"b.rar", "b.r00", "b.r01"}, {}}}},
        {"old-style RAR without its .rar",
         {"b.r00", "b.r02"},
         {{"b", PackageKind::RarOldStyle, {"b.r00", "b.r02"}, {"b.rar", "b.r01"}}}},
        {"a cut 7z and a cut zip side by side",
         {"x.7z.002", "y.zip.001", "x.7z.001", "x.7z.003", "y.zip.002"},
         {{"x", PackageKind::SevenZipCut, {"x.7z.001", "x.7z.002", "x.7z.003"}, {}},
          {"y", PackageKind::ZipCut, {"y.zip.001", "y.zip.002"}, {}}}},
        {"a cut 7z with its middle part missing",
         {"x.7z.001", "x.7z.003"},
         {{"x", PackageKind::SevenZipCut, {"x.7z.001", "x.7z.003"}, {"x.7z.002"}}}},
        {"a spanned zip: the .zip is the last volume",
         {"s.zip", "s.z02", "s.z01"},
         {{"s", PackageKind::ZipSpanned, {"s.z01", "s.z02", "s.zip"}, {}}}},
        {"a spanned zip whose .zip has not come",
         {"s.z01", "s.z03"},
         {{"s", PackageKind::ZipSpanned, {"s.z01", "s.z03"}, {"s.z02", "s.zip"}}}},
        {"archives of one file each are packages of one",
         {"one.zip", "two.7z", "three.rar", "four.tar.gz", "five.tar.zst", "notes.pdf"},
         {{"one", PackageKind::Single, {"one.zip"}, {}},
          {"two", PackageKind::Single, {"two.7z"}, {}},
          {"three", PackageKind::Single, {"three.rar"}, {}},
          {"four", PackageKind::Single, {"four.tar.gz"}, {}},
          {"five", PackageKind::Single, {"five.tar.zst"}, {}}}},
        {"names that only look like parts",
         {".rar", "movie.part.rar", "x.7z.000", "x.7z.01", "list.zip.bak"},
         {{"movie.part", PackageKind::Single, {"movie.part.rar"}, {}}}},
        {"the same part under two spellings counts once",
         {"d.part1.rar", "d.part01.rar", "d.part2.rar"},
         {{"d", PackageKind::RarParts, {"d.part1.rar", "d.part2.rar"}, {}}}},
        {"a part number far out names a bounded number of gaps",
         {"e.part1.rar", "e.part999999.rar"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<ArchivePackage> got = PackageGrouping::group(c.files);
        if (c.packages.empty() && c.files.front() == "e.part1.rar") {
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0].parts.size(), 2u);
            EXPECT_EQ(got[0].missing.size(), 100u);
            EXPECT_EQ(got[0].missing.front(), "e.part2.rar");
            continue;
        }
        ASSERT_EQ(got.size(), c.packages.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].name, c.packages[i].name);
            EXPECT_EQ(got[i].kind, c.packages[i].kind);
            EXPECT_EQ(got[i].parts, c.packages[i].parts);
            EXPECT_EQ(got[i].missing, c.packages[i].missing);
        }
    }
}

// Files that came together are named as one package, and the name becomes a folder under the
// download folder: a name the sender gives is taken only when it is one plain, visible folder
// name; else the files' shared name before their numbers, else the first file's own.
TEST(PackageGrouping, NamesABatchWithAFolderNameThatStaysWhereItIs) {
    const Names clips = {"clip01.mp4", "clip02.mp4", "clip12.mp4"};
    const struct {
        const char* what;
        std::string given;
        Names files;
        std::string name;
    } cases[] = {
        {"the sender's name, spaces around it dropped", "  Holiday 2026 ", clips, "Holiday 2026"},
        {"a range of videos", "", clips, "clip"},
        {"a range of zips", "", {"pics1.zip", "pics2.zip", "pics3.zip"}, "pics"},
        {"a split set", "", {"film.part1.rar", "film.part2.rar"}, "film"},
        {"letters of a range", "", {"ep_a.mkv", "ep_b.mkv"}, "ep"},
        {"nothing shared", "", {"a.zip", "b.zip"}, "a"},
        {"never half a character",
         "",
         {"caf\xC3\xA9"
          "1.txt",
          "caf\xC3\xA8"
          "2.txt"},
         "caf"},
        {"a path up", "../../escape", clips, "clip"},
        {"a path down and up", "a/../../b", clips, "clip"},
        {"an absolute path", "/etc/cron.d", clips, "clip"},
        {"the folder above", "..", clips, "clip"},
        {"a hidden folder", ".ssh", clips, "clip"},
        {"a control character", "evil\x01name", clips, "clip"},
        {"a line break", "two\nlines", clips, "clip"},
        {"a text-direction override", "photo\xE2\x80\xAEgpj.exe", clips, "clip"},
        {"a backslash", "..\\..\\win", clips, "clip"},
        {"a huge name", std::string(100000, 'A'), clips, "clip"},
        {"file names no folder can take", "", {"..zip", "../x.rar"}, ""},
        {"no file names known", "", {"", ""}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PackageGrouping::batchName(c.given, c.files), c.name);
    }
}
