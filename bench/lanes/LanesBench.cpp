// Several hosters at once: the program run headless, as a user runs it over night, against
// the emulator's sites on 127.0.0.1, 127.0.0.2 and 127.0.0.3.
//
// Hosters: the mixed list (3 hosters x 3 files, each hoster asking a free user to wait
// `--wait` seconds after each file and counting down `--countdown` seconds before each one),
// with 3 lanes, with 1 lane, and the longest hoster's three files alone (3 lanes). Each run has
// fresh sites, so that no hoster's wait carries over. Prints the times and the ratios.
//
// Throughput: three direct links, one on each address, `--size-mib` each, to disk, by the
// program with 3 lanes and by aria2c -j3 on the same list, in turn for `--rounds` rounds (the
// order reversed each round). Prints MB/s (10^6 bytes a second, all three files over the
// wall time of the run, start-up included for both) and the rounds' ratios.
//
//   bench_lanes [--wait S (60)] [--countdown S (2)] [--size-mib N (256)] [--rounds N (5)]
//               [--hosters-only] [--throughput-only] [--program PATH]
//
// The program is the torvaline beside this benchmark unless --program names another. Build both
// optimised (the release preset) before reading anything into the throughput figures.

#include "BenchProcess.h"

#include "FileRoutes.h"
#include "HosterSites.h"
#include "MixedList.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

constexpr int Hosters = 3;
constexpr int FilesEach = 3;

struct Options {
    int wait = 60;
    int countdown = 2;
    std::uint64_t sizeMib = 256;
    int rounds = 5;
    bool hosters = true;
    bool throughput = true;
    std::string program;
};

std::string besideMe(const std::string& name) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? name : (self.parent_path() / name).string();
}

// Whether the program takes --max-concurrent-downloads (its help names it).
bool takesLanes(const std::string& program, const fs::path& dir) {
    const fs::path help = dir / "help.txt";
    bench::runTool({program, "--help"}, 20, help.string());
    std::ifstream in(help);
    std::stringstream text;
    text << in.rdbuf();
    return text.str().find("--max-concurrent-downloads") != std::string::npos;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one.empty() ? "unknown" : one + " " + five + " " + fifteen;
}

struct Outcome {
    double seconds = 0;
    bool ok = false;
    std::string note;
};

// The files `folder` holds, removed; false unless they are exactly `sizes`.
bool landed(const fs::path& folder, std::vector<std::uint64_t> sizes, std::string& note) {
    std::vector<std::uint64_t> got;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        got.push_back(entry.is_regular_file() ? entry.file_size() : 0);
    fs::remove_all(folder, ec);
    std::sort(got.begin(), got.end());
    std::sort(sizes.begin(), sizes.end());
    if (got == sizes)
        return true;
    note = std::to_string(got.size()) + " of " + std::to_string(sizes.size()) +
           " files came, or of other sizes";
    return false;
}

// The program headless over `links` into a fresh folder, `lanes` of them (0: the option left
// out), within `timeout` seconds.
Outcome headless(const Options& o, const fs::path& dir, const std::vector<std::string>& links,
                 const std::vector<std::uint64_t>& sizes, int lanes, double timeout,
                 const std::string& label) {
    const fs::path list = dir / "list.txt";
    const fs::path folder = dir / "folder";
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder);
    Outcome out;
    if (!hostersim::writeListFile(links, list.string())) {
        out.note = "cannot write the list";
        return out;
    }
    std::vector<std::string> argv{o.program, "--headless"};
    if (lanes > 0) {
        argv.push_back("--max-concurrent-downloads");
        argv.push_back(std::to_string(lanes));
    }
    argv.insert(argv.end(), {"--folder", folder.string(), list.string()});
    const fs::path log = dir / (label + ".log");
    const bench::ToolRun run = bench::runTool(argv, timeout, log.string());
    out.seconds = run.seconds;
    out.ok = run.ok;
    if (!run.ok) {
        // The run's last line says why.
        std::ifstream in(log);
        std::string last;
        for (std::string text; std::getline(in, text);)
            if (!text.empty())
                last = text;
        out.note = (run.seconds > 0 ? "ended with a failure: "
                                    : "did not end in " + std::to_string(int(timeout)) + " s: ") +
                   last;
    }
    if (!landed(folder, sizes, out.note))
        out.ok = false;
    return out;
}

std::vector<std::uint64_t> sizesOf(const std::vector<std::string>& links) {
    std::vector<std::uint64_t> sizes;
    for (const std::string& link : links) {
        const std::size_t at = link.find("size=");
        sizes.push_back(at == std::string::npos ? 0 : std::stoull(link.substr(at + 5)));
    }
    return sizes;
}

