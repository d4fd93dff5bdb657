#include "CannedServer.h"
#include "FileServer.h"
#include "TransferRecorder.h"

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <future>
#include <map>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace torvaline {
namespace {

using test::readFile;
using test::Recorder;
using test::writeFile;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// What a folder holds, entry by entry, so that a test can say "exactly as it was".
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const fs::path& p = entry.path();
        const auto status = fs::symlink_status(p);
        std::string what;
        if (fs::is_symlink(status))
            what = "link to " + fs::read_symlink(p).string();
        else if (fs::is_fifo(status))
            what = "pipe";
        else if (fs::is_directory(status))
            what = "folder";
        else
            what = "file " + readFile(p.string());
        entries[p.filename().string()] = what;
    }
    return entries;
}

std::string servedContent(std::size_t size) {
    std::string data(size, '\0');
    hostersim::fillContent(0, data.data(), size);
    return data;
}

// A hoster, a network and a user that do their worst to the folder and the transfer.
class HostileTransferTest : public ::testing::Test {
protected:
    TransferResult fetch(const std::string& url, const std::string& target,
                         CurlTransferOptions options = {}) {
        options.lowSpeedTime = 2;
        options.connectTimeout = 5;
        CurlTransfer transfer(share, options);
        return transfer.transfer(url, target, recorder);
    }

    static inline std::unique_ptr<test::FileServer> server;
    static void SetUpTestSuite() { server = std::make_unique<test::FileServer>(); }
    static void TearDownTestSuite() { server.reset(); }

    std::shared_ptr<CurlShare> share = std::make_shared<CurlShare>();
    Recorder recorder;
    test::TempDir outside;
};

TEST_F(HostileTransferTest, FilesThisTransferDidNotCreateAreNeverTouched) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& folder, const std::string& outsideFile)> plant;
        std::string target;
        std::string query;
        std::string savedAs; // empty: the transfer fails, saying `reason`
        std::string reason;
    };
    const std::string longName = std::string(251, 'n') + ".bin";
    const auto file = [](const char* name, const char* text) {
        return [=](const fs::path& folder, const std::string&) {
            writeFile((folder / name).string(), text);
        };
    };
    const std::vector<Case> cases = {
        {"a finished file named like the old temporary", file("thing.part", "row 1"), "thing",
         "size=5000", "thing", ""},
        {"the same, when the answer is an error", file("thing.part", "row 1"), "thing",
         "size=10&status=404", "", "HTTP status 404"},
        {"the same, when the connection is cut", file("thing.part", "row 1"), "thing",
         "size=9000&cut=4000", "", "closed after 4000"},
        {"a hard link planted under the old temporary name",
         [](const fs::path& folder, const std::string& out) {
             fs::create_hard_link(out, folder / "t.bin.part");
         },
         "t.bin", "size=5000", "t.bin", ""},
        {"a symbolic link planted under the old temporary name",
         [](const fs::path& folder, const std::string& out) {
             fs::create_symlink(out, folder / "s.bin.part");
         },
         "s.bin", "size=5000", "s.bin", ""},
        {"a hard link under the target name",
         [](const fs::path& folder, const std::string& out) {
             fs::create_hard_link(out, folder / "h.bin");
         },
         "h.bin", "size=5000", "h (1).bin", ""},
        {"files the user already had",
         [](const fs::path& folder, const std::string&) {
             writeFile((folder / "report.pdf").string(), "mine");
             writeFile((folder / "report (1).pdf").string(), "mine too");
         },
         "report.pdf", "size=3000", "report (2).pdf", ""},
        {"a name without extension", file("README", "mine"), "README", "size=100", "README (1)",
         ""},
        // The number must not make the name longer than a file system takes.
        {"the longest name, taken", file(longName.c_str(), "mine"), longName, "size=100",
         std::string(247, 'n') + " (1).bin", ""},
        {"a folder under the target name",
         [](const fs::path& folder, const std::string&) { fs::create_directory(folder / "d.bin"); },
         "d.bin", "size=100", "", "exists and is not a regular file"},
        {"a symbolic link under the target name",
         [](const fs::path& folder, const std::string& out) {
             fs::create_symlink(out, folder / "l.bin");
         },
         "l.bin", "size=100", "", "exists and is not a regular file"},
        {"a pipe under the target name",
         [](const fs::path& folder, const std::string&) {
             ASSERT_EQ(mkfifo((folder / "p.bin").c_str(), 0600), 0);
         },
         "p.bin", "size=100", "", "exists and is not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir folder;
        const std::string outsideFile = outside.file("outside");
        writeFile(outsideFile, "outside the folder");
        c.plant(folder.path(), outsideFile);
        auto expected = snapshot(folder.path());
        recorder = Recorder();

        auto running = std::async(std::launch::async, [&] {
            return fetch(server->url("/file/x?" + c.query), folder.file(c.target));
        });
        if (running.wait_for(15s) != std::future_status::ready) {
            ADD_FAILURE() << "the transfer blocked";
            // Lets a writer stuck on a pipe go on, so that the test ends.
            const int reader = ::open(folder.file(c.target).c_str(), O_RDONLY | O_NONBLOCK);
            running.wait();
            ::close(reader);
        }
        const TransferResult result = running.get();

        if (c.savedAs.empty()) {
            EXPECT_EQ(result.outcome, TransferOutcome::Failed);
            EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
            // What a cut left is handed back for a later attempt, and goes when dropped.
            CurlTransfer(share).discardPartial(result.partial);
        } else {
            EXPECT_EQ(result.outcome, TransferOutcome::Succeeded) << result.reason;
            EXPECT_EQ(result.savedPath, folder.file(c.savedAs));
            EXPECT_EQ(recorder.saving, std::vector<std::string>{folder.file(c.savedAs)});
            const auto size = std::stoul(c.query.substr(5));
            expected[c.savedAs] = "file " + servedContent(size);
        }
        EXPECT_EQ(snapshot(folder.path()), expected);
        EXPECT_EQ(readFile(outsideFile), "outside the folder");
    }
}

