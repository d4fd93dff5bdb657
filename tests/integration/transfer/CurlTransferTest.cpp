#include "FileServer.h"
#include "TransferRecorder.h"

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"
#include "adapters/curl/SpeedLimit.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <optional>
#include <sys/resource.h>
#include <vector>

namespace torvaline {
namespace {

using test::FileServer;
using test::firstWrongByte;
using test::readFile;
using test::Recorder;
using test::TempDir;
using test::writeFile;
namespace fs = std::filesystem;

std::string percentEncoded(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/' ||
            c == ':') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

class CurlTransferTest : public ::testing::Test {
protected:
    CurlTransferOptions fastOptions() {
        CurlTransferOptions options;
        options.lowSpeedTime = 2;
        options.connectTimeout = 5;
        return options;
    }
    TransferResult fetch(const std::string& url, const std::string& target,
                         CurlTransferOptions options = {}) {
        if (options.lowSpeedTime == CurlTransferOptions{}.lowSpeedTime)
            options = fastOptions();
        CurlTransfer transfer(share, options);
        return transfer.transfer(url, target, recorder);
    }
    std::vector<std::string> dirEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static inline std::unique_ptr<FileServer> server;
    static void SetUpTestSuite() { server = std::make_unique<FileServer>(); }
    static void TearDownTestSuite() { server.reset(); }

