#include "archive/ArchiveExtractor.h"
#include "archive/PackageGrouping.h"

#include "doubles/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

using torvaline::ArchiveExtractor;
using torvaline::ArchivePackage;
using torvaline::ExtractLimits;
using torvaline::ExtractRequest;
using torvaline::ExtractResult;
using torvaline::PackageGrouping;
using torvaline::test::readFile;
using torvaline::test::TempDir;
namespace fs = std::filesystem;

namespace {

// The archives are made once for every test, by the script beside this file.
class Extract : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_sets = new TempDir;
        const std::string command = std::string("python3 ") + TORVALINE_ARCHIVE_MAKER + " " +
                                    s_sets->path().string() + " >/dev/null";
        s_made = std::system(command.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        delete s_sets;
        s_sets = nullptr;
    }
    void SetUp() override {
        if (!s_made)
            GTEST_SKIP() << "the test archives could not be made (python3, 7zz, zip)";
    }

    // The package of files in the sets' folder (or a folder below it), extracted under base.
    static ExtractResult extract(const std::string& folder, const std::vector<std::string>& files,
                                 const std::string& base, std::vector<std::string> passwords = {},
                                 ExtractLimits limits = {}) {
        const std::vector<ArchivePackage> packages = PackageGrouping::group(files);
        EXPECT_EQ(packages.size(), 1u);
        ExtractRequest request{packages.at(0), (s_sets->path() / folder).string(), base,
                               std::move(passwords), limits};
        return ArchiveExtractor::extract(request);
    }

    static std::string original(const std::string& name) {
        return readFile((s_sets->path() / "content" / name).string());
    }

    static inline TempDir* s_sets = nullptr;
    static inline bool s_made = false;
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
        const ExtractResult result = extract(".", c.files, base.path().string(), c.passwords);
        ASSERT_TRUE(result.ok) << result.reason;
        EXPECT_EQ(result.folder, (base.path() / c.folder).string());
        EXPECT_EQ(readFile(result.folder + "/a.txt"), original("a.txt"));
        EXPECT_EQ(readFile(result.folder + "/sub/b.bin"), original("sub/b.bin"));
        EXPECT_EQ(result.files, 2u);
        EXPECT_EQ(result.skipped, 0u);
    }

    // A folder of the set's name that is there already is left alone.
    TempDir base;
    fs::create_directory(base.path() / "t");
    const ExtractResult again = extract(".", {"t.tar.gz"}, base.path().string());
    ASSERT_TRUE(again.ok) << again.reason;
    EXPECT_EQ(again.folder, (base.path() / "t (2)").string());
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
    };
    ExtractLimits tight;
    tight.mostRatio = 100;
    tight.ratioFreeBytes = 1 << 20;
    ExtractLimits fewEntries;
    fewEntries.mostEntries = 10;
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
        {"short", cut7z, {}, {}, "Extract: archive damaged or cut short", {}, 0},
        {"gap",
         {"cut.7z.001", "cut.7z.003", "cut.7z.004"},
         {},
         {},
         "Extract: part missing (cut.7z.002)",
         {},
         0},
        {".", {"aes.zip"}, {"nope", "also wrong"}, {}, "Extract: wrong password", {}, 0},
        {".", {"aes.zip"}, {}, {}, "Extract: password required", {}, 0},
        {".", {"zipcrypto.zip"}, {"nope"}, {}, "Extract: wrong password", {}, 0},
        // What libarchive cannot read says so, whatever the password.
        {".", {"encrypted.7z"}, {"SECRET"}, {}, "Extract: not supported (encrypted 7z)", {}, 0},
        {".", {"hidden.7z"}, {"SECRET"}, {}, "Extract: not supported (encrypted 7z)", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files.front() + " in " + c.folder);
        TempDir outer;
        const fs::path base = outer.path() / "downloads";
        fs::create_directory(base);
        const ExtractResult result =
            extract(c.folder, c.files, base.string(), c.passwords, c.limits);
        EXPECT_EQ(result.reason, c.reason);
        EXPECT_EQ(result.ok, c.reason.empty());
        EXPECT_EQ(entriesUnder(outer.path()).size(),
                  1 + (c.reason.empty() ? 1 + c.entries.size() : 0))
            << "written outside the set's folder, or left behind";
        if (c.reason.empty()) {
            EXPECT_EQ(entriesUnder(result.folder), c.entries);
            EXPECT_EQ(result.skipped, c.skipped);
            for (const std::string& why : result.skippedReasons)
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
    const ExtractResult all = extract(".", {"many.zip"}, pattern);
    ASSERT_TRUE(all.ok) << all.reason;
    EXPECT_EQ(all.files, 100000u);
    EXPECT_TRUE(fs::exists(fs::path(all.folder) / "d99" / "f99999"));
    fs::remove_all(all.folder);

    TempDir other;
    const auto packages = PackageGrouping::group({"many.zip"});
    ExtractRequest request{packages.at(0), s_sets->path().string(), other.path().string(), {}, {}};
    std::stop_source stop;
    std::uint64_t seen = 0;
    const ExtractResult stopped =
        ArchiveExtractor::extract(request, stop.get_token(), [&](const auto& progress) {
            seen = progress.entries;
            if (progress.entries == 500)
                stop.request_stop();
        });
    EXPECT_EQ(stopped.reason, "Extract: stopped");
    EXPECT_EQ(seen, 500u);
    EXPECT_TRUE(fs::is_empty(other.path()));
}
