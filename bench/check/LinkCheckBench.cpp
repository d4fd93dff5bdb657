// The link check of a list of rows against the hoster emulator (the torvaline-hostersim
// program, four sites on 127.0.0.1 to 127.0.0.4: four hosters), beside the curl tool fetching
// the same first pages at the same concurrency: four curl processes side by side, one per
// site, each fetching its site's pages one after the other over one connection. The check
// fetches one page at a time per hoster and four in all, parses each page and reads it with
// the built-in profile on its worker, and hands the result to a real Qt event loop, which
// writes it into the list. Prints each side's median of the rounds, the ratio and the target.
//
//   bench_link_check [rows=1000] [rounds=3]

#include "BenchProcess.h"

#include "adapters/curl/CurlLinkProbe.h"
#include "adapters/curl/CurlShare.h"
#include "adapters/qt/QtClock.h"
#include "adapters/qt/QtEventLoop.h"
#include "cycle/RowEventHub.h"
#include "hosters/ProfileLoader.h"
#include "list/DownloadList.h"
#include "list/LinkLines.h"
#include "platform/WorkerCount.h"
#include "session/LinkCheck.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace torvaline;
using WallClock = std::chrono::steady_clock;

namespace {

constexpr int Sites = 4;

double secondsSince(WallClock::time_point start) {
    return std::chrono::duration<double>(WallClock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Row i: site i % 4; one in ten is a file the hoster no longer has.
std::vector<std::string> links(int rows, int port) {
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        std::string link = "http://127.0.0.";
        link += std::to_string(i % Sites + 1);
        link += ":";
        link += std::to_string(port);
        link += i % 10 == 9 ? "/rapidshare/notfound/f" : "/rapidshare/ok/f";
        link += std::to_string(i);
        link += ".bin?size=";
        link += std::to_string(1000 + i);
        link += "&c=0";
        out.push_back(std::move(link));
    }
    return out;
}

struct CheckRun {
    double seconds = 0;
    int online = 0;
    int offline = 0;
    int unknown = 0;
};

CheckRun runCheck(const std::vector<std::string>& rows, const HosterProfiles& profiles) {
    DownloadList list;
    QtEventLoop loop;
    QtClock clock;
    auto workers = std::make_shared<WorkerCount>();
    auto probe = std::make_shared<CurlLinkProbe>(std::make_shared<CurlShare>());
    LinkCheck check(LinkCheck::Ports{list, loop, clock, probe, workers, {}, nullptr, nullptr});
    check.setProfiles(&profiles);
    RowEventHub hub;
    hub.follow(list);
    hub.add(check);
    CheckRun run;
    int done = 0;
    const int total = static_cast<int>(rows.size());
    check.setOnResult([&](std::uint64_t, const CheckedLink& result) {
        run.online += result.state == CheckedLink::State::Online;
        run.offline += result.state == CheckedLink::State::Offline;
        run.unknown += result.state == CheckedLink::State::Unknown;
        if (++done == total)
            QCoreApplication::quit();
    });
    // Bounded: a broken run ends after two minutes with what it has.
    QTimer::singleShot(120000, [] { QCoreApplication::quit(); });
    const auto start = WallClock::now();
    AppendLinks(list, rows);
    QCoreApplication::exec();
    run.seconds = secondsSince(start);
    hub.remove(check);
    check.stop();
    workers->waitIdle(WallClock::now() + std::chrono::seconds(5),
                      [&] { loop.processPendingEvents(); });
    return run;
}

// Four curl processes at once, one per site, each fetching its rows' pages in turn.
double runCurl(const std::vector<std::string>& rows, const std::filesystem::path& dir, bool& ok) {
    std::vector<std::string> configs;
    for (int site = 0; site < Sites; ++site) {
        const std::string file = (dir / ("curl" + std::to_string(site) + ".cfg")).string();
        std::ofstream out(file);
        for (std::size_t i = static_cast<std::size_t>(site); i < rows.size(); i += Sites)
            out << "url = \"" << rows[i] << "\"\noutput = \"/dev/null\"\n";
        configs.push_back(file);
    }
    std::vector<int> status(Sites, -1);
    const auto start = WallClock::now();
    std::vector<std::thread> lanes;
    for (int site = 0; site < Sites; ++site)
        lanes.emplace_back([&, site] {
            status[static_cast<std::size_t>(site)] = std::system(
                ("curl -s --compressed -K '" + configs[static_cast<std::size_t>(site)] + "'")
                    .c_str());
        });
    for (std::thread& lane : lanes)
        lane.join();
    const double seconds = secondsSince(start);
    ok = std::all_of(status.begin(), status.end(), [](int s) { return s == 0; });
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    if (!bench::toolExists("curl")) {
        std::fprintf(stderr, "bench_link_check: the curl tool is not installed\n");
        return 1;
    }
    const int port = bench::freePort();
    const pid_t sim = bench::startProcess(
        {TORVALINE_HOSTERSIM, "--port", std::to_string(port), "--sites", std::to_string(Sites)});
    if (!bench::waitForPort(port, 10)) {
        std::fprintf(stderr, "bench_link_check: the emulator did not start\n");
        bench::stopProcess(sim);
        return 1;
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("bench_link_check." + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const HosterProfiles profiles(BuiltinHosters());
    const std::vector<std::string> list = links(rows, port);

    std::vector<double> checkTimes, curlTimes;
    CheckRun last;
    bool curlOk = true;
    // The first round of each warms the emulator's threads and the connection caches.
    for (int round = 0; round <= rounds; ++round) {
        const CheckRun run = runCheck(list, profiles);
        bool ok = false;
        const double curl = runCurl(list, dir, ok);
        curlOk = curlOk && ok;
        if (round == 0)
            continue;
        checkTimes.push_back(run.seconds);
        curlTimes.push_back(curl);
        last = run;
    }
    bench::stopProcess(sim);
    std::filesystem::remove_all(dir);

    const double check = median(checkTimes);
    const double curl = median(curlTimes);
    std::printf("link check, %d rows, %d hosters (one at a time each, 4 in all): %.3f s, "
                "%.2f ms a row; %d online, %d offline, %d unknown\n",
                rows, Sites, check, check / rows * 1000, last.online, last.offline, last.unknown);
    std::printf("curl, %d sequential fetches in %d processes side by side: %.3f s, "
                "%.2f ms a fetch%s\n",
                rows, Sites, curl, curl / rows * 1000, curlOk ? "" : " (curl reported errors)");
    const double ratio = check / curl;
    std::printf("check/curl: x%.2f (target: within x2.00) - %s\n", ratio,
                ratio <= 2.0 ? "met" : "missed");
    const int expectedOffline = rows / 10;
    if (last.offline != expectedOffline || last.unknown != 0) {
        std::fprintf(stderr, "bench_link_check: expected %d offline and none unknown\n",
                     expectedOffline);
        return 1;
    }
    return 0;
}
