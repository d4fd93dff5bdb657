#include "FileServer.h"
#include "TransferRecorder.h"

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace torvaline {
namespace {

using test::readFile;
using test::Recorder;
using test::writeFile;
namespace fs = std::filesystem;

// The bytes of version `version` of a served file (the emulator's changed files).
std::string versionContent(std::size_t size, int version) {
    std::string data(size, '\0');
    hostersim::fillContent(0, data.data(), size);
    if (version != 0)
        for (char& c : data)
            c = static_cast<char>(c ^ (0x5A + version));
    return data;
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A file cut during its first attempt, then fetched again with what that attempt kept.
class ResumeTransferTest : public ::testing::Test {
protected:
    TransferResult fetch(const std::string& url, const PartialFile& resume = {}) {
        recorder = Recorder();
        CurlTransferOptions options;
        options.lowSpeedTime = 2;
        CurlTransfer transfer(share, options);
        return transfer.transfer(url, folder.file("movie.mkv"), resume, recorder);
    }
    std::vector<hostersim::FileRequestRecord> requestsFor(const std::string& name) {
        std::vector<hostersim::FileRequestRecord> out;
        for (const auto& r : hostersim::fileRequests(server.server()))
            if (r.name == name)
                out.push_back(r);
        return out;
    }

    test::FileServer server;
    std::shared_ptr<CurlShare> share = std::make_shared<CurlShare>();
    Recorder recorder;
    test::TempDir folder;
};

TEST_F(ResumeTransferTest, ACutFileIsContinuedOnlyWhenTheServerProvablyContinuesIt) {
    constexpr std::size_t Size = 1000000;
    constexpr std::size_t Cut = 400000; // 40 %
    struct Case {
        const char* name;
        std::string faults;          // of the file route, on top of the cut in the first attempt
        bool spliced;                // the second attempt continued the kept bytes
        std::size_t requests;        // the resumed attempt's, all told
        std::size_t sizeThen = Size; // the file's size at the second attempt
    };
    const std::vector<Case> cases = {
        {"the server honours the range", "", true, 2},
        {"the server ignores the range", "&ranges=ignore", false, 2},
        {"the file changed; the server honours If-Range", "&changes=1", false, 2},
        // 206 from another version: detected by its ETag, the whole file asked for again.
        {"the file changed; the server ignores If-Range", "&changes=1&ifrange=ignore", false, 3},
        // Shorter than what was kept: 416, then the whole file.
        {"the file shrank; the server ignores If-Range", "&ifrange=ignore", false, 3, 300000},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string name = "f"; // appended: gcc 12 at -O3 misreads "f" + temporary
        name += std::to_string(++n);
        const auto url = [&](std::size_t size) {
            return server.url("/file/" + name + "?size=" + std::to_string(size) +
                              "&cutonce=" + std::to_string(Cut) + c.faults);
        };

        const TransferResult first = fetch(url(Size));
        EXPECT_EQ(first.outcome, TransferOutcome::Failed);
        EXPECT_TRUE(first.transient);
        ASSERT_FALSE(first.partial.empty());
        EXPECT_EQ(first.partial.size, Cut);
        EXPECT_EQ(first.partial.total, Size);
        EXPECT_EQ(first.partial.validator, "\"1000000-v0\"");
        EXPECT_EQ(entries(folder.path()),
                  std::vector<std::string>{fs::path(first.partial.path).filename().string()});

        const TransferResult second = fetch(url(c.sizeThen), first.partial);
        ASSERT_EQ(second.outcome, TransferOutcome::Succeeded) << second.reason;
        const auto requests = requestsFor(name);
        ASSERT_EQ(requests.size(), c.requests);
        // The kept file's last 4 KiB are asked for again, to be compared.
        EXPECT_EQ(requests[1].range, "bytes=395904-");
        EXPECT_EQ(requests[1].ifRange, "\"1000000-v0\"");
        if (c.requests > 2) {
            EXPECT_EQ(requests[2].range, "");
        }
        const int version =
            c.faults.find("changes") != std::string::npos ? static_cast<int>(c.requests) - 1 : 0;
        EXPECT_TRUE(readFile(folder.file("movie.mkv")) == versionContent(c.sizeThen, version));
        EXPECT_EQ(recorder.resumedFrom, c.spliced ? Cut : 0u);
        // Progress counts the whole file, the continued part included.
        EXPECT_EQ(recorder.progress.back().received, c.sizeThen);
        EXPECT_EQ(recorder.progress.back().expected, c.sizeThen);
        EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"movie.mkv"});
        fs::remove(folder.file("movie.mkv"));
    }
}

TEST_F(ResumeTransferTest, AKeptFileGoesWhenItCannotBeContinuedAndOnlyOursIsEverRemoved) {
    const std::string url = server.url("/file/g?size=100000&cutonce=30000");
    const TransferResult first = fetch(url);
    ASSERT_FALSE(first.partial.empty());
    // A 404 is for good: nothing to retry, nothing kept.
    const TransferResult gone = fetch(server.url("/file/g?size=100&status=404"), first.partial);
    EXPECT_EQ(gone.outcome, TransferOutcome::Failed);
    EXPECT_FALSE(gone.transient);
    EXPECT_TRUE(gone.partial.empty());
    EXPECT_TRUE(fs::is_empty(folder.path()));

    // Dropping a kept file removes it, and nothing that merely looks like one.
    const TransferResult again = fetch(server.url("/file/h?size=100000&cutonce=30000"));
    ASSERT_FALSE(again.partial.empty());
    const std::string outside = folder.file("outside");
    writeFile(outside, "mine");
    const std::string pattern = "x.tv0123456789ab.part";
    fs::create_symlink(outside, folder.file("link." + pattern));
    fs::create_hard_link(outside, folder.file("hard." + pattern));
    writeFile(folder.file("notours.part"), "mine");
    CurlTransfer facility(share);
    for (const std::string& name : {"link." + pattern, "hard." + pattern,
                                    std::string("notours.part"), std::string("outside")})
        facility.discardPartial({folder.file(name), 1, 2, ""});
    facility.discardPartial(again.partial);
    EXPECT_EQ(entries(folder.path()),
              (std::vector<std::string>{"hard." + pattern, "link." + pattern, "notours.part",
                                        "outside"}));
    EXPECT_EQ(readFile(outside), "mine");
}

} // namespace
} // namespace torvaline
