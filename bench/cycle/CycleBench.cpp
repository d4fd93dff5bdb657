// The cost of the cycle itself per row: two pages, their capture and rules, the free-user
// press, the hand-offs to and from the transfer, with countdowns of zero seconds and tiny files,
// so that what is measured is the program and not the hoster's waits. Beside it, the same files
// fetched by the curl tool: once in a single process, once as one process per file.
//
// The emulator runs in this process and serves its pages uncompressed: compressing them (the
// program accepts every encoding) took more CPU than everything else here together, about
// 2.4 ms a row against 1.4 ms. The timers are doubles that tick
// as soon as nothing else is pending; in the window every tick is a real second, so their
// count is printed instead of waited for.
//
//   bench_cycle [rows=500] [size=1024]

#include "integration/cycle/CycleRig.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>

using namespace torvaline;
using WallClock = std::chrono::steady_clock;

namespace {

double secondsSince(WallClock::time_point start) {
    return std::chrono::duration<double>(WallClock::now() - start).count();
}

// Appended rather than joined with +: GCC 12 at -O3 warns falsely about "x" + std::string.
std::string numbered(const char* prefix, int i, const char* suffix = "") {
    std::string text(prefix);
    text += std::to_string(i);
    text += suffix;
    return text;
}

std::string fileUrl(const hostersim::HosterSim& sim, int i, unsigned long long size) {
    return sim.baseUrl() + "/file/f" + std::to_string(i) + ".bin?size=" + std::to_string(size) +
           "&cookie=sid";
}

double cpuSeconds(const rusage& usage) {
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 500;
    const unsigned long long size = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024;
    if (rows <= 0 || rows > 5000) {
        std::fprintf(stderr, "rows must be 1..5000\n");
        return 2;
    }

    test::CycleRig rig;
    rig.sim.setCompression(false);
    for (int i = 0; i < rows; ++i)
        rig.addRow("RapidShare", rig.sim.rapidshareLink("ok", numbered("f", i, ".bin"), size, 0));
    rusage beforeCycle{};
    getrusage(RUSAGE_SELF, &beforeCycle);
    const auto cycleStart = WallClock::now();
    rig.core.StartDownload1Click();
    const bool done = rig.run([&] { return rig.listDone(); }, std::chrono::seconds(600));
    const double cycleSeconds = secondsSince(cycleStart);
    rusage afterCycle{};
    getrusage(RUSAGE_SELF, &afterCycle);
    const double cycleCpu = cpuSeconds(afterCycle) - cpuSeconds(beforeCycle);
    const std::size_t cycleRequests = rig.sim.requests().size();
    const std::size_t cycleConnections = rig.sim.connections();
    const int cycleTicks = rig.ticks;
    int completed = 0;
    for (int r = 1; r < rig.list.rowCount(); ++r)
        completed += rig.list.cell(r, DownloadList::Status) == "Completed";
    if (!done || completed != rows) {
        std::fprintf(stderr, "cycle did not finish: %d of %d rows completed\n", completed, rows);
        return 1;
    }

    // The curl tool on the same files: one process for all of them (connection reused)...
    const std::string config = (rig.dir / "curl.cfg").string();
    {
        std::ofstream cfg(config);
        for (int i = 0; i < rows; ++i)
            cfg << "url = \"" << fileUrl(rig.sim, i, size) << "\"\noutput = \""
                << (rig.dir / numbered("c", i)).string() << "\"\n";
    }
    auto start = WallClock::now();
    const int rc1 = std::system(("curl -s -f -b sid=1 -K '" + config + "'").c_str());
    const double curlOneProcess = secondsSince(start);

    // ...and one process per file, as a shell loop would run it.
    start = WallClock::now();
    int rc2 = 0;
    for (int i = 0; i < rows && rc2 == 0; ++i)
        rc2 = std::system(("curl -s -f -b sid=1 -o '" + (rig.dir / "l").string() + "' '" +
                           fileUrl(rig.sim, i, size) + "'")
                              .c_str());
    const double curlLoop = secondsSince(start);
    if (rc1 != 0 || rc2 != 0)
        std::fprintf(stderr, "curl failed (%d, %d)\n", rc1, rc2);

    const double perRow = cycleSeconds / rows * 1000;
    std::printf("rows %d, file size %llu bytes, countdown 0 s, pages served uncompressed\n", rows,
                size);
    std::printf("cycle (page, free-user press, countdown page, transfer, next row): %.2f s, "
                "%.2f ms per row, one-second ticks not waited for\n",
                cycleSeconds, perRow);
    std::printf("CPU time of this process (the program and the emulator): %.2f ms per row\n",
                cycleCpu / rows * 1000);
    std::printf("one-second ticks: %d (%.1f per row); the window waits each, so there a row "
                "takes %.2f s\n",
                cycleTicks, static_cast<double>(cycleTicks) / rows,
                (cycleSeconds + cycleTicks) / rows);
    std::printf("curl, one process, %d files: %.2f s, %.2f ms per file (cycle/curl x%.1f)\n", rows,
                curlOneProcess, curlOneProcess / rows * 1000, cycleSeconds / curlOneProcess);
    std::printf("curl, one process per file: %.2f s, %.2f ms per file (cycle/curl x%.1f)\n",
                curlLoop, curlLoop / rows * 1000, cycleSeconds / curlLoop);
    std::printf("requests of the cycle to the emulator: %zu (%.1f per row)\n", cycleRequests,
                static_cast<double>(cycleRequests) / rows);
    std::printf("connections the cycle opened to the emulator: %zu (%.2f per row)\n",
                cycleConnections, static_cast<double>(cycleConnections) / rows);

    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    const double peakMiB = static_cast<double>(self.ru_maxrss) / 1024.0;
    std::printf("\ntarget peak-memory: %.0f MiB (goal < 64 MiB) %s\n", peakMiB,
                peakMiB < 64 ? "met" : "missed");
    return 0;
}
