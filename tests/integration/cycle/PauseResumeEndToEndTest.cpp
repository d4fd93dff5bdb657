#include "CycleRig.h"
#include "doubles/RecordingRowEvents.h"

#include <FileRoutes.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace torvaline::test {
namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A throttled transfer paused half-way keeps what it brought; Resume asks only for the rest
// (and the kept tail again, to check it), and the file comes out whole.
TEST(PauseResumeEndToEnd, APausedTransferResumesWithARangeAndTheFileIsIntact) {
    constexpr std::uint64_t Size = 1200000;
    CycleRig rig;
    RecordingRowEvents events;
    rig.core.rowEvents().add(events);
    rig.addRow("",
               rig.sim.baseUrl() + "/file/big.bin?size=" + std::to_string(Size) + "&rate=600000");
    rig.core.StartDownload1Click();
    const auto brought = [&](std::int64_t bytes) {
        return !events.progress.empty() && events.progress.back().done >= bytes;
    };
    ASSERT_TRUE(rig.run([&] { return brought(200000); }, std::chrono::seconds(20)));
    EXPECT_TRUE(rig.core.canPause());
    EXPECT_FALSE(rig.core.canResume());
    ASSERT_TRUE(rig.core.pause());
    ASSERT_TRUE(rig.run([&] { return rig.core.canResume(); }, std::chrono::seconds(20)));
    EXPECT_EQ(rig.list.cell(1, DownloadList::Status), "Paused");
    EXPECT_EQ(events.phases.back().phase, RowPhase::Paused);
    const auto kept = rig.core.cycle().keptPartials();
    ASSERT_EQ(kept.size(), 1u);
    const PartialFile partial = kept[0].second;
    ASSERT_TRUE(std::filesystem::exists(partial.path));
    EXPECT_EQ(std::filesystem::file_size(partial.path), partial.size);
    EXPECT_GT(partial.size, 4096u);
    EXPECT_LT(partial.size, Size);
    EXPECT_FALSE(std::filesystem::exists(rig.dir / "big.bin"));

    ASSERT_TRUE(rig.core.resume());
    ASSERT_TRUE(rig.run([&] { return rig.listDone(); }, std::chrono::seconds(30)));
    // Read before the routes let go: that forgets them.
    const auto requests = hostersim::fileRequests(rig.sim.server());
    hostersim::releaseFileRoutes(rig.sim.server());
    EXPECT_EQ(rig.list.cell(1, DownloadList::Status), "Completed") << rig.list.note(1);
    std::string expected(Size, '\0');
    hostersim::fillContent(0, expected.data(), expected.size());
    EXPECT_TRUE(readFile(rig.dir / "big.bin") == expected);
    EXPECT_FALSE(std::filesystem::exists(partial.path));

    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests.front().range, "");
    EXPECT_EQ(requests.back().range, "bytes=" + std::to_string(partial.size - 4096) + "-");
    EXPECT_FALSE(requests.back().ifRange.empty());
    rig.core.rowEvents().remove(events);
}

} // namespace
} // namespace torvaline::test
