#include "doubles/TempDir.h"

#include <FileRoutes.h>
#include <HosterSim.h>
#include <HosterSites.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace torvaline::test {
namespace {

struct Child {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs the installed-to-be program with no display at all, reading its output as it comes;
// `onOutput` may signal it. Killed after `limit`.
Child runProgram(const std::vector<std::string>& args,
                 const std::function<void(pid_t, const std::string&)>& onOutput = {},
                 std::chrono::seconds limit = std::chrono::seconds(60)) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        if (var.rfind("DISPLAY=", 0) != 0 && var.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
            var.rfind("QT_QPA_PLATFORM=", 0) != 0)
            env.push_back(var);
    }
    std::vector<char*> envp;
    for (std::string& var : env)
        envp.push_back(var.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore{TORVALINE_BINARY};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0)
        throw std::runtime_error("cannot start " + argStore[0]);

    Child child;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ADD_FAILURE() << "the program did not end in time";
            break;
        }
        if (::poll(fds, 2, 100) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? child.out : child.err).append(buffer, static_cast<std::size_t>(n));
            if (i == 0 && onOutput)
                onOutput(pid, child.out);
        }
    }
    for (const pollfd& f : fds)
        if (f.fd >= 0)
            ::close(f.fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    child.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return child;
}

std::map<std::string, std::string> filesIn(const std::filesystem::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().filename().string()] = {std::istreambuf_iterator<char>(in),
                                                   std::istreambuf_iterator<char>()};
    }
    return files;
}

std::string content(std::uint64_t size) {
    std::string bytes(size, '\0');
    hostersim::fillContent(0, bytes.data(), bytes.size());
    return bytes;
}

class Headless : public ::testing::Test {
protected:
    void SetUp() override { sim.start(); }
    std::string writeList(const std::vector<std::string>& links) {
        std::ofstream out(dir.file("links.txt"), std::ios::binary);
        for (const std::string& link : links)
            out << link << "\r\n";
        return dir.file("links.txt");
    }
    std::filesystem::path downloads() const { return dir.path() / "downloads"; }

    hostersim::HosterSim sim;
    TempDir dir;
};

TEST_F(Headless, ListRunsToItsSummaryWithoutADisplayAndTheStatusTellsWhetherAllCompleted) {
    const std::string list = writeList({sim.rapidshareLink("ok", "a.bin", 70000, 1),
                                        sim.rapidshareLink("tryagain", "b.bin", 3000, 1, "wait=0"),
                                        sim.rapidshareLink("notfound", "c.bin", 100, 1),
                                        sim.rapidshareLink("ok", "d.bin", 5000, 1, "status=404"),
                                        sim.rapidshareLink("nolink", "f.bin", 100, 1),
                                        // Nobody listens there: the page cannot be loaded.
                                        "http://127.0.0.1:1/gone.bin",
                                        // Not a hoster's page: nothing on it to act on.
                                        sim.baseUrl() + "/"});
    const Child run = runProgram({"--headless", "--folder", downloads().string(), list});
    SCOPED_TRACE(run.out + run.err);
    EXPECT_EQ(run.status, 1);
    for (const std::string& expected : std::vector<std::string>{
             "[1/7] Opening http://127.0.0.1:",
             "[1/7] Countdown 00:00:01\n",
             "[1/7] Downloading a.bin (0.07 MB)\n",
             "[1/7] Completed a.bin (0.07 MB)\n",
             "[2/7] Wait 00:00:00 before the next attempt\n",
             // Too small for "0.00 MB", which would read as empty or unknown.
             "[2/7] Downloading b.bin (3000 bytes)\n",
             "[2/7] Completed b.bin (3000 bytes)\n",
             "/rapidshare/notfound/c.bin?size=100&c=1 - the hoster reports the file missing or "
             "blocked\n",
             "[4/7] Failed d.bin - ",
             "[7/7] Failed " + sim.baseUrl() + "/ - the page offers nothing to act on\n",
             "[6/7] Failed http://127.0.0.1:1/gone.bin - page not loaded - ",
             "/rapidshare/nolink/f.bin?size=100&c=1 - the countdown page has no download link\n",
             "Summary: 2 completed, 5 failed\n",
             "  Completed: a.bin\n",
             "  Failed: d.bin - ",
         })
        EXPECT_NE(run.out.find(expected), std::string::npos) << expected;
    // Each failed row is told once, with its reason.
    for (int row = 3; row <= 7; ++row) {
        const std::string line = "[" + std::to_string(row) + "/7] Failed ";
        const auto first = run.out.find(line);
        EXPECT_EQ(run.out.find(line, first + 1), std::string::npos) << line;
    }
    // Not a terminal: no progress line, no escape sequence.
    EXPECT_EQ(run.out.find('\033'), std::string::npos);
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    const auto files = filesIn(downloads());
    EXPECT_EQ(files.size(), 2u);
    EXPECT_TRUE(files.count("a.bin") && files.at("a.bin") == content(70000));
    EXPECT_TRUE(files.count("b.bin") && files.at("b.bin") == content(3000));

    // a.bin is there now: the second a.bin is saved beside it, and told so everywhere.
    const Child good = runProgram({"--headless", "--folder", downloads().string(),
                                   writeList({sim.rapidshareLink("ok", "e.bin", 1000, 0),
                                              sim.rapidshareLink("ok", "a.bin", 2000, 0)})});
    EXPECT_EQ(good.status, 0) << good.out << good.err;
    for (const std::string& expected : std::vector<std::string>{
             "Summary: 2 completed, 0 failed\n", "[2/2] Downloading a (1).bin (",
             "[2/2] Completed a (1).bin", "  Completed: a (1).bin\n"})
        EXPECT_NE(good.out.find(expected), std::string::npos) << expected << "\n" << good.out;
    EXPECT_EQ(good.out.find("Completed a.bin"), std::string::npos) << good.out;
    EXPECT_EQ(filesIn(downloads()).at("a (1).bin"), content(2000));
}