TEST_F(HostileTransferTest, TwoRowsOfTheSameNameKeepBothFiles) {
    test::TempDir folder;
    const auto first = fetch(server->url("/file/same.zip?size=1000"), folder.file("same.zip"));
    const auto second = fetch(server->url("/file/same.zip?size=2000"), folder.file("same.zip"));
    EXPECT_EQ(first.savedPath, folder.file("same.zip"));
    EXPECT_EQ(second.savedPath, folder.file("same (1).zip"));
    EXPECT_EQ(readFile(folder.file("same.zip")), servedContent(1000));
    EXPECT_EQ(readFile(folder.file("same (1).zip")), servedContent(2000));
    EXPECT_EQ(snapshot(folder.path()).size(), 2u);
}

TEST_F(HostileTransferTest, AnswersThatAreNotTheFileSaveNothing) {
    struct Case {
        const char* name;
        std::string query;
        std::string target;
        std::string reason; // empty: saved
    };
    const std::vector<Case> cases = {
        {"an error page announced as a web page", "page=typed", "f.zip", "Download limit reached"},
        {"an error page sent as the file", "page=sniffed", "f.zip", "Download limit reached"},
        {"a web page the user asked for", "page=typed", "f.html", ""},
        {"a petabyte announced, trickling", "size=100000&rate=2000&announce=1125899906842624",
         "f.zip", "Not enough free space: the file needs 1.0 PiB, "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir folder;
        recorder = Recorder();
        const auto began = std::chrono::steady_clock::now();
        const auto result = fetch(server->url("/file/f?" + c.query), folder.file(c.target));
        EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
        if (c.reason.empty()) {
            EXPECT_EQ(result.outcome, TransferOutcome::Succeeded) << result.reason;
            EXPECT_NE(readFile(folder.file(c.target)).find("<title>"), std::string::npos);
            continue;
        }
        EXPECT_EQ(result.outcome, TransferOutcome::Failed);
        EXPECT_EQ(result.reason.rfind(c.reason, 0), 0u) << result.reason;
        EXPECT_FALSE(result.transient);
        EXPECT_TRUE(fs::is_empty(folder.path()));
    }
}

// The bytes of version `version` of a served file (the emulator's changed files).
std::string versionContent(std::size_t size, int version) {
    std::string data = servedContent(size);
    if (version != 0)
        for (char& c : data)
            c = static_cast<char>(c ^ (0x5A + version));
    return data;
}

TEST_F(HostileTransferTest, ServersThatLieNeitherSpliceNorDodgeTheStallNorPassAPageOff) {
    enum class Kind { Resume, Stall, Page };
    struct Case {
        const char* name;
        Kind kind;
        std::string query;
    };
    const std::vector<Case> cases = {
        // Cut once, then asked again for the rest: the file must come out as one version.
        {"an honest server continues the cut file", Kind::Resume, ""},
        {"no validator, the file changed", Kind::Resume, "&changes=1&etag=none"},
        {"a weak validator, the file changed", Kind::Resume, "&changes=1&etag=weak"},
        {"an ETag that lies, the file changed", Kind::Resume, "&changes=1&etag=fixed"},
        {"an ETag that lies, If-Range ignored", Kind::Resume,
         "&changes=1&etag=fixed&ifrange=ignore"},
        // 100 bytes every 5.5 s: each burst restarts libcurl's own low-speed clock.
        {"a trickle of bursts", Kind::Stall, "size=100000&burst=100&every=5500"},
        {"an error page behind comments", Kind::Page, "page=commented"},
        {"an XHTML error page", Kind::Page, "page=xhtml"},
        {"a gzip-encoded error page nobody asked for", Kind::Page, "page=gzip"},
    };
    constexpr std::size_t Size = 200000;
    constexpr std::size_t Cut = 80000;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir folder;
        CurlTransferOptions options;
        options.lowSpeedTime = 6;
        options.connectTimeout = 5;
        CurlTransfer transfer(share, options);
        const auto began = std::chrono::steady_clock::now();
        recorder = Recorder();
        recorder.abortAfter = began + 25s;
        if (c.kind == Kind::Resume) {
            std::string name = "lie";
            name += std::to_string(++n);
            const std::string url = server->url("/file/" + name + "?size=" + std::to_string(Size) +
                                                "&cutonce=" + std::to_string(Cut) + c.query);
            const TransferResult first = transfer.transfer(url, folder.file("f.bin"), recorder);
            ASSERT_EQ(first.outcome, TransferOutcome::Failed);
            recorder = Recorder();
            const TransferResult second =
                transfer.transfer(url, folder.file("f.bin"), first.partial, recorder);
            ASSERT_EQ(second.outcome, TransferOutcome::Succeeded) << second.reason;
            int served = 0;
            for (const auto& r : hostersim::fileRequests(server->server()))
                served += r.name == name ? 1 : 0;
            const bool changes = c.query.find("changes") != std::string::npos;
            // The last version served, whole: the changed file never follows the old head.
            EXPECT_TRUE(readFile(folder.file("f.bin")) ==
                        versionContent(Size, changes ? served - 1 : 0));
            EXPECT_EQ(recorder.resumedFrom, changes ? 0u : Cut);
            EXPECT_EQ(snapshot(folder.path()).size(), 1u);
            continue;
        }
        const auto result =
            transfer.transfer(server->url("/file/f?" + c.query), folder.file("f.zip"), recorder);
        EXPECT_EQ(result.outcome, TransferOutcome::Failed);
        if (c.kind == Kind::Stall) {
            EXPECT_NE(result.reason.find("stalled"), std::string::npos) << result.reason;
            EXPECT_TRUE(result.transient);
            EXPECT_LT(std::chrono::steady_clock::now() - began, 20s);
            transfer.discardPartial(result.partial);
        } else {
            EXPECT_EQ(result.reason, "Download limit reached");
            EXPECT_FALSE(result.transient);
        }
        EXPECT_TRUE(fs::is_empty(folder.path()));
    }
}

