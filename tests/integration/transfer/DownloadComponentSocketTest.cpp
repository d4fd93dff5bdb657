#include "FileServer.h"

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"
#include "transfer/TDownloadFile.h"

#include "doubles/QueuedEventLoop.h"
#include "doubles/WorkerThreads.h"

#include <gtest/gtest.h>

namespace torvaline {
namespace {

namespace fs = std::filesystem;

// The component on real worker threads and real sockets, with the test as GUI thread.
class DownloadComponentSocketTest : public ::testing::Test {
protected:
    DownloadComponentSocketTest() {
        CurlTransferOptions options;
        options.lowSpeedTime = 2;
        component = std::make_unique<TDownloadFile>(
            loop, std::make_shared<CurlTransfer>(std::make_shared<CurlShare>(), options),
            threads.starter());
        component->OnStart = [this](void*) { ++starts; };
        component->OnProgress = [this](void*, std::uint32_t r, std::uint32_t t) {
            progress.emplace_back(r, t);
        };
        component->OnFinish = [this](void*, bool canceled, const TransferResult& result) {
            finished = true;
            finishCanceled = canceled;
            outcome = result;
        };
        component->OnError = [this](void*, ErrorCode, const std::string&) { ++errors; };
    }
    ~DownloadComponentSocketTest() override { EXPECT_TRUE(threads.finishAll(loop)); }

    void run(const std::string& path, const std::string& target) {
        component->UrlToDownload = server.url(path);
        component->FileName = target;
        component->Start();
    }

    test::FileServer server;
    test::TempDir dir;
    test::QueuedEventLoop loop;
    test::WorkerThreads threads;
    std::unique_ptr<TDownloadFile> component;
    int starts = 0;
    int errors = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> progress;
    bool finished = false;
    bool finishCanceled = false;
    TransferResult outcome;
};

TEST_F(DownloadComponentSocketTest, SmallFileIsReportedInWholeKibibytes) {
    run("/file/s.bin?size=1023", dir.file("s.bin"));
    ASSERT_TRUE(loop.pumpUntil([this] { return finished; }));
    EXPECT_EQ(starts, 1);
    ASSERT_FALSE(progress.empty());
    for (const auto& [r, t] : progress) {
        EXPECT_EQ(r, 0u);
        EXPECT_EQ(t, 0u);
    }
    EXPECT_FALSE(finishCanceled);
    EXPECT_EQ(outcome.outcome, TransferOutcome::Succeeded);
    EXPECT_EQ(fs::file_size(dir.file("s.bin")), 1023u);
    EXPECT_FALSE(component->busy());
}

TEST_F(DownloadComponentSocketTest, StopEndsTheTransferAndLeavesNothingBehind) {
    run("/file/big.bin?size=100000000&rate=10000000", dir.file("big.bin"));
    ASSERT_TRUE(loop.pumpUntil([this] { return !progress.empty() && progress.back().first > 0; }));
    component->Stop();
    ASSERT_TRUE(loop.pumpUntil([this] { return finished; }));
    EXPECT_TRUE(finishCanceled);
    EXPECT_EQ(outcome.outcome, TransferOutcome::Cancelled);
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_EQ(errors, 0);
}

TEST_F(DownloadComponentSocketTest, ServerErrorFinishesAsFailedWithoutAnErrorEvent) {
    run("/file/x?size=100&status=404", dir.file("x"));
    ASSERT_TRUE(loop.pumpUntil([this] { return finished; }));
    EXPECT_FALSE(finishCanceled);
    EXPECT_EQ(outcome.outcome, TransferOutcome::Failed);
    EXPECT_EQ(outcome.reason, "The server answered with HTTP status 404.");
    EXPECT_EQ(errors, 0);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

} // namespace
} // namespace torvaline