// Three hosters on three addresses: while the first makes its free user wait, the others'
// rows come in; each hoster still gives one file at a time, and one lane is the list as always.
TEST_F(Headless, SeveralHostersDownloadAtOnceAndAHostersWaitHoldsOnlyItsOwnRows) {
    hostersim::HosterSites sites(3);
    sites.start();
    const auto& one = sites.site(0);
    const auto& two = sites.site(1);
    const auto& three = sites.site(2);
    const std::string list = writeList({
        one.xfsLink("wait", "a1.bin", 3000, 0, "waits=3&nocount=1"),
        one.xfsLink("ok", "a2.bin", 3000, 0, "nocount=1"),
        two.rapidshareLink("ok", "b1.bin", 200000, 1, "rate=200000"),
        two.rapidshareLink("ok", "b2.bin", 2000, 1),
        three.baseUrl() + "/file/c1.bin?size=4000",
    });
    const auto position = [](const std::string& out, const std::string& line) {
        const auto at = out.find(line);
        EXPECT_NE(at, std::string::npos) << line;
        return at;
    };
    const Child run = runProgram(
        {"--headless", "--max-concurrent-downloads", "3", "--folder", downloads().string(), list});
    SCOPED_TRACE(run.out + run.err);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Summary: 5 completed, 0 failed\n"), std::string::npos);
    // The first hoster's wait held neither the second hoster nor the plain file.
    EXPECT_LT(position(run.out, "[3/5] Opening"), position(run.out, "[1/5] Completed"));
    EXPECT_LT(position(run.out, "[5/5] Completed"), position(run.out, "[1/5] Completed"));
    // One row a hoster at a time, in list order.
    EXPECT_LT(position(run.out, "[1/5] Completed"), position(run.out, "[2/5] Opening"));
    EXPECT_LT(position(run.out, "[3/5] Completed"), position(run.out, "[4/5] Opening"));
    const auto files = filesIn(downloads());
    EXPECT_EQ(files.size(), 5u);
    EXPECT_TRUE(files.count("b1.bin") && files.at("b1.bin") == content(200000));

    // One lane: the rows one after another, whoever their hoster.
    std::filesystem::remove_all(downloads());
    const Child serial = runProgram(
        {"--headless", "--max-concurrent-downloads", "1", "--folder", downloads().string(), list});
    EXPECT_EQ(serial.status, 0) << serial.out << serial.err;
    for (int row = 2; row <= 5; ++row)
        EXPECT_LT(position(serial.out, "[" + std::to_string(row - 1) + "/5] Completed"),
                  position(serial.out, "[" + std::to_string(row) + "/5] Opening"))
            << serial.out;
}

