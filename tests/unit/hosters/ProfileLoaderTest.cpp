#include "hosters/ProfileLoader.h"
#include "hosters/HosterCheck.h"
#include "hosters/Re2Pattern.h"
#include "pages/HosterProfiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace torvaline {
namespace {

namespace fs = std::filesystem;

class HosterFolder {
public:
    HosterFolder() {
        std::random_device seed;
        path = fs::temp_directory_path() /
               ("torvaline-hosters-" + std::to_string(seed()) + std::to_string(seed()));
        fs::create_directories(path);
    }
    ~HosterFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path / name, std::ios::binary) << text;
    }
    fs::path path;
};

const char* const kMinimal = R"toml(
name = "Files"
hosts = ["files.example"]
[button]
value = "Free Download"
[link]
from = "anchor"
pattern = '/get/'
)toml";

HosterProfile withoutOrigin(HosterProfile p) {
    p.origin.clear();
    p.tests.clear();
    return p;
}

TEST(HosterProfilesTest, BuiltInProfilesAreTheCompiledRulesAndTheirPagesHold) {
    const std::vector<HosterProfile> builtins = BuiltinHosters();
    ASSERT_EQ(builtins.size(), 3u);
    EXPECT_EQ(withoutOrigin(builtins[0]), withoutOrigin(FourSharedProfile()));
    EXPECT_EQ(withoutOrigin(builtins[1]), withoutOrigin(RapidShareProfile()));
    EXPECT_EQ(builtins[2].name, "XFileSharing");
    std::ostringstream out;
    EXPECT_TRUE(CheckHosters(builtins, {}, out)) << out.str();
}