void printOutcome(const char* label, const Outcome& o) {
    std::printf("%-44s %8.1f s%s%s\n", label, o.seconds, o.ok ? "" : "   FAILED ",
                o.ok ? "" : o.note.c_str());
    std::fflush(stdout);
}

void hostersBench(const Options& o, const fs::path& dir, bool lanesFlag,
                  std::vector<std::string>& targets) {
    hostersim::MixedList mixed;
    mixed.waitAfter = o.wait;
    mixed.countdown = o.countdown;
    mixed.size = 1u << 20; // small: the waits are what this is about
    mixed.files = FilesEach;
    std::printf("Mixed list: %d hosters x %d files, a wait of %d s after each file and a %d s "
                "countdown before each one.\n",
                Hosters, FilesEach, o.wait, o.countdown);
    if (!lanesFlag)
        std::printf("(this program does not take --max-concurrent-downloads: every run works one "
                    "row at a time)\n");
    // A hoster alone takes its files' countdowns and the waits between them; one lane takes
    // every hoster's in turn. Twice that and a minute more bounds a run.
    const double oneHoster = FilesEach * (o.countdown + 5.0) + (FilesEach - 1) * (o.wait + 5.0);
    const auto run = [&](int lanes, bool alone, const std::string& label) {
        hostersim::HosterSites sites(Hosters);
        sites.start();
        for (std::size_t i = 0; i < sites.size(); ++i)
            sites.site(i).setCompression(false);
        // The last hoster's files are the largest: the longest hoster.
        const auto links = alone ? mixed.links(sites, Hosters - 1, 1) : mixed.links(sites);
        const double bound = 2 * (alone ? oneHoster : oneHoster * Hosters) + 60;
        Outcome out = headless(o, dir, links, sizesOf(links), lanesFlag ? lanes : 0, bound, label);
        sites.stop();
        return out;
    };
    // Without the option every run is the one lane the program has.
    const char* threeLabel = lanesFlag ? "mixed list, 3 lanes" : "mixed list (no lanes option)";
    const char* oneLabel = lanesFlag ? "mixed list, 1 lane" : "mixed list again (no lanes option)";
    const Outcome three = run(3, false, "three-lanes");
    printOutcome(threeLabel, three);
    const Outcome one = run(1, false, "one-lane");
    printOutcome(oneLabel, one);
    const Outcome alone = run(3, true, "longest-alone");
    printOutcome("the longest hoster's 3 files alone", alone);
    const bool ok = three.ok && one.ok && alone.ok && one.seconds > 0 && alone.seconds > 0;
    const double vsOne = ok ? three.seconds / one.seconds : 0;
    const double vsAlone = ok ? three.seconds / alone.seconds : 0;
    std::printf("3 lanes / 1 lane            x%.2f\n3 lanes / longest alone     x%.2f\n", vsOne,
                vsAlone);
    char line[200];
    std::snprintf(line, sizeof line, "target lanes-vs-one-lane: x%.2f (goal <= x0.40) %s", vsOne,
                  ok && vsOne <= 0.40 ? "met" : "missed");
    targets.push_back(line);
    std::snprintf(line, sizeof line, "target lanes-vs-longest-hoster: x%.2f (goal <= x1.10) %s",
                  vsAlone, ok && vsAlone <= 1.10 ? "met" : "missed");
    targets.push_back(line);
}

struct Spread {
    double median = 0, min = 0, max = 0;
    int count = 0;
};

Spread spread(std::vector<double> v) {
    Spread s;
    s.count = static_cast<int>(v.size());
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    s.min = v.front();
    s.max = v.back();
    return s;
}