TEST_F(Headless, SignalDuringATransferStopsTheRowLeavesNoPartialFileAndExits128PlusSignal) {
    for (const int signo : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signo);
        const std::filesystem::path folder = downloads() / std::to_string(signo);
        // About sixteen seconds of transfer: the signal comes well inside it.
        const std::string list =
            writeList({sim.rapidshareLink("ok", "big.bin", 4 << 20, 0, "rate=262144"),
                       sim.rapidshareLink("ok", "next.bin", 1000, 0)});
        bool sent = false;
        const Child run =
            runProgram({"--headless", "--folder", folder.string(), list},
                       [&](pid_t pid, const std::string& out) {
                           if (!sent && out.find("Downloading big.bin") != std::string::npos) {
                               std::this_thread::sleep_for(std::chrono::milliseconds(300));
                               ::kill(pid, signo);
                               sent = true;
                           }
                       });
        SCOPED_TRACE(run.out + run.err);
        ASSERT_TRUE(sent);
        EXPECT_EQ(run.status, 128 + signo);
        EXPECT_NE(run.out.find("[1/2] Stopped big.bin\n"), std::string::npos);
        EXPECT_NE(run.out.find("Summary: 0 completed, 0 failed, 2 not done\n"), std::string::npos);
        EXPECT_EQ(run.out.find("next.bin"), std::string::npos) << "went on after the stop";
        EXPECT_TRUE(filesIn(folder).empty());
    }
}

TEST_F(Headless, ARowTheCheckFoundGoneIsPassedOverAndCountedFailedAndNoCheckLeavesItToTheList) {
    // The first row's countdown gives the check time to read the second row's page first.
    const std::vector<std::string> links = {sim.rapidshareLink("ok", "a.bin", 2000, 2),
                                            sim.rapidshareLink("notfound", "gone.bin", 100, 1),
                                            sim.rapidshareLink("ok", "c.bin", 3000, 0)};
    const auto visits = [this](const std::string& path) {
        int n = 0;
        for (const hostersim::RequestRecord& r : sim.requests())
            n += r.method == "GET" && r.path == path;
        return n;
    };
    const Child run =
        runProgram({"--headless", "--folder", downloads().string(), writeList(links)});
    SCOPED_TRACE(run.out + run.err);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("[2/3] Failed "), std::string::npos);
    EXPECT_NE(
        run.out.find("gone.bin?size=100&c=1 - the hoster reports the file missing or blocked"),
        std::string::npos);
    EXPECT_NE(run.out.find("Summary: 2 completed, 1 failed\n"), std::string::npos);
    // Its page was fetched once, by the check; the list never opened it. The others were
    // looked at by the check and opened by the list.
    EXPECT_EQ(visits("/rapidshare/notfound/gone.bin"), 1);
    EXPECT_EQ(visits("/rapidshare/ok/a.bin"), 2);
    EXPECT_EQ(visits("/rapidshare/ok/c.bin"), 2);

    sim.clearRequests();
    std::filesystem::remove_all(downloads());
    const Child unchecked = runProgram(
        {"--headless", "--no-check", "--folder", downloads().string(), writeList(links)});
    EXPECT_EQ(unchecked.status, 1) << unchecked.out << unchecked.err;
    EXPECT_NE(unchecked.out.find("Summary: 2 completed, 1 failed\n"), std::string::npos);
    EXPECT_EQ(visits("/rapidshare/notfound/gone.bin"), 1);
    EXPECT_EQ(visits("/rapidshare/ok/a.bin"), 1);
}

// The environment variable set for the programs one test starts, as it was again afterwards.
class ScopedEnv final {
public:
    ScopedEnv(const char* name, const std::string& value)
        : m_name(name) {
        if (const char* before = std::getenv(name))
            m_before = before;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_before)
            ::setenv(m_name, m_before->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_before;
};

std::map<std::string, std::string> treeOf(const std::filesystem::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), dir).string()] =
                readFile(entry.path().string());
    return files;
}

