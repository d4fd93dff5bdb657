#include "archive/ArchiveExtractor.h"
#include "archive/PackageGrouping.h"

#include "doubles/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

using torvaline::ArchiveExtractor;
using torvaline::ArchivePackage;
using torvaline::Extracted;
using torvaline::ExtractLimits;
using torvaline::ExtractRequest;
using torvaline::FailureCause;
using torvaline::PackageGrouping;
using torvaline::Result;
using torvaline::test::readFile;
using torvaline::test::TempDir;
namespace fs = std::filesystem;

namespace {

// Test sets made once for every test of a suite, by the suite's script beside this file
// (Suite::Maker), into a folder removed after the suite; without them the tests are skipped,
// saying what they need (Suite::Needs).
template <typename Suite> class MadeSets : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_sets = new TempDir;
        const std::string command =
            std::string("python3 ") + Suite::Maker + " " + s_sets->path().string() + " >/dev/null";
        s_made = std::system(command.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        delete s_sets;
        s_sets = nullptr;
    }
    void SetUp() override {
        if (!s_made)
            GTEST_SKIP() << Suite::Needs;
    }

    static std::string original(const std::string& name) {
        return readFile((s_sets->path() / "content" / name).string());
    }

    static inline TempDir* s_sets = nullptr;
    static inline bool s_made = false;
};

// The archives of every other kind.
class Extract : public MadeSets<Extract> {
public:
    static constexpr const char* Maker = TORVALINE_ARCHIVE_MAKER;
    static constexpr const char* Needs = "the test archives could not be made (python3, 7zz, zip)";

protected:
    // The package of files in the sets' folder (or a folder below it), extracted under base.
    static Result<Extracted> extract(const std::string& folder,
                                     const std::vector<std::string>& files, const std::string& base,
                                     std::vector<std::string> passwords = {},
                                     ExtractLimits limits = {}) {
        const std::vector<ArchivePackage> packages = PackageGrouping::group(files);
        EXPECT_EQ(packages.size(), 1u);
        ExtractRequest request{packages.at(0), (s_sets->path() / folder).string(), base,
                               std::move(passwords), limits};
        return ArchiveExtractor::extract(request);
    }
};

