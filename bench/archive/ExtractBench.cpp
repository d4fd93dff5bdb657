// Extraction of a 1 GiB cut 7z set (stored, so the disk and the reader are measured, not the
// compressor) against Debian's 7zz on the same set in the same run. Prints seconds and the
// ratio of the two speeds; never fails on timing. Everything it makes lives in one folder under
// /tmp and is removed at the end.
#include "archive/ArchiveExtractor.h"
#include "archive/PackageGrouping.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/statvfs.h>
#include <vector>

namespace fs = std::filesystem;
using torvaline::ArchiveExtractor;
using torvaline::ExtractRequest;
using torvaline::PackageGrouping;

namespace {

constexpr std::uint64_t SetBytes = 1ull << 30;
constexpr int Files = 8;
constexpr int Rounds = 2;

// Bytes no compressor shrinks, quickly: xorshift, one 64-bit word at a time.
void writeNoise(const fs::path& path, std::uint64_t size, std::uint64_t seed) {
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint64_t> block(1 << 17);
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::uint64_t done = 0; done < size; done += block.size() * 8) {
        for (auto& word : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(block.size() * 8));
    }
}

double seconds(const std::chrono::steady_clock::time_point& since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int run(const std::string& command) {
    return std::system(command.c_str());
}

} // namespace

int main() {
    if (run("command -v 7zz >/dev/null") != 0) {
        std::puts("bench_archive: 7zz is not installed (Debian's 7zip); nothing measured");
        return 0;
    }
    struct statvfs disk {};
    if (::statvfs("/tmp", &disk) == 0 &&
        static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize < 4 * SetBytes) {
        std::puts("bench_archive: /tmp has less than 4 GiB free; nothing measured");
        return 0;
    }
    std::string pattern = "/tmp/torvaline-bench-archive-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return 1;
    const fs::path root = pattern;
    const fs::path content = root / "content";
    fs::create_directory(content);
    for (int i = 0; i < Files; ++i)
        writeNoise(content / ("file" + std::to_string(i) + ".bin"), SetBytes / Files,
                   static_cast<std::uint64_t>(i));
    const auto packing = std::chrono::steady_clock::now();
    if (run("cd '" + content.string() + "' && 7zz a -bd -mx0 -v100m ../set.7z . >/dev/null") != 0) {
        fs::remove_all(root);
        return 1;
    }
    std::printf("set: %.0f MiB in %s, packed by 7zz in %.1f s\n",
                static_cast<double>(SetBytes) / (1 << 20), root.c_str(), seconds(packing));
    fs::remove_all(content);
    std::vector<std::string> parts;
    for (const auto& e : fs::directory_iterator(root))
        parts.push_back(e.path().filename().string());
    const auto packages = PackageGrouping::group(parts);
    if (packages.size() != 1) {
        fs::remove_all(root);
        return 1;
    }
    std::printf("parts: %zu\n", packages[0].parts.size());

    double ours = 1e9;
    double theirs = 1e9;
    for (int round = 0; round < Rounds; ++round) {
        const fs::path out = root / "ours";
        fs::create_directory(out);
        run("sync");
        auto start = std::chrono::steady_clock::now();
        const auto result = ArchiveExtractor::extract(
            ExtractRequest{packages[0], root.string(), out.string(), {}, {}});
        run("sync");
        const double took = seconds(start);
        if (!result)
            std::printf("torvaline: %s\n", result.reason().c_str());
        ours = std::min(ours, took);
        fs::remove_all(out);

        start = std::chrono::steady_clock::now();
        run("7zz x -bd -y -o'" + (root / "theirs").string() + "' '" +
            (root / "set.7z.001").string() + "' >/dev/null");
        run("sync");
        const double took7zz = seconds(start);
        theirs = std::min(theirs, took7zz);
        fs::remove_all(root / "theirs");
        std::printf("round %d: torvaline %.2f s, 7zz x %.2f s\n", round + 1, took, took7zz);
    }
    const double mib = static_cast<double>(SetBytes) / (1 << 20);
    std::printf("best: torvaline %.2f s (%.0f MiB/s), 7zz x %.2f s (%.0f MiB/s); speed ratio "
                "torvaline/7zz %.2fx (target >= 0.9x)\n",
                ours, mib / ours, theirs, mib / theirs, theirs / ours);
    fs::remove_all(root);
    return 0;
}