// A night's list of two split sets and their .sfv: each part checked as it comes, a part that
// arrives damaged downloaded again, each set extracted into a folder of its own with the
// stored passwords tried in turn, the parts moved to the desktop's trash. Then the same list
// with a part that stays damaged: the row fails, its set is not extracted and says why, the
// other set is, and its parts are deleted as the settings ask.
TEST_F(Headless, SplitSetsAreCheckedExtractedAndTheirPartsPutAway) {
    const std::filesystem::path sets = dir.path() / "sets";
    const std::string make = std::string("python3 ") + TORVALINE_ARCHIVE_SETS_MAKER + " " +
                             sets.string() + " demo-secret >/dev/null";
    if (std::system(make.c_str()) != 0)
        GTEST_SKIP() << "the test sets could not be made (python3, 7zz)";
    sim.serveFolder(sets.string());
    const auto photos = treeOf(dir.path() / "sets-content" / "photos");
    const auto docs = treeOf(dir.path() / "sets-content" / "docs");
    const std::filesystem::path config = dir.path() / "config" / "torvaline";
    std::filesystem::create_directories(config);
    {
        std::ofstream passwords(config / "archive-passwords");
        passwords << "not this one\ndemo-secret\n";
    }
    const ScopedEnv configHome("XDG_CONFIG_HOME", (dir.path() / "config").string());
    const ScopedEnv dataHome("XDG_DATA_HOME", (dir.path() / "data").string());
    const auto listOf = [&](const std::string& damaged, const std::string& how) {
        std::vector<std::string> links;
        for (const char* name : {"demo-docs.zip.001", "demo-docs.zip.002", "demo-photos.7z.001",
                                 "demo-photos.7z.002", "demo-photos.7z.003", "demo.sfv"})
            links.push_back(sim.storedLink(name, "demo-secret",
                                           name == damaged ? "corrupt=" + how : std::string()));
        return writeList(links);
    };

    const std::filesystem::path first = downloads() / "first";
    const Child run = runProgram(
        {"--headless", "--folder", first.string(), listOf("demo-photos.7z.002", "once")});
    SCOPED_TRACE(run.out + run.err);
    EXPECT_EQ(run.status, 0);
    for (const std::string& expected : std::vector<std::string>{
             "demo-photos.7z.002: checksum mismatch, downloading it again\n",
             "Extracted demo-docs (2 parts, 0.83 MB) into " + (first / "demo-docs").string() + "\n",
             "Extracted demo-photos (3 parts, 1.50 MB) into " + (first / "demo-photos").string() +
                 "\n",
             "Summary: 6 completed, 0 failed\n", "Packages: 2 extracted, 0 not extracted\n"})
        EXPECT_NE(run.out.find(expected), std::string::npos) << expected;
    EXPECT_EQ(treeOf(first / "demo-photos"), photos);
    EXPECT_EQ(treeOf(first / "demo-docs"), docs);
    // Only the .sfv is left of the downloads; the parts are in the trash, each with where it
    // came from.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(first),
                            std::filesystem::directory_iterator()),
              3);
    const std::filesystem::path trash = dir.path() / "data" / "Trash";
    const auto trashed = filesIn(trash / "files");
    EXPECT_EQ(trashed.size(), 5u);
    EXPECT_EQ(trashed.at("demo-photos.7z.002"), readFile((sets / "demo-photos.7z.002").string()));
    const std::string info = readFile((trash / "info" / "demo-photos.7z.002.trashinfo").string());
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + (first / "demo-photos.7z.002").string() +
                             "\nDeletionDate=20",
                         0),
              0u)
        << info;

    {
        std::ofstream settings(config / "torvaline.conf");
        settings << "[Archives]\nAfterExtract=delete\nPackageFolders=true\n";
    }
    const std::filesystem::path second = downloads() / "second";
    const Child broken = runProgram(
        {"--headless", "--folder", second.string(), listOf("demo-photos.7z.002", "always")});
    SCOPED_TRACE(broken.out + broken.err);
    EXPECT_EQ(broken.status, 1);
    for (const std::string& expected : std::vector<std::string>{
             "Failed demo-photos.7z.002 - checksum mismatch\n",
             "demo-photos - Extract: part damaged (demo-photos.7z.002: checksum mismatch); parts "
             "kept\n",
             "Extracted demo-docs (2 parts, 0.83 MB) into " +
                 (second / "demo-docs" / "demo-docs").string() + "\n",
             "Summary: 5 completed, 1 failed\n", "Packages: 1 extracted, 1 not extracted\n"})
        EXPECT_NE(broken.out.find(expected), std::string::npos) << expected;
    // Each package in its own folder: the extracted docs without their parts, the photos'
    // good parts kept, the damaged one gone, nothing of either unpacked.
    std::map<std::string, std::string> docsInTheirFolder;
    for (const auto& [name, bytes] : docs)
        docsInTheirFolder["demo-docs/" + name] = bytes;
    EXPECT_EQ(treeOf(second / "demo-docs"), docsInTheirFolder);
    EXPECT_EQ(filesIn(second / "demo-photos").size(), 2u);
    EXPECT_TRUE(std::filesystem::exists(second / "demo-photos" / "demo-photos.7z.003"));
    EXPECT_EQ(filesIn(trash / "files").size(), 5u) << "deleted, not put in the trash";
}