std::vector<std::string> entriesUnder(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(e.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// Every kind of set the lists bring, read back byte for byte into a folder of its own.
TEST_F(Extract, UnpacksEveryKindOfSetIntoItsOwnFolder) {
    struct Case {
        std::vector<std::string> files;
        std::vector<std::string> passwords;
        std::string folder;
    };
    const std::vector<Case> cases = {
        {{"cut.7z.001", "cut.7z.002", "cut.7z.003", "cut.7z.004"}, {}, "cut"},
        {{"cut.zip.001", "cut.zip.002", "cut.zip.003", "cut.zip.004"}, {}, "cut"},
        {{"spanned.z01", "spanned.z02", "spanned.z03", "spanned.zip"}, {}, "spanned"},
        {{"t.tar.gz"}, {}, "t"},
        {{"t.tar.bz2"}, {}, "t"},
        {{"t.tar.xz"}, {}, "t"},
        {{"t.tar.zst"}, {}, "t"},
        // Passwords tried in turn: the right one need not come first.
        {{"aes.zip"}, {"wrong", "SECRET"}, "aes"},
        {{"zipcrypto.zip"}, {"wrong", "SECRET"}, "zipcrypto"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files.front());
        TempDir base;
        const Result<Extracted> result = extract(".", c.files, base.path().string(), c.passwords);
        ASSERT_TRUE(result.ok()) << result.reason();
        EXPECT_EQ(result->folder, (base.path() / c.folder).string());
        EXPECT_EQ(readFile(result->folder + "/a.txt"), original("a.txt"));
        EXPECT_EQ(readFile(result->folder + "/sub/b.bin"), original("sub/b.bin"));
        EXPECT_EQ(result->files, 2u);
        EXPECT_EQ(result->skipped, 0u);
    }

    // A folder of the set's name that is there already is left alone.
    TempDir base;
    fs::create_directory(base.path() / "t");
    const Result<Extracted> again = extract(".", {"t.tar.gz"}, base.path().string());
    ASSERT_TRUE(again.ok()) << again.reason();
    EXPECT_EQ(again->folder, (base.path() / "t (2)").string());
    EXPECT_TRUE(fs::is_empty(base.path() / "t"));
}

// Archives as a hostile hoster would make them: nothing lands outside the set's folder, a
// package that cannot be extracted says why and leaves nothing behind, and its parts stay.
TEST_F(Extract, HostileAndBrokenPackagesNeverWriteOutsideTheirFolder) {
    struct Case {
        std::string folder;
        std::vector<std::string> files;
        std::vector<std::string> passwords;
        ExtractLimits limits;
        std::string reason;               // empty: extracted
        std::vector<std::string> entries; // what the set's folder holds afterwards
        std::uint64_t skipped;
        FailureCause cause = FailureCause::Other; // of a failure
    };
    ExtractLimits tight;
    tight.mostRatio = 100;
    tight.ratioFreeBytes = 1 << 20;
    ExtractLimits fewEntries;
    fewEntries.mostEntries = 10;
    ExtractLimits noRoom;
    noRoom.keepFreeBytes = UINT64_MAX;
    const FailureCause password = FailureCause::Authorisation;
    const std::vector<std::string> cut7z = {"cut.7z.001", "cut.7z.002", "cut.7z.003", "cut.7z.004"};
    const std::vector<Case> cases = {
        {".", {"dotdot.zip"}, {}, {}, "", {"ok.txt"}, 2},
        {".", {"absolute.tar"}, {}, {}, "", {"ok.txt"}, 1},
        // The link is not made, so the entry after it is written into a real folder of ours;
        // the hard link out is refused, the one inside the set is kept.
        {".", {"links.tar"}, {}, {}, "", {"ok.txt", "out", "out/evil.txt", "twin.txt"}, 4},
        // Windows' separator is read as one: the file lands in a folder of the set.
        {".", {"names.zip"}, {}, {}, "", {"back", "back/slash.txt", "ok.txt"}, 2},
        {".",
         {"bomb.zip"},
         {},
         tight,
         "Extract: too large (unpacks to more than 100 times its size)",
         {},
         0},
        {".",
         {"claim.tar"},
         {},
         {},
         "Extract: too large (unpacks to more than 1000 times its size)",
         {},
         0},
        {".", {"many.zip"}, {}, fewEntries, "Extract: too many entries (more than 10)", {}, 0},
        {".",
         {"t.tar.gz"},
         {},
         noRoom,
         "Extract: not enough free space",
         {},
         0,
         FailureCause::DiskFull},
        {"short", cut7z, {}, {}, "Extract: archive damaged or cut short", {}, 0},
        {"gap",
         {"cut.7z.001", "cut.7z.003", "cut.7z.004"},
         {},
         {},
         "Extract: part missing (cut.7z.002)",
         {},
         0},
        {".", {"aes.zip"}, {"nope", "also wrong"}, {}, "Extract: wrong password", {}, 0, password},
        {".", {"aes.zip"}, {}, {}, "Extract: password required", {}, 0, password},
        {".", {"zipcrypto.zip"}, {"nope"}, {}, "Extract: wrong password", {}, 0, password},
        // What libarchive cannot read says so, whatever the password.
        {".", {"encrypted.7z"}, {"SECRET"}, {}, "Extract: not supported (encrypted 7z)", {}, 0},
        {".", {"hidden.7z"}, {"SECRET"}, {}, "Extract: not supported (encrypted 7z)", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files.front() + " in " + c.folder);
        TempDir outer;
        const fs::path base = outer.path() / "downloads";
        fs::create_directory(base);
        const Result<Extracted> result =
            extract(c.folder, c.files, base.string(), c.passwords, c.limits);
        EXPECT_EQ(result.reason(), c.reason);
        EXPECT_EQ(result.ok(), c.reason.empty());
        if (!result) {
            EXPECT_EQ(result.cause(), c.cause);
        }
        EXPECT_EQ(entriesUnder(outer.path()).size(),
                  1 + (c.reason.empty() ? 1 + c.entries.size() : 0))
            << "written outside the set's folder, or left behind";
        if (c.reason.empty()) {
            EXPECT_EQ(entriesUnder(result->folder), c.entries);
            EXPECT_EQ(result->skipped, c.skipped);
            for (const std::string& why : result->skippedReasons)
                EXPECT_FALSE(why.empty());
        }
        for (const std::string& part : c.files)
            EXPECT_TRUE(fs::exists(s_sets->path() / c.folder / part)) << part;
    }
    EXPECT_FALSE(fs::exists("/tmp/torvaline-evil.txt"));
}

// A hundred thousand entries, extracted with progress, and a stop request from the callback
// that takes away what was written.
TEST_F(Extract, ManyEntriesAndAStopOnTheWay) {
    // Memory, where the machine has it: a hundred thousand files cost a real disk half a minute.
    fs::path base = fs::temp_directory_path();
    if (fs::is_directory("/dev/shm"))
        base = "/dev/shm";
    std::string pattern = (base / "torvaline-many-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const struct Removed {
        std::string path;
        ~Removed() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } removed{pattern};
    const Result<Extracted> all = extract(".", {"many.zip"}, pattern);
    ASSERT_TRUE(all.ok()) << all.reason();
    EXPECT_EQ(all->files, 100000u);
    EXPECT_TRUE(fs::exists(fs::path(all->folder) / "d99" / "f99999"));
    fs::remove_all(all->folder);

    TempDir other;
    const auto packages = PackageGrouping::group({"many.zip"});
    ExtractRequest request{packages.at(0), s_sets->path().string(), other.path().string(), {}, {}};
    std::stop_source stop;
    std::uint64_t seen = 0;
    const Result<Extracted> stopped =
        ArchiveExtractor::extract(request, stop.get_token(), [&](const auto& progress) {
            seen = progress.entries;
            if (progress.entries == 500)
                stop.request_stop();
        });
    EXPECT_EQ(stopped.reason(), "Extract: stopped");
    EXPECT_EQ(stopped.cause(), FailureCause::Stopped);
    EXPECT_EQ(seen, 500u);
    EXPECT_TRUE(fs::is_empty(other.path()));
}

namespace {

// The RAR sets, written with the stored method by the script beside this file (no RAR writer
// is packaged): each set in a folder of its own, its parts named as a hoster's users meet them.
class ExtractRar : public MadeSets<ExtractRar> {
public:
    static constexpr const char* Maker = TORVALINE_RAR_MAKER;
    static constexpr const char* Needs = "the RAR sets could not be made (python3)";

protected:
    // Every file of a folder, given last name first: finding the volume order is the
    // package's work.
    static Result<Extracted> extractFolder(const fs::path& folder, const std::string& base,
                                           std::vector<std::string> passwords = {}) {
        std::vector<std::string> files;
        for (const auto& e : fs::directory_iterator(folder))
            files.push_back(e.path().filename().string());
        std::sort(files.rbegin(), files.rend());
        const std::vector<ArchivePackage> packages = PackageGrouping::group(files);
        EXPECT_EQ(packages.size(), 1u);
        if (packages.size() != 1)
            return torvaline::fail(FailureCause::Other, "not one package");
        ExtractRequest request{packages.front(), folder.string(), base, std::move(passwords), {}};
        return ArchiveExtractor::extract(request);
    }
};

} // namespace

// Split sets of RAR 4 (part01.rar ... part13.rar, and name.rar, name.r00, name.r01) and of
// RAR 5 (part1.rar ...), a file cut across the volumes, read back byte for byte.
TEST_F(ExtractRar, VolumesOfEitherNamingAndVersionExtractToTheExactBytes) {
    const std::vector<std::pair<std::string, std::string>> sets = {
        {"rar4-parts", "r4"},  {"rar4-old", "r4old"}, {"rar5-parts", "r5"},
        {"rar4-one", "r4one"}, {"rar5-one", "r5one"},
    };
    for (const auto& [set, name] : sets) {
        SCOPED_TRACE(set);
        TempDir base;
        const Result<Extracted> result = extractFolder(s_sets->path() / set, base.path().string());
        ASSERT_TRUE(result.ok()) << result.reason();
        EXPECT_EQ(result->folder, (base.path() / name).string());
        EXPECT_EQ(entriesUnder(result->folder),
                  (std::vector<std::string>{"a.txt", "sub", "sub/b.bin"}));
        EXPECT_EQ(readFile(result->folder + "/a.txt"), original("a.txt"));
        EXPECT_TRUE(readFile(result->folder + "/sub/b.bin") == original("sub/b.bin"));
        EXPECT_EQ(result->files, 2u);
        EXPECT_EQ(result->bytes, original("a.txt").size() + original("sub/b.bin").size());
    }
}

// A set that is cut, has a hole, a volume twice, or a kind libarchive cannot read says why,
// writes nothing outside the package's folder, leaves nothing behind and keeps its parts.
TEST_F(ExtractRar, BrokenAndUnreadableSetsSayWhyAndLeaveNothing) {
    struct Case {
        std::string set;
        std::vector<std::string> passwords;
        std::string reason;
    };
    const std::string encrypted = "Extract: not supported (encrypted RAR)";
    const std::vector<Case> cases = {
        {"rar4-short", {}, "Extract: archive cut short (r4old.r01 is incomplete)"},
        {"rar5-short", {}, "Extract: archive cut short (r5.part3.rar is incomplete)"},
        {"rar4-nolast", {}, "Extract: part missing (the one after r4old.r00)"},
        {"rar5-nolast", {}, "Extract: part missing (the one after r5.part2.rar)"},
        {"rar4-gap", {}, "Extract: part missing (r4old.r00)"},
        {"rar5-gap", {}, "Extract: part missing (r5.part2.rar)"},
        // The second volume served again for the third: the RAR 4 reader runs on past the
        // file's end, the RAR 5 one stops short of it, neither says a word.
        {"rar4-twice",
         {},
         "Extract: damaged archive (\"sub/b.bin\" is longer than its header says)"},
        {"rar5-twice", {}, "Extract: archive damaged or cut short"},
        // libarchive hands the encrypted bytes of RAR 4 and RAR 5 files out as if they were
        // the content; a password changes nothing.
        {"rar4-crypt", {}, encrypted},
        {"rar4-crypt", {"SECRET"}, encrypted},
        {"rar4-hidden", {"SECRET"}, encrypted},
        {"rar5-crypt", {}, encrypted},
        {"rar5-crypt", {"SECRET"}, encrypted},
        {"rar5-crypt-parts", {"SECRET"}, encrypted},
        {"rar5-hidden", {}, encrypted},
        {"rar4-solid", {}, "Extract: not supported (solid RAR 4)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set);
        TempDir outer;
        const fs::path base = outer.path() / "downloads";
        fs::create_directory(base);
        const auto partsBefore = entriesUnder(s_sets->path() / c.set);
        const Result<Extracted> result =
            extractFolder(s_sets->path() / c.set, base.string(), c.passwords);
        EXPECT_FALSE(result.ok());
        EXPECT_EQ(result.reason(), c.reason);
        EXPECT_EQ(entriesUnder(outer.path()), std::vector<std::string>{"downloads"})
            << "written outside the set's folder, or left behind";
        EXPECT_EQ(entriesUnder(s_sets->path() / c.set), partsBefore);
    }
}

// A RAR cut at any byte, in its headers or its data, fails with a reason. RAR 4 may end
// without an end block, so one cut just between two blocks reads as an archive of fewer
// files: each of them exact, never one short or long of its content.
TEST_F(ExtractRar, ArchivesCutAnywhereNeverGiveAWrongFile) {
    for (const std::string name : {"r4one.rar", "r5one.rar"}) {
        const bool rar5 = name == "r5one.rar";
        const std::string whole =
            readFile((s_sets->path() / (rar5 ? "rar5-one" : "rar4-one") / name).string());
        std::vector<std::size_t> cuts;
        for (std::size_t at = 1; at < 160; ++at)
            cuts.push_back(at);
        for (std::size_t at = 160; at < whole.size(); at += 4099)
            cuts.push_back(at);
        for (std::size_t back = 1; back < 40; ++back)
            cuts.push_back(whole.size() - back);
        std::size_t extracted = 0;
        for (const std::size_t at : cuts) {
            SCOPED_TRACE(name + " cut at " + std::to_string(at));
            TempDir parts;
            torvaline::test::writeFile((parts.path() / name).string(), whole.substr(0, at));
            TempDir outer;
            const Result<Extracted> result = extractFolder(parts.path(), outer.path().string());
            if (!result.ok()) {
                EXPECT_EQ(result.reason().rfind("Extract: ", 0), 0u) << result.reason();
                EXPECT_TRUE(fs::is_empty(outer.path()));
                continue;
            }
            ++extracted;
            EXPECT_FALSE(rar5);
            for (const std::string file : {"a.txt", "sub/b.bin"}) {
                const std::string path = result->folder + "/" + file;
                EXPECT_TRUE(!fs::exists(path) || readFile(path) == original(file)) << file;
            }
        }
        // The cuts between the marker, the main header and the first entries.
        EXPECT_LE(extracted, rar5 ? 0u : 4u);
    }
}