    std::shared_ptr<CurlShare> share = std::make_shared<CurlShare>();
    Recorder recorder;
    TempDir dir;
};

TEST_F(CurlTransferTest, WholeFilesArriveIntactUnderTheTargetNameOnly) {
    for (const std::uint64_t size : {0ull, 1ull, 1023ull, 1024ull, 3ull * 1048576 + 17}) {
        SCOPED_TRACE(size);
        recorder = Recorder();
        // Built by appending: gcc 12 at -O3 warns (falsely) about "literal" + std::string here.
        std::string name = "f";
        name += std::to_string(size);
        name += ".bin";
        const std::string target = dir.file(name);
        const auto result = fetch(server->url("/file/f.bin?size=" + std::to_string(size)), target);
        EXPECT_EQ(result.outcome, TransferOutcome::Succeeded) << result.reason;
        const std::string data = readFile(target);
        EXPECT_EQ(data.size(), size);
        EXPECT_EQ(firstWrongByte(data), -1);
        EXPECT_FALSE(fs::exists(target + ".part"));
        ASSERT_GE(recorder.events.size(), 4u);
        EXPECT_EQ(recorder.events.front(), "start");
        EXPECT_EQ(recorder.events[1], "progress");
        EXPECT_EQ(recorder.events.back(), "stop");
        EXPECT_EQ(recorder.progress.front().received, 0u);
        EXPECT_EQ(recorder.progress.back().received, size);
        EXPECT_EQ(recorder.progress.back().expected, size);
        EXPECT_EQ(recorder.stopped.outcome, TransferOutcome::Succeeded);
    }
}

TEST_F(CurlTransferTest, FaultsFailWithAReasonAndKeepTheExistingFile) {
    // transient: worth another attempt later (the cycle retries those); retryAfter as the
    // server asked, at most half an hour.
    struct Case {
        const char* name;
        std::string url;
        std::string reason;
        bool transient;
        long retryAfter;
    };
    const std::vector<Case> cases = {
        {"error status", server->url("/file/x?size=100&status=404"), "HTTP status 404", false, 0},
        {"server error", server->url("/file/x?size=100&status=503"), "HTTP status 503", true, 0},
        {"busy, come back in 2 minutes", server->url("/file/x?size=100&status=429&retry=120"),
         "HTTP status 429", true, 120},
        {"request time-out", server->url("/file/x?size=100&status=408"), "HTTP status 408", true,
         0},
        {"come back in a year", server->url("/file/x?size=100&status=503&retry=99999999"),
         "HTTP status 503", true, 1800},
        {"come back on a date",
         server->url("/file/x?size=100&status=503&retry=Fri,%2031%20Dec%202100%2023:59:59%20GMT"),
         "HTTP status 503", true, 1800},
        {"cut", server->url("/file/x?size=100000&cut=1000"),
         "The connection closed after 1000 of 100000 bytes.", true, 0},
        {"no session cookie", server->url("/file/x?size=100&cookie=sid"), "HTTP status 403", false,
         0},
        {"unsupported link", "ftp://127.0.0.1/x", "Only http and https", false, 0},
        {"redirect to a local file", server->url("/go?to=file:///etc/passwd"),
         "Only http and https", false, 0},
        {"redirect to ftp", server->url("/go?to=ftp://127.0.0.1/x"), "Only http and https", false,
         0},
    };
    const std::string target = dir.file("keep.bin");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(target, "precious");
        recorder = Recorder();
        const auto result = fetch(c.url, target);
        EXPECT_EQ(result.outcome, TransferOutcome::Failed);
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
        EXPECT_EQ(result.transient, c.transient);
        EXPECT_EQ(result.retryAfter.count(), c.retryAfter);
        EXPECT_EQ(recorder.stopped.reason, result.reason);
        CurlTransfer(share).discardPartial(result.partial); // kept from a cut, tested apart
        EXPECT_EQ(readFile(target), "precious");
        EXPECT_EQ(dirEntries(), std::vector<std::string>{"keep.bin"});
    }
}

TEST_F(CurlTransferTest, ConnectionRefusedFails) {
    std::string url;
    {
        FileServer gone;
        url = gone.url("/file/x?size=10");
    }
    const auto result = fetch(url, dir.file("x"));
    EXPECT_EQ(result.outcome, TransferOutcome::Failed);
    EXPECT_NE(result.reason.find("Could not connect"), std::string::npos) << result.reason;
    EXPECT_TRUE(result.transient);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST_F(CurlTransferTest, RedirectsAreFollowedOverHttp) {
    const std::string inner = server->url("/file/r.bin?size=5000");
    const auto result = fetch(server->url("/go?to=" + percentEncoded(inner)), dir.file("r.bin"));
    ASSERT_EQ(result.outcome, TransferOutcome::Succeeded) << result.reason;
    EXPECT_EQ(readFile(dir.file("r.bin")).size(), 5000u);
    EXPECT_EQ(recorder.progress.back().expected, 5000u);
}

TEST_F(CurlTransferTest, CookiesComeFromTheSharedJar) {
    share->addCookie("127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc123");
    const auto result = fetch(server->url("/file/c.bin?size=2048&cookie=sid"), dir.file("c"));
    EXPECT_EQ(result.outcome, TransferOutcome::Succeeded) << result.reason;
}

TEST_F(CurlTransferTest, AnAbortAnswerCancelsAndLeavesNoPartialData) {
    writeFile(dir.file("big.bin"), "old");
    recorder.abortAtBytes = 1; // the first notification with data in it
    const auto result =
        fetch(server->url("/file/big.bin?size=50000000&rate=20000000"), dir.file("big.bin"));
    EXPECT_EQ(result.outcome, TransferOutcome::Cancelled);
    EXPECT_EQ(recorder.stopped.outcome, TransferOutcome::Cancelled);
    EXPECT_EQ(dirEntries(), std::vector<std::string>{"big.bin"});
    EXPECT_EQ(readFile(dir.file("big.bin")), "old");
}

TEST_F(CurlTransferTest, AStopAnsweredAtTheFinalCountsKeepsTheOldFile) {
    writeFile(dir.file("done.bin"), "old");
    recorder.abortAtBytes = 4000;
    const auto result = fetch(server->url("/file/done.bin?size=4000"), dir.file("done.bin"));
    EXPECT_EQ(result.outcome, TransferOutcome::Cancelled);
    EXPECT_EQ(readFile(dir.file("done.bin")), "old");
    EXPECT_EQ(dirEntries(), std::vector<std::string>{"done.bin"});
}

// Several rows transfer at once: the user's limit is for them all, each running one taking its
// share, and a transfer that ends gives its share back.
TEST(SpeedLimitTest, TransfersAtOnceShareTheLimit) {
    SpeedLimit limit;
    limit.set(900 * 1024);
    std::optional<SpeedPacer> first(std::in_place, limit);
    EXPECT_EQ(limit.share(), 900u * 1024);
    {
        SpeedPacer second(limit);
        SpeedPacer third(limit);
        EXPECT_EQ(limit.share(), 300u * 1024);
    }
    EXPECT_EQ(limit.share(), 900u * 1024);
    limit.set(0);
    EXPECT_EQ(limit.share(), 0u);
    first.reset();
    limit.set(1);
    EXPECT_EQ(limit.share(), SpeedLimit::Least);
}

TEST_F(CurlTransferTest, ProgressIsPacedWhileDataFlowsAndRegularWhileItStalls) {
    // ~1.5 s of data at 400 KB/s, then a stall that the low-speed limit ends.
    writeFile(dir.file("p"), "precious");
    const auto result =
        fetch(server->url("/file/p.bin?size=1000000&rate=400000&stall=600000"), dir.file("p"));
    EXPECT_EQ(result.outcome, TransferOutcome::Failed);
    EXPECT_NE(result.reason.find("The transfer stalled"), std::string::npos) << result.reason;
    EXPECT_TRUE(result.transient);
    EXPECT_EQ(result.partial.size, 600000u);
    CurlTransfer(share).discardPartial(result.partial);
    EXPECT_EQ(dirEntries(), std::vector<std::string>{"p"});
    EXPECT_EQ(readFile(dir.file("p")), "precious");
    const auto& notes = recorder.progress;
    ASSERT_GE(notes.size(), 4u);
    std::size_t stallNotes = 0;
    for (std::size_t i = 1; i + 1 < notes.size(); ++i) {
        const auto gap = notes[i].at - notes[i - 1].at;
        EXPECT_GE(gap, std::chrono::milliseconds(95)) << "notification " << i;
        EXPECT_LE(gap, std::chrono::milliseconds(1300)) << "notification " << i;
        if (notes[i].received == 600000 && notes[i - 1].received == 600000)
            ++stallNotes;
    }
    EXPECT_GE(stallNotes, 1u);
    EXPECT_EQ(notes.back().received, 600000u);
}

TEST_F(CurlTransferTest, ADeviceTargetIsWrittenInPlaceNotReplaced) {
    const auto result = fetch(server->url("/file/n.bin?size=300000"), "/dev/null");
    EXPECT_EQ(result.outcome, TransferOutcome::Succeeded) << result.reason;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_FALSE(fs::exists("/dev/null.part"));
}

TEST_F(CurlTransferTest, TargetsThatCannotBeWrittenFail) {
    const auto missingDir = fetch(server->url("/file/x?size=10"), dir.file("no/such/x.bin"));
    EXPECT_EQ(missingDir.outcome, TransferOutcome::Failed);
    EXPECT_NE(missingDir.reason.find("Cannot create"), std::string::npos) << missingDir.reason;

    // A full disk: the file size limit makes the space claim and the writes fail.
    signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    const auto full = fetch(server->url("/file/x?size=1000000"), dir.file("full.bin"));
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(full.outcome, TransferOutcome::Failed);
    EXPECT_NE(full.reason.find("Cannot write"), std::string::npos) << full.reason;
    EXPECT_FALSE(full.transient);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

} // namespace
} // namespace torvaline