TEST(HosterProfilesTest, FirstClaimingProfileNamesTheRowUserProfilesFirst) {
    HosterFolder dir;
    dir.write("files.toml", kMinimal);
    // A user's own profile of the first hoster takes its links from the built-in one.
    dir.write("mine.toml", R"toml(
name = "MyRapid"
contains = ["rapidshare.example"]
[button]
value = "Free user"
[link]
from = "pattern"
pattern = 'href="(http[^"]+)"'
)toml");
    HosterLoad load = LoadHosters({dir.path.string()});
    EXPECT_TRUE(load.problems.empty()) << load.problems.front();
    const HosterProfiles profiles(std::move(load.profiles));
    const struct {
        const char* link;
        const char* host;
    } cases[] = {
        {"http://files.example/abc", "Files"},
        {"https://dl.files.example/abc", "Files"},
        {"http://notfiles.example/abc", ""},
        {"http://rapidshare.example/files/1/a.zip", "MyRapid"},
        {"http://rapidshare.com/files/1/a.zip", "RapidShare"},
        {"http://rapidshare.com/?u=4shared", "4Shared"},
        {"http://127.0.0.1:4000/xfs/ok/abcdef012345/a.bin.html?size=1", "XFileSharing"},
        {"https://host.example/abcdef012345", "XFileSharing"},
        {"https://host.example/some/file.zip", ""},
        // A user's page is not a file code followed by the file's page.
        {"https://code.example/someuser1234/project", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        EXPECT_EQ(profiles.hostName(c.link), c.host);
    }
    // A row nobody claims is handled by the first hoster's rules, as it always was.
    EXPECT_EQ(profiles.forRow("", "http://elsewhere.example/x").name, "RapidShare");
}

// The reference's family example is the built-in profile of the family, and it works; every
// other whole profile it shows loads and its pages hold.
TEST(HosterProfilesTest, ReferenceExampleLoadsAndItsPagesHold) {
    std::ifstream in(TORVALINE_DOCS_DIR "/hoster-profiles.md");
    const std::string doc((std::istreambuf_iterator<char>(in)), {});
    int examples = 0;
    // The key-by-key reference comes in pieces; the whole profiles come after it.
    const std::size_t wholes = doc.find("## Waits and sizes");
    ASSERT_NE(wholes, std::string::npos);
    for (std::size_t at = doc.find("```toml\nname = ", wholes); at != std::string::npos;
         at = doc.find("```toml\nname = ", at + 8), ++examples) {
        const std::size_t end = doc.find("```", at + 8);
        std::string error;
        const auto example = ParseProfile(doc.substr(at + 8, end - at - 8), "example", {}, error);
        ASSERT_TRUE(example) << error;
        std::ostringstream out;
        EXPECT_TRUE(CheckHosters({*example}, {}, out)) << out.str();
    }
    EXPECT_GE(examples, 3);
    const std::size_t from = doc.find("```toml\nname = \"XFileSharing\"");
    ASSERT_NE(from, std::string::npos);
    const std::size_t to = doc.find("```", from + 8);
    std::string error;
    const auto p = ParseProfile(doc.substr(from + 8, to - from - 8), "example", {}, error);
    ASSERT_TRUE(p) << error;
    EXPECT_EQ(p->name, "XFileSharing");
    std::ostringstream out;
    EXPECT_TRUE(CheckHosters({*p}, {}, out)) << out.str();
    EXPECT_EQ(p->messages, BuiltinHosters()[2].messages);
    EXPECT_EQ(p->steps, BuiltinHosters()[2].steps);
    EXPECT_EQ(p->url, BuiltinHosters()[2].url);
}

TEST(HosterProfilesTest, UserFolderFollowsTheConfigurationHome) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = config ? config : "";
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(UserHostersDir(), "/cfg/torvaline/hosters");
    // A relative one is not a base directory: the default under the home folder.
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    EXPECT_EQ(UserHostersDir(), home.empty() ? "" : home + "/.config/torvaline/hosters");
    if (config)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

TEST(HosterProfilesTest, HostileProfileFilesAreRefusedWithWhereAndWhy) {
    std::string deep = "a = ";
    for (int i = 0; i < 20000; ++i)
        deep += "[";
    const struct {
        const char* what;
        std::string text;
        const char* message;
    } cases[] = {
        {"huge", std::string(MaxProfileBytes + 1, '#'), "larger than 256 KiB"},
        {"binary", std::string("name = \"x\"\n\0\x01\x02", 14), "not text"},
        {"deep", deep, "bad.toml:1:"},
        {"not toml", "name = ", "bad.toml:1:"},
        {"bad pattern", "url = '(unclosed'\n" + std::string(kMinimal),
         "bad.toml:1:7: the pattern 'url' does not compile: missing )"},
        {"backreference", "url = '(a)\\1'\n" + std::string(kMinimal), "does not compile"},
        {"claims every link",
         "name = 'All'\nurl = '.*'\n[button]\nvalue='x'\n[link]\nfrom='anchor'\npattern='x'\n",
         "claims every link"},
        {"claims every link by a word",
         "name = 'All'\ncontains = "
         "['http']\n[button]\nvalue='x'\n[link]\nfrom='anchor'\npattern='x'\n",
         "claims every link"},
        {"no links", "name = 'None'\n[button]\nvalue='x'\n", "names no links"},
        {"unknown key", std::string(kMinimal) + "colour = 'red'\n", "unknown key 'colour'"},
        {"wait without group",
         std::string(kMinimal) + "[[message]]\npattern = 'wait \\d+'\nreaction = 'wait'\n",
         "capture group"},
        {"unknown reaction",
         std::string(kMinimal) + "[[message]]\ntext = 'x'\nreaction = 'explode'\n",
         "unknown reaction 'explode'"},
        {"posted link without a name",
         "name='P'\nhosts=['p.example']\n[button]\nvalue='Go'\n[link]\nfrom='post_form'\nform={"
         "name='op',value='download2'}\n",
         "needs 'file_name'"},
        {"test page outside",
         std::string(kMinimal) + "[[test]]\npage = '../../etc/passwd'\nreaction='none'\n",
         "a file name beside the profile"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_FALSE(ParseProfile(c.text, "bad.toml", "/nonexistent", error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(HosterProfilesTest, FolderRefusesSecondProfileOfAHostAndFilesThatAreNotFiles) {
    HosterFolder dir;
    dir.write("a.toml", kMinimal);
    std::string second = kMinimal;
    second.replace(second.find("\"Files\""), 7, "\"Other\"");
    dir.write("b.toml", second);
    ASSERT_EQ(::mkfifo((dir.path / "pipe.toml").c_str(), 0600), 0);
    fs::create_symlink("/etc/hostname", dir.path / "link.toml");
    dir.write("notes.txt", "not a profile");
    const HosterLoad load = LoadHosters({dir.path.string(), "/nonexistent/folder"}, false);
    ASSERT_EQ(load.profiles.size(), 1u);
    EXPECT_EQ(load.profiles[0].name, "Files");
    ASSERT_EQ(load.problems.size(), 3u);
    EXPECT_NE(load.problems[0].find("b.toml: refused: the host files.example is already handled "
                                    "by 'Files'"),
              std::string::npos)
        << load.problems[0];
    EXPECT_NE(load.problems[1].find("link.toml: not a regular file"), std::string::npos);
    EXPECT_NE(load.problems[2].find("pipe.toml: not a regular file"), std::string::npos);
}

TEST(HosterProfilesTest, PatternsThatBacktrackingEnginesChokeOnStayLinear) {
    // Nested quantifiers against a long near-miss: exponential in a backtracking engine.
    const std::string page = "<html><body>" + std::string(4 << 20, 'a') + "!</body></html>";
    std::string profile = std::string(kMinimal) +
                          "[[message]]\npattern = '(a+)+$'\nreaction = 'missing'\n"
                          "[[message]]\npattern = '(a|aa)*b(\\d+)'\nreaction = 'countdown'\n";
    std::string error;
    const auto p = ParseProfile(profile, "slow.toml", {}, error);
    ASSERT_TRUE(p) << error;
    const auto start = std::chrono::steady_clock::now();
    const PageOutcome outcome = RunProfileOnPage(*p, page, "http://files.example/x");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(outcome.reaction, "none");
}

TEST(HosterProfilesTest, CheckReportsEveryPageAndFailsOnAWrongExpectation) {
    HosterFolder dir;
    dir.write("files.toml", std::string(kMinimal) + R"toml(
[[message]]
pattern = 'Wait (\d+) seconds'
reaction = "countdown"
[[test]]
page = "countdown.html"
url = "http://files.example/f/1"
reaction = "countdown"
wait = 9
link = "http://files.example/get/1/a.bin"
name = "a.bin"
[[test]]
html = "<p>Wait 9 seconds</p>"
reaction = "wait"
)toml");
    dir.write("countdown.html", "<p>Wait 9 seconds</p><a href=\"/get/1/a.bin\">here</a>");
    const HosterLoad load = LoadHosters({dir.path.string()}, false);
    ASSERT_TRUE(load.problems.empty()) << load.problems.front();
    std::ostringstream out;
    EXPECT_FALSE(CheckHosters(load.profiles, load.problems, out));
    EXPECT_NE(out.str().find("ok   Files page 1 (countdown.html"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("FAIL Files page 2 ((inline)"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("1 of 2 pages hold"), std::string::npos) << out.str();
}

} // namespace
} // namespace torvaline