void throughputBench(const Options& o, const fs::path& dir, bool lanesFlag,
                     std::vector<std::string>& targets) {
    if (!bench::toolExists("aria2c")) {
        std::printf("\naria2c is not installed: the throughput bench is skipped\n");
        return;
    }
    const std::uint64_t size = o.sizeMib << 20;
    std::printf("\nThroughput: 3 direct links of %llu MiB, one on each of 127.0.0.1-3, to disk, "
                "%d rounds (the order reversed each round).\n",
                static_cast<unsigned long long>(o.sizeMib), o.rounds);
    hostersim::HosterSites sites(Hosters);
    sites.start();
    std::vector<std::string> links;
    for (std::size_t i = 0; i < sites.size(); ++i)
        links.push_back(sites.site(i).baseUrl() + "/file/lane-" + std::to_string(i + 1) +
                        ".bin?size=" + std::to_string(size));
    const std::vector<std::uint64_t> sizes(links.size(), size);
    const double bound = 600;
    const fs::path folder = dir / "folder";
    const fs::path list = dir / "direct.txt";
    hostersim::writeListFile(links, list.string());
    // aria2c names a file after its URL's path, as the program does.
    const auto aria2 = [&] {
        std::error_code ec;
        fs::remove_all(folder, ec);
        fs::create_directories(folder);
        const bench::ToolRun run =
            bench::runTool({"aria2c", "-q", "-j3", "-d", folder.string(), "-i", list.string(),
                            "--allow-overwrite=true", "--file-allocation=falloc", "--max-tries=1",
                            "--auto-file-renaming=false"},
                           bound);
        Outcome out{run.seconds, run.ok, run.ok ? "" : "aria2c failed"};
        if (!landed(folder, sizes, out.note))
            out.ok = false;
        return out;
    };
    const auto ours = [&] {
        return headless(o, dir, links, sizes, lanesFlag ? 3 : 0, bound, "direct");
    };
    std::vector<Outcome> mine, theirs;
    for (int r = 0; r < o.rounds; ++r) {
        if (r % 2 == 0) {
            mine.push_back(ours());
            theirs.push_back(aria2());
        } else {
            theirs.push_back(aria2());
            mine.push_back(ours());
        }
    }
    sites.stop();
    const double total = static_cast<double>(size) * Hosters;
    const auto rates = [&](const std::vector<Outcome>& runs, std::string& note) {
        std::vector<double> v;
        for (const Outcome& run : runs) {
            if (run.ok && run.seconds > 0)
                v.push_back(total / run.seconds / 1e6);
            else
                note = run.note;
        }
        return v;
    };
    std::string noteMine, noteTheirs;
    const Spread a = spread(rates(theirs, noteTheirs));
    const Spread m = spread(rates(mine, noteMine));
    std::vector<double> ratios;
    for (int r = 0; r < o.rounds; ++r)
        if (mine[r].ok && theirs[r].ok && mine[r].seconds > 0)
            ratios.push_back(theirs[r].seconds / mine[r].seconds);
    const Spread x = spread(ratios);
    std::printf("%-44s %8.1f MB/s (%.1f-%.1f)%s%s\n", "aria2c -j3 (disk)", a.median, a.min, a.max,
                a.count == o.rounds ? "" : "   FAILED ", noteTheirs.c_str());
    std::printf("%-44s %8.1f MB/s (%.1f-%.1f)   x%.2f (x%.2f-x%.2f)%s%s\n",
                lanesFlag ? "torvaline, 3 lanes (disk)" : "torvaline, 1 lane (disk)", m.median,
                m.min, m.max, x.median, x.min, x.max, m.count == o.rounds ? "" : "   FAILED ",
                noteMine.c_str());
    char line[200];
    std::snprintf(line, sizeof line, "target lanes-throughput-vs-aria2c: x%.2f (goal >= x1.00) %s",
                  x.median, x.count && x.median >= 1.0 ? "met" : "missed");
    targets.push_back(line);
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--wait" && i + 1 < argc)
            o.wait = std::clamp(std::atoi(argv[++i]), 1, 3600);
        else if (arg == "--countdown" && i + 1 < argc)
            o.countdown = std::clamp(std::atoi(argv[++i]), 0, 999);
        else if (arg == "--size-mib" && i + 1 < argc)
            o.sizeMib = std::clamp<std::uint64_t>(std::strtoull(argv[++i], nullptr, 10), 1, 4096);
        else if (arg == "--rounds" && i + 1 < argc)
            o.rounds = std::clamp(std::atoi(argv[++i]), 1, 50);
        else if (arg == "--hosters-only")
            o.throughput = false;
        else if (arg == "--throughput-only")
            o.hosters = false;
        else if (arg == "--program" && i + 1 < argc)
            o.program = argv[++i];
        else {
            std::fprintf(stderr,
                         "usage: %s [--wait S] [--countdown S] [--size-mib N] [--rounds N]\n"
                         "          [--hosters-only] [--throughput-only] [--program PATH]\n",
                         argv[0]);
            return 2;
        }
    }
    if (o.program.empty())
        o.program = besideMe("torvaline");

    std::string pattern = (fs::temp_directory_path() / "torvaline-lanes-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = pattern;
    // The runs keep their settings and recovery file to themselves.
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);

    const auto began = SteadyClock::now();
    const bool lanesFlag = takesLanes(o.program, dir);
    std::printf("Program: %s\nThe machine is shared: load average %s at the start.\n\n",
                o.program.c_str(), loadAverage().c_str());
    std::vector<std::string> targets;
    if (o.hosters)
        hostersBench(o, dir, lanesFlag, targets);
    if (o.throughput)
        throughputBench(o, dir, lanesFlag, targets);
    std::error_code ec;
    fs::remove_all(dir, ec);
    std::printf("\nload average %s at the end; total %.0f s\n\n", loadAverage().c_str(),
                std::chrono::duration<double>(SteadyClock::now() - began).count());
    for (const std::string& line : targets)
        std::printf("%s\n", line.c_str());
    return 0;
}