// A small file system of its own, so that free space is something the test controls.
class SmallDisk final {
public:
    explicit SmallDisk(const char* size) {
        const std::string options = std::string("size=") + size;
        m_mounted = ::mount("tmpfs", m_dir.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (m_mounted)
            ::umount2(m_dir.path().c_str(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    std::string file(const std::string& name) const { return m_dir.file(name); }
    std::uint64_t freeBytes() const {
        struct statvfs vfs {};
        ::statvfs(m_dir.path().c_str(), &vfs);
        return std::uint64_t{vfs.f_bavail} * vfs.f_frsize;
    }

private:
    test::TempDir m_dir;
    bool m_mounted = false;
};

TEST_F(HostileTransferTest, DiskSpaceIsClaimedOnlyAheadOfTheDataThatCame) {
    SmallDisk disk("40m");
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";

    const auto tooBig = fetch(server->url("/file/f?size=100&announce=67108864"), disk.file("f"));
    EXPECT_EQ(tooBig.outcome, TransferOutcome::Failed);
    EXPECT_EQ(
        tooBig.reason.rfind("Not enough free space: the file needs 64.0 MiB, 40.0 MiB free.", 0),
        0u)
        << tooBig.reason;
    EXPECT_FALSE(tooBig.transient);

    // 32 MiB announced, 1 MiB sent: the rest must not be taken from the disk in advance.
    std::uint64_t leastFree = disk.freeBytes();
    recorder = Recorder();
    recorder.abortAtBytes = 1u << 20;
    recorder.watch = [&] { leastFree = std::min(leastFree, disk.freeBytes()); };
    const auto trickle =
        fetch(server->url("/file/f?size=1048576&rate=4000000&announce=33554432"), disk.file("f"));
    EXPECT_EQ(trickle.outcome, TransferOutcome::Cancelled);
    EXPECT_GE(leastFree, 20u << 20);
    EXPECT_GE(disk.freeBytes(), 39u << 20);
}

// libcurl takes the last of two Content-Length headers and reads past one it cannot parse: a
// body cut short or run on would be saved as the file. Such an answer is a failed attempt.
TEST_F(HostileTransferTest, AnAnswerWhoseLengthCannotBeReadIsNeverTheFile) {
    struct Case {
        const char* name;
        std::string headers;
        std::string body;
        std::string reason; // empty: saved
    };
    const std::string disagree = "The server announced two different lengths for the file.";
    const std::string noNumber = "The server announced a length that is not a number of bytes.";
    const std::vector<Case> cases = {
        {"a short length, then the real one", "Content-Length: 5\r\nContent-Length: 10\r\n",
         "0123456789", disagree},
        {"the real length, then a short one", "Content-Length: 10\r\nContent-Length: 5\r\n",
         "0123456789", disagree},
        {"an exponent", "Content-Length: 1e30\r\n", "x", noNumber},
        {"more than a file can hold", "Content-Length: 99999999999999999999999\r\n", "x", noNumber},
        {"a sign", "Content-Length: -1\r\n", "x", noNumber},
        {"empty", "Content-Length:\r\n", "x", noNumber},
        {"one length said twice", "Content-Length: 10\r\nContent-Length: 10\r\n", "0123456789", ""},
        {"one length listed twice", "Content-Length: 10, 10\r\n", "0123456789", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::CannedServer canned("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n" +
                                  c.headers + "Connection: close\r\n\r\n" + c.body);
        test::TempDir folder;
        recorder = Recorder();
        const auto result = fetch(canned.url("/f.bin"), folder.file("f.bin"));
        if (c.reason.empty()) {
            EXPECT_EQ(result.outcome, TransferOutcome::Succeeded) << result.reason;
            EXPECT_EQ(readFile(folder.file("f.bin")), c.body);
            continue;
        }
        EXPECT_EQ(result.outcome, TransferOutcome::Failed);
        EXPECT_EQ(result.reason, c.reason);
        EXPECT_TRUE(fs::is_empty(folder.path()));
    }
}

// A body of unknown length has no size to check the disk against: it stops while the larger
// of 64 MiB and 1 % of the file system is still free, and takes its part file with it. The
// free space is played by a function of what the part file holds.
TEST_F(HostileTransferTest, AStreamOfUnknownLengthStopsShortOfTheFreeSpaceFloor) {
    constexpr std::uint64_t MiB = 1 << 20;
    struct Case {
        const char* name;
        std::string query;
        std::uint64_t diskSize;
        std::uint64_t freeAtStart;
        std::uint64_t mostWritten; // 0: the file arrives whole
    };
    const std::vector<Case> cases = {
        {"a never-ending stream on a small disk: 64 MiB kept free",
         "size=1000000000000&length=none", 1024 * MiB, 72 * MiB, 8 * MiB},
        {"a never-ending stream on a large disk: 1 % kept free", "size=1000000000000&length=none",
         400 * 1024 * MiB, 4096 * MiB + 6 * MiB, 6 * MiB},
        {"a short stream that fits above the floor", "size=3000000&length=none", 1024 * MiB,
         72 * MiB, 0},
        {"a known length is checked against itself, not the floor", "size=3000000", 1024 * MiB,
         10 * MiB, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir folder;
        recorder = Recorder();
        // A bound of the test's own: a transfer that ignored the floor would fill the disk.
        recorder.abortAtBytes = 32 * MiB;
        std::uint64_t written = 0;
        CurlTransferOptions options;
        options.diskSpace = [&](int fd) {
            struct stat st {};
            ::fstat(fd, &st);
            written = std::max(written, static_cast<std::uint64_t>(st.st_size));
            const std::uint64_t used = std::min(c.freeAtStart, written);
            return DiskSpace{c.freeAtStart - used, c.diskSize};
        };
        const auto result =
            fetch(server->url("/file/s.bin?" + c.query), folder.file("s.bin"), options);
        if (c.mostWritten == 0) {
            EXPECT_EQ(result.outcome, TransferOutcome::Succeeded) << result.reason;
            EXPECT_EQ(readFile(folder.file("s.bin")), servedContent(3000000));
            continue;
        }
        EXPECT_EQ(result.outcome, TransferOutcome::Failed);
        EXPECT_NE(result.reason.find("needs more space than is free"), std::string::npos)
            << result.reason;
        EXPECT_FALSE(result.transient);
        EXPECT_LE(written, c.mostWritten);
        EXPECT_GE(written, c.mostWritten - 2 * MiB);
        EXPECT_TRUE(fs::is_empty(folder.path()));
    }
}

} // namespace
} // namespace torvaline