// The hoster's pages tell each part's password and MD5, and the list holds no checksum file
// and the user no password: the encrypted set is extracted with the password its pages gave,
// and the part whose copy comes damaged every time is downloaded again once, then fails.
TEST_F(Headless, PagesTellThePasswordToExtractWithAndTheChecksumEachPartMustMatch) {
    const std::filesystem::path sets = dir.path() / "sets";
    const std::string make = std::string("python3 ") + TORVALINE_ARCHIVE_SETS_MAKER + " " +
                             sets.string() + " page-secret >/dev/null";
    if (std::system(make.c_str()) != 0)
        GTEST_SKIP() << "the test sets could not be made (python3, 7zz)";
    sim.serveFolder(sets.string());
    const ScopedEnv configHome("XDG_CONFIG_HOME", (dir.path() / "no-config").string());
    const ScopedEnv dataHome("XDG_DATA_HOME", (dir.path() / "data").string());
    std::vector<std::string> links;
    for (const char* name : {"demo-docs.zip.001", "demo-docs.zip.002"})
        links.push_back(sim.xfsStoredLink(name, "page-secret", "md5=1"));
    for (const char* name : {"demo-photos.7z.001", "demo-photos.7z.002", "demo-photos.7z.003"})
        links.push_back(sim.xfsStoredLink(
            name, {},
            std::string("md5=1") +
                (std::string(name) == "demo-photos.7z.002" ? "&corrupt=always" : "")));
    const std::filesystem::path folder = downloads() / "pages";
    const Child run = runProgram({"--headless", "--folder", folder.string(), writeList(links)}, {},
                                 std::chrono::seconds(120));
    SCOPED_TRACE(run.out + run.err);
    EXPECT_EQ(run.status, 1);
    for (const std::string& expected : std::vector<std::string>{
             "demo-photos.7z.002: checksum mismatch, downloading it again\n",
             "Failed demo-photos.7z.002 - checksum mismatch\n",
             "demo-photos - Extract: part damaged (demo-photos.7z.002: checksum mismatch); parts "
             "kept\n",
             "Extracted demo-docs (2 parts, 0.83 MB) into " + (folder / "demo-docs").string() +
                 "\n",
             "Summary: 4 completed, 1 failed\n", "Packages: 1 extracted, 1 not extracted\n"})
        EXPECT_NE(run.out.find(expected), std::string::npos) << expected;
    EXPECT_EQ(treeOf(folder / "demo-docs"), treeOf(dir.path() / "sets-content" / "docs"));
    // Each download of the part is its page's second form answered with the file.
    int fetched = 0;
    for (const hostersim::RequestRecord& r : sim.requests())
        fetched +=
            r.method == "POST" && r.status == 302 && r.path.ends_with("/demo-photos.7z.002.html");
    EXPECT_EQ(fetched, 2);
}

TEST_F(Headless, MistakesOnTheCommandLineEndWithStatus2BeforeAnyWindow) {
    // With no display a window could not even start: status 2 proves none was tried.
    const Child bogus = runProgram({"--bogus"});
    EXPECT_EQ(bogus.status, 2);
    EXPECT_NE(bogus.err.find("torvaline: Unknown option 'bogus'"), std::string::npos) << bogus.err;
    const Child missing = runProgram({dir.file("missing.txt")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("missing.txt\" does not exist"), std::string::npos) << missing.err;
    const Child help = runProgram({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: torvaline [options] [LIST-FILE...]\n", 0), 0u) << help.out;
}

} // namespace
} // namespace torvaline::test
