// One large file over 127.0.0.1, downloaded by the download component with a real Qt event
// loop taking every hand-off, and by the curl, wget and aria2c tools, from the emulator and
// (when installed) from nginx. Prints MB/s (10^6 bytes per second), ratios and peak memory,
// then one line per target, met or missed.
//
// The transfer's time ends when its thread lets go of it, not when the window hears of the end:
// the window's handlers (16 ms and 100 ms a start, progress and finish event against none at
// all) must not slow the transfer, whatever they do to the window.
//
// Then the speed limit at 1, 10 and 100 MiB/s beside curl --limit-rate and aria2c
// --max-overall-download-limit: each client runs `--limit-seconds` (30) and is stopped; the
// average over that time and the busiest 1-second window are printed against the limit.
//
//   bench_transfer [--size-mib N] [--rounds N (at least 5)] [--no-nginx] [--limit-only]
//                  [--limit-seconds N] [--handlers-only] [--lanes N]
//
// --lanes N (2 to 8) runs N transfers at once in the handlers' group instead of one, as the
// program's lanes do: N components sharing one facility, each from a server of its own on
// 127.0.0.1 to 127.0.0.N, with the window's and a 100 ms handler against none at all; MB/s are
// then of all N files over the time until the last one ended.

#include "BenchProcess.h"
#include "doubles/ManualTimer.h"

#include "FileRoutes.h"
#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"
#include "adapters/qt/QtEventLoop.h"
#include "list/AppTitle.h"
#include "list/DownloadList.h"
#include "list/StatusBar.h"
#include "platform/Clock.h"
#include "platform/Timer.h"
#include "state/CycleState.h"
#include "transfer/ProgressDisplay.h"
#include "transfer/TDownloadFile.h"

#include <QCoreApplication>
#include <QTimer>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace torvaline;

constexpr double RunTimeout = 90;

class WallClock final : public Clock {
public:
    double timeOfDay() const override {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
    }
};

class QuietCallback final : public TransferCallback {
public:
    void onStart() override {}
    bool onProgress(std::uint64_t, std::uint64_t) override { return true; }
    void onStop(const TransferResult&) override {}
};

// The facility the component is given: the time its transfer gave the thread back.
class TimedTransfer final : public TransferFacility {
public:
    explicit TimedTransfer(std::shared_ptr<TransferFacility> inner)
        : m_inner(std::move(inner)) {}
    using TransferFacility::transfer;
    TransferResult transfer(const std::string& url, const std::string& targetPath,
                            const PartialFile& resume, TransferCallback& callback) override {
        TransferResult result = m_inner->transfer(url, targetPath, resume, callback);
        // The latest end of the transfers running at once.
        const SteadyClock::rep now = SteadyClock::now().time_since_epoch().count();
        SteadyClock::rep seen = m_ended.load();
        while (seen < now && !m_ended.compare_exchange_weak(seen, now)) {
        }
        m_count.fetch_add(1);
        return result;
    }
    int count() const { return m_count.load(); }
    // The end of the last of the `n` transfers after the first `before`: the window may hear
    // of the end before the thread has let go of it.
    SteadyClock::time_point endedAfter(int before, int n = 1) const {
        const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
        while (m_count.load() < before + n && SteadyClock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return ended();
    }
    void discardPartial(const PartialFile& partial) override { m_inner->discardPartial(partial); }
    SteadyClock::time_point ended() const {
        return SteadyClock::time_point(SteadyClock::duration(m_ended.load()));
    }

private:
    std::shared_ptr<TransferFacility> m_inner;
    std::atomic<SteadyClock::rep> m_ended{0};
    std::atomic<int> m_count{0};
};

struct Run {
    double seconds = 0;
    // From the start until the window heard of the end (the component's runs only).
    double heard = 0;
    bool ok = false;
    int handoffs = 0;
    std::string note;
    // The bytes of all its transfers, when it ran more than one at once (0: Bench::size).
    std::uint64_t bytes = 0;
};

struct Bench {
    std::uint64_t size = 1ull << 30;
    int rounds = 5;
    fs::path dir;
    QtEventLoop loop;
    std::shared_ptr<CurlTransfer> facility =
        std::make_shared<CurlTransfer>(std::make_shared<CurlShare>());
    std::shared_ptr<TimedTransfer> timed = std::make_shared<TimedTransfer>(facility);

    // The component with the real progress display bound, as the main window binds it; a
    // handler of `handlerMs` takes that long for each event besides.
    Run component(const std::string& url, const std::string& target, int handlerMs = 0) {
        DownloadList list;
        list.setRowCount(2);
        StatusBar statusBar;
        AppTitle title;
        CycleState state;
        state.FinalFileName = "big.bin";
        WallClock clock;
        test::ManualTimer elps, est, stbar;
        TDownloadFile downloadFile1(loop, timed);
        ProgressDisplay display(
            {list, statusBar, title, state, clock, elps, est, stbar, downloadFile1, '.'});
        Run run;
        const auto slowly = [handlerMs] {
            if (handlerMs)
                std::this_thread::sleep_for(std::chrono::milliseconds(handlerMs));
        };
        SteadyClock::time_point heard;
        downloadFile1.OnStart = [&](void*) {
            display.DownloadFile1Start();
            slowly();
        };
        downloadFile1.OnProgress = [&](void*, std::uint32_t r, std::uint32_t t) {
            ++run.handoffs;
            display.DownloadFile1Progress(r, t);
            slowly();
        };
        downloadFile1.OnFinish = [&](void*, bool canceled, const TransferResult& result) {
            heard = SteadyClock::now();
            run.ok = !canceled && result.outcome == TransferOutcome::Succeeded;
            run.note = result.reason;
            slowly();
            QCoreApplication::quit();
        };
        downloadFile1.OnError = [&](void*, ErrorCode, const std::string&) {
            QCoreApplication::quit();
        };
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] { downloadFile1.Stop(); });
        guard.start(static_cast<int>(RunTimeout * 1000));
        downloadFile1.UrlToDownload = url;
        downloadFile1.FileName = target;
        const int before = timed->count();
        const auto began = SteadyClock::now();
        downloadFile1.Start();
        QCoreApplication::exec();
        run.seconds = std::chrono::duration<double>(timed->endedAfter(before) - began).count();
        run.heard = std::chrono::duration<double>(heard - began).count();
        return run;
    }

    // `urls.size()` components at once, sharing the facility as lanes do, each with the
    // window's progress display bound to a row of its own and each to its own server and file;
    // a handler of `handlerMs` takes that long for each event of any of them besides. The time
    // runs until the last transfer's thread lets go.
    Run lanes(const std::vector<std::string>& urls, const std::vector<std::string>& targets,
              int handlerMs) {
        const int n = static_cast<int>(urls.size());
        DownloadList list;
        list.setRowCount(n + 1);
        StatusBar statusBar;
        AppTitle title;
        WallClock clock;
        struct Lane {
            CycleState state;
            test::ManualTimer elps, est, stbar;
            std::unique_ptr<TDownloadFile> file;
            std::unique_ptr<ProgressDisplay> display;
        };
        std::vector<std::unique_ptr<Lane>> lanes;
        Run run;
        run.bytes = size * static_cast<std::uint64_t>(n);
        run.ok = true;
        int finished = 0;
        const auto slowly = [handlerMs] {
            if (handlerMs)
                std::this_thread::sleep_for(std::chrono::milliseconds(handlerMs));
        };
        for (int i = 0; i < n; ++i) {
            auto lane = std::make_unique<Lane>();
            lane->state.CurrentRow = i + 1;
            lane->state.FinalFileName = "lane.bin";
            lane->file = std::make_unique<TDownloadFile>(loop, timed);
            lane->display = std::make_unique<ProgressDisplay>(
                ProgressDisplay::Ports{list, statusBar, title, lane->state, clock, lane->elps,
                                       lane->est, lane->stbar, *lane->file, '.'});
            Lane& l = *lane;
            l.file->OnStart = [&l, slowly](void*) {
                l.display->DownloadFile1Start();
                slowly();
            };
            l.file->OnProgress = [&l, &run, slowly](void*, std::uint32_t r, std::uint32_t t) {
                ++run.handoffs;
                l.display->DownloadFile1Progress(r, t);
                slowly();
            };
            l.file->OnFinish = [&, slowly](void*, bool canceled, const TransferResult& result) {
                if (canceled || result.outcome != TransferOutcome::Succeeded) {
                    run.ok = false;
                    run.note = result.reason;
                }
                slowly();
                if (++finished == n)
                    QCoreApplication::quit();
            };
            l.file->OnError = [&](void*, ErrorCode, const std::string&) {
                run.ok = false;
                if (++finished == n)
                    QCoreApplication::quit();
            };
            l.file->UrlToDownload = urls[static_cast<std::size_t>(i)];
            l.file->FileName = targets[static_cast<std::size_t>(i)];
            lanes.push_back(std::move(lane));
        }
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            for (const auto& lane : lanes)
                lane->file->Stop();
        });
        guard.start(static_cast<int>(RunTimeout * 1000));
        const int before = timed->count();
        const auto began = SteadyClock::now();
        for (const auto& lane : lanes)
            lane->file->Start();
        QCoreApplication::exec();
        run.seconds = std::chrono::duration<double>(timed->endedAfter(before, n) - began).count();
        return run;
    }

    // The same transfers at once with no hand-off at all, while the Qt loop idles.
    Run noGuiLanes(const std::vector<std::string>& urls, const std::vector<std::string>& targets) {
        const int n = static_cast<int>(urls.size());
        Run run;
        run.bytes = size * static_cast<std::uint64_t>(n);
        run.ok = true;
        std::atomic<int> left{n};
        std::mutex noteMutex;
        const auto began = SteadyClock::now();
        std::vector<std::thread> workers;
        for (int i = 0; i < n; ++i)
            workers.emplace_back([&, i] {
                QuietCallback quiet;
                const TransferResult result = timed->transfer(
                    urls[static_cast<std::size_t>(i)], targets[static_cast<std::size_t>(i)], quiet);
                if (result.outcome != TransferOutcome::Succeeded) {
                    std::lock_guard lock(noteMutex);
                    run.ok = false;
                    run.note = result.reason;
                }
                if (--left == 0)
                    QMetaObject::invokeMethod(
                        QCoreApplication::instance(), [] { QCoreApplication::quit(); },
                        Qt::QueuedConnection);
            });
        QCoreApplication::exec();
        for (std::thread& w : workers)
            w.join();
        run.seconds = std::chrono::duration<double>(timed->ended() - began).count();
        return run;
    }

    // Checks that every one of `targets` arrived whole and removes them.
    bool landedAll(const std::vector<std::string>& targets, Run& run) {
        bool whole = run.ok;
        for (const std::string& target : targets) {
            Run one = run;
            whole = landed(target, one) && whole;
            if (!one.note.empty() && run.note.empty())
                run.note = one.note;
        }
        run.ok = whole;
        return whole;
    }

    // The same transfer with no hand-off at all, while the Qt loop idles.
    Run noGui(const std::string& url, const std::string& target) {
        Run run;
        const auto began = SteadyClock::now();
        std::thread worker([&] {
            QuietCallback quiet;
            const TransferResult result = timed->transfer(url, target, quiet);
            run.ok = result.outcome == TransferOutcome::Succeeded;
            run.note = result.reason;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [] { QCoreApplication::quit(); },
                Qt::QueuedConnection);
        });
        QCoreApplication::exec();
        worker.join();
        run.seconds = std::chrono::duration<double>(timed->ended() - began).count();
        return run;
    }

    Run tool(const std::vector<std::string>& argv) {
        const bench::ToolRun t = bench::runTool(argv, RunTimeout);
        Run run;
        run.seconds = t.seconds;
        run.ok = t.ok;
        return run;
    }

    // Checks what arrived and removes it, so that the next run starts with a clean disk.
    bool landed(const std::string& target, Run& run) {
        if (target == "/dev/null")
            return run.ok;
        std::error_code ec;
        const auto got = fs::file_size(target, ec);
        if (ec || got != size) {
            run.ok = false;
            if (run.note.empty())
                run.note = "wrong size";
        }
        fs::remove(target, ec);
        fs::remove(target + ".part", ec);
        return run.ok;
    }

    double mbps(const Run& run) const {
        const std::uint64_t bytes = run.bytes ? run.bytes : size;
        return run.ok && run.seconds > 0 ? static_cast<double>(bytes) / run.seconds / 1e6 : 0;
    }
};

// One client's runs, one a round.
struct Series {
    std::string label;
    std::string target;
    std::function<Run()> once;
    std::vector<Run> runs;
};

// Every client of a group runs once a round, in turn (A, B, C, then C, B, A...), so that none
// of them gets the machine's quieter moments to itself, nor always follows the same one (and
// the write-back of its file).
void interleave(Bench& b, std::vector<Series*> group) {
    for (int i = 0; i < b.rounds; ++i) {
        for (Series* s : group) {
            Run run = s->once();
            b.landed(s->target, run);
            s->runs.push_back(run);
        }
        std::reverse(group.begin(), group.end());
    }
}

struct Spread {
    double median = 0;
    double min = 0;
    double max = 0;
    int count = 0;
};

Spread spread(std::vector<double> values) {
    Spread sp;
    sp.count = static_cast<int>(values.size());
    if (values.empty())
        return sp;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    sp.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    sp.min = values.front();
    sp.max = values.back();
    return sp;
}

Spread rates(const Bench& b, const Series& s) {
    std::vector<double> v;
    for (const Run& r : s.runs)
        if (r.ok)
            v.push_back(b.mbps(r));
    return spread(v);
}

// The ratio of each round's pair, which cancels what the machine did in that round.
Spread pairedRatios(const Bench& b, const Series& s, const Series& reference) {
    std::vector<double> v;
    for (std::size_t i = 0; i < s.runs.size() && i < reference.runs.size(); ++i)
        if (s.runs[i].ok && reference.runs[i].ok && b.mbps(reference.runs[i]) > 0)
            v.push_back(b.mbps(s.runs[i]) / b.mbps(reference.runs[i]));
    return spread(v);
}

void printRow(const Bench& b, const char* source, const Series& s, const Series* reference) {
    const Spread r = rates(b, s);
    std::printf("%-10s %-36s %8.1f MB/s (%.1f-%.1f)", source, s.label.c_str(), r.median, r.min,
                r.max);
    if (reference) {
        const Spread x = pairedRatios(b, s, *reference);
        if (x.count)
            std::printf("   x%.2f (x%.2f-x%.2f)", x.median, x.min, x.max);
    }
    std::vector<double> handoffs;
    for (const Run& run : s.runs)
        if (run.handoffs)
            handoffs.push_back(run.handoffs);
    if (!handoffs.empty())
        std::printf("   (%.0f progress hand-offs)", spread(handoffs).median);
    std::vector<double> lag;
    for (const Run& run : s.runs)
        if (run.ok && run.heard > 0)
            lag.push_back(std::max(0.0, (run.heard - run.seconds) * 1000));
    if (!lag.empty())
        std::printf("   (end heard %.0f ms later)", spread(lag).median);
    int failed = 0;
    std::string note;
    for (const Run& run : s.runs)
        if (!run.ok) {
            ++failed;
            note = run.note;
        }
    if (failed)
        std::printf("   %d of %zu FAILED %s", failed, s.runs.size(), note.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

struct Target {
    std::string name;
    double ratio;
    double goal;
};

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one.empty() ? "unknown" : one + " " + five + " " + fifteen;
}

// Bytes arrived by each moment of one limited run, sampled every 50 ms.
struct Samples {
    std::vector<std::pair<double, std::uint64_t>> at; // seconds since start, bytes
    bool ok = false;
};

// The average over `seconds` from the moment the first byte came, and the most bytes any
// 1-second window held, both in bytes a second.
struct LimitFigures {
    double average = 0;
    double busiestSecond = 0;
};

LimitFigures figures(const Samples& s, double seconds) {
    LimitFigures f;
    std::size_t start = 0;
    while (start + 1 < s.at.size() && s.at[start + 1].second == 0)
        ++start;
    if (s.at.size() < 2)
        return f;
    const double t0 = s.at[start].first;
    const auto bytesAt = [&](double t) {
        std::uint64_t b = 0;
        for (const auto& [when, bytes] : s.at)
            if (when <= t)
                b = bytes;
        return b;
    };
    const double end = std::min(t0 + seconds, s.at.back().first);
    f.average = static_cast<double>(bytesAt(end)) / (end - t0);
    for (std::size_t i = start; i < s.at.size(); ++i) {
        if (s.at[i].first + 1 > s.at.back().first)
            break;
        const double window = static_cast<double>(bytesAt(s.at[i].first + 1.0) - s.at[i].second);
        f.busiestSecond = std::max(f.busiestSecond, window);
    }
    return f;
}

// Samples `bytes()` every 50 ms for `seconds` plus a little, then returns.
Samples sample(const std::function<std::uint64_t()>& bytes, double seconds) {
    Samples s;
    const auto began = SteadyClock::now();
    for (;;) {
        const double t = std::chrono::duration<double>(SteadyClock::now() - began).count();
        s.at.emplace_back(t, bytes());
        if (t > seconds + 1.5)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return s;
}

class CountingCallback final : public TransferCallback {
public:
    void onStart() override {}
    bool onProgress(std::uint64_t received, std::uint64_t) override {
        bytes.store(received);
        return !stop.load();
    }
    void onStop(const TransferResult&) override {}
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<bool> stop{false};
};

// A tool writing into `file`, sampled by the file's size, stopped after `seconds`.
Samples sampleTool(const std::vector<std::string>& argv, const std::string& file, double seconds) {
    const pid_t pid = bench::startProcess(argv);
    Samples s = sample(
        [&] {
            std::error_code ec;
            const auto size = fs::file_size(file, ec);
            return ec ? std::uint64_t{0} : static_cast<std::uint64_t>(size);
        },
        seconds);
    bench::stopProcess(pid);
    s.ok = pid > 0;
    std::error_code ec;
    fs::remove(file, ec);
    return s;
}

void limitBench(const fs::path& dir, int port, double seconds, std::vector<std::string>& lines) {
    std::printf("\nSpeed limit, %.0f s a client (stopped then), one client at a time; figures in "
                "MiB/s.\nTargets: the average within +-3 %% of the limit, no 1-second window "
                "above 2 x the limit.\n",
                seconds);
    const std::string file = (dir / "limited.bin").string();
    for (const std::uint64_t mib : {1u, 10u, 100u}) {
        const std::uint64_t limit = mib << 20;
        const std::string url = "http://127.0.0.1:" + std::to_string(port) +
                                "/file/limited.bin?size=" +
                                std::to_string(limit * static_cast<std::uint64_t>(seconds + 15));
        const std::string rate = std::to_string(mib) + "M";
        struct Client {
            std::string label;
            std::function<Samples()> run;
        };
        std::vector<Client> clients;
        clients.push_back(
            {"torvaline", [&] {
                 auto facility = std::make_shared<CurlTransfer>(std::make_shared<CurlShare>());
                 facility->setSpeedLimit(limit);
                 CountingCallback counting;
                 std::thread worker([&] { facility->transfer(url, "/dev/null", counting); });
                 Samples s = sample([&] { return counting.bytes.load(); }, seconds);
                 counting.stop = true;
                 worker.join();
                 s.ok = true;
                 return s;
             }});
        if (bench::toolExists("curl"))
            clients.push_back({"curl --limit-rate " + rate, [&] {
                                   return sampleTool(
                                       {"curl", "-s", "-o", file, "--limit-rate", rate, url}, file,
                                       seconds);
                               }});
        if (bench::toolExists("aria2c"))
            clients.push_back({"aria2c --max-overall-download-limit=" + rate, [&] {
                                   return sampleTool({"aria2c", "-q", "-d", dir.string(), "-o",
                                                      "limited.bin", "--allow-overwrite=true",
                                                      "--file-allocation=none", "--disk-cache=0",
                                                      "--max-tries=1",
                                                      "--max-overall-download-limit=" + rate, url},
                                                     file, seconds);
                               }});
        for (const Client& c : clients) {
            const Samples s = c.run();
            const LimitFigures f = figures(s, seconds);
            const double avg = f.average / static_cast<double>(limit);
            const double burst = f.busiestSecond / static_cast<double>(limit);
            std::printf("limit %3llu MiB/s  %-44s average %8.3f (x%.3f)  busiest second %8.3f "
                        "(x%.2f)\n",
                        static_cast<unsigned long long>(mib), c.label.c_str(), f.average / 1048576,
                        avg, f.busiestSecond / 1048576, burst);
            std::fflush(stdout);
            if (c.label == "torvaline") {
                char line[200];
                std::snprintf(line, sizeof line,
                              "target limit-%llumib-average: x%.3f (goal x0.97-x1.03) %s",
                              static_cast<unsigned long long>(mib), avg,
                              avg >= 0.97 && avg <= 1.03 ? "met" : "missed");
                lines.push_back(line);
                std::snprintf(
                    line, sizeof line, "target limit-%llumib-busiest-second: x%.2f (goal < x2) %s",
                    static_cast<unsigned long long>(mib), burst, burst < 2 ? "met" : "missed");
                lines.push_back(line);
            }
        }
    }
}

struct Nginx {
    pid_t pid = -1;
    int port = 0;

    bool start(const fs::path& root, std::uint64_t size) {
        if (!bench::toolExists("nginx") && !fs::exists("/usr/sbin/nginx"))
            return false;
        fs::create_directories(root / "www");
        {
            const int fd = ::open((root / "www" / "big.bin").c_str(), O_WRONLY | O_CREAT, 0644);
            const bool sized = fd >= 0 && ftruncate(fd, static_cast<off_t>(size)) == 0;
            if (fd >= 0)
                ::close(fd);
            if (!sized)
                return false;
        }
        port = bench::freePort();
        std::ofstream conf(root / "nginx.conf");
        conf << "daemon off;\nmaster_process on;\nworker_processes 1;\n"
             << "pid " << (root / "nginx.pid").string() << ";\n"
             << "error_log " << (root / "error.log").string() << " error;\n"
             << "events { worker_connections 64; }\n"
             << "http {\n access_log off;\n sendfile on;\n tcp_nopush on;\n"
             << " server {\n  listen 127.0.0.1:" << port << ";\n  root " << (root / "www").string()
             << ";\n }\n}\n";
        conf.close();
        const std::string nginx = fs::exists("/usr/sbin/nginx") ? "/usr/sbin/nginx" : "nginx";
        pid = bench::startProcess({nginx, "-p", root.string(), "-c", (root / "nginx.conf").string(),
                                   "-e", (root / "error.log").string()});
        return pid > 0 && bench::waitForPort(port, 5);
    }
    ~Nginx() { bench::stopProcess(pid); }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Bench b;
    bool withNginx = true;
    bool limitOnly = false;
    bool handlersOnly = false;
    int lanes = 1;
    double limitSeconds = 30;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--size-mib" && i + 1 < argc)
            b.size = std::stoull(argv[++i]) << 20;
        else if (arg == "--rounds" && i + 1 < argc)
            b.rounds = std::max(5, std::stoi(argv[++i])); // fewer cannot show a spread
        else if (arg == "--no-nginx")
            withNginx = false;
        else if (arg == "--limit-only")
            limitOnly = true;
        else if (arg == "--handlers-only")
            handlersOnly = true;
        else if (arg == "--lanes" && i + 1 < argc)
            lanes = std::clamp(std::stoi(argv[++i]), 1, 8);
        else if (arg == "--limit-seconds" && i + 1 < argc)
            limitSeconds = std::clamp(std::stod(argv[++i]), 5.0, 120.0);
    }
    const auto began = SteadyClock::now();

    std::string pattern = (fs::temp_directory_path() / "torvaline-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    b.dir = pattern;
    // nginx's workers read the file as an unprivileged user.
    fs::permissions(b.dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);

    httplib::Server emulator;
    hostersim::addFileRoutes(emulator);
    const int port = emulator.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { emulator.listen_after_bind(); });
    bench::waitForPort(port, 5);

    const std::string file = (b.dir / "big.bin").string();
    const std::string base =
        "http://127.0.0.1:" + std::to_string(port) + "/file/big.bin?size=" + std::to_string(b.size);
    std::printf("%llu MiB over 127.0.0.1, %d rounds; in each round every client of a group runs "
                "once, in turn, in the reverse order the next round.\n"
                "Figures: median MB/s (min-max); x = median of the rounds' own ratios to the "
                "group's reference (min-max).\n"
                "The machine is shared: load average %s at the start.\n"
                "Targets: to disk x%.2f curl, to /dev/null x%.2f curl, 16 ms progress handler "
                "x%.2f no handler, 100 ms handler x%.2f no handler, peak memory < 64 MiB.\n\n",
                static_cast<unsigned long long>(b.size >> 20), b.rounds, loadAverage().c_str(), 1.2,
                1.0, 0.95, 0.90);
    std::vector<Target> targets;
    std::vector<std::string> limitLines;
    if (limitOnly) {
        limitBench(b.dir, port, limitSeconds, limitLines);
        hostersim::releaseFileRoutes(emulator);
        emulator.stop();
        serving.join();
        std::error_code ec;
        fs::remove_all(b.dir, ec);
        std::printf("\n");
        for (const std::string& line : limitLines)
            std::printf("%s\n", line.c_str());
        return 0;
    }

    const auto tool = [&](std::string label, std::vector<std::string> argv,
                          std::string target = {}) {
        return Series{std::move(label),
                      target.empty() ? file : std::move(target),
                      [&b, argv] { return b.tool(argv); },
                      {}};
    };
    const auto component = [&](std::string label, std::string url, std::string target,
                               int handlerMs = 0) {
        return Series{std::move(label),
                      target,
                      [&b, url, target, handlerMs] { return b.component(url, target, handlerMs); },
                      {}};
    };
    // The other tools beside curl, where installed.
    const auto others = [&](const std::string& url) {
        std::vector<Series> more;
        if (bench::toolExists("wget"))
            more.push_back(tool("wget -O (disk)", {"wget", "-q", "-O", file, url}));
        if (bench::toolExists("aria2c"))
            more.push_back(
                tool("aria2c (disk)",
                     {"aria2c", "-q", "-d", b.dir.string(), "-o", "big.bin",
                      "--allow-overwrite=true", "--file-allocation=falloc", "--max-tries=1", url}));
        return more;
    };
    // One source: curl, the program with its progress live, and the other tools, to disk.
    const auto diskGroup = [&](const char* source, const std::string& url) {
        Series curl = tool("curl -o (disk)", {"curl", "-s", "-o", file, url});
        Series ours = component("torvaline, progress live (disk)", url, file);
        std::vector<Series> more = others(url);
        std::vector<Series*> group{&ours, &curl};
        for (Series& s : more)
            group.push_back(&s);
        interleave(b, group);
        printRow(b, source, curl, nullptr);
        printRow(b, source, ours, &curl);
        for (const Series& s : more)
            printRow(b, source, s, &curl);
        return pairedRatios(b, ours, curl).median;
    };

    if (!handlersOnly) {
        targets.push_back({"disk", diskGroup("emulator", base), 1.2});
        Series curl =
            tool("curl -o /dev/null", {"curl", "-s", "-o", "/dev/null", base}, "/dev/null");
        Series ours = component("torvaline /dev/null", base, "/dev/null");
        interleave(b, {&ours, &curl});
        printRow(b, "emulator", curl, nullptr);
        printRow(b, "emulator", ours, &curl);
        targets.push_back({"devnull", pairedRatios(b, ours, curl).median, 1.0});
    }

    // Several transfers at once, as lanes run them: each from a server of its own on
    // 127.0.0.1, 127.0.0.2, ..., all through the one facility, with the window's handler and
    // with a 100 ms one for every event of any of them, against none at all.
    std::vector<std::unique_ptr<httplib::Server>> more;
    std::vector<std::thread> moreServing;
    if (lanes > 1) {
        std::vector<std::string> urls{base};
        std::vector<std::string> files{file};
        for (int i = 1; i < lanes; ++i) {
            auto server = std::make_unique<httplib::Server>();
            hostersim::addFileRoutes(*server);
            const std::string address = "127.0.0." + std::to_string(i + 1);
            const int p = server->bind_to_any_port(address);
            moreServing.emplace_back([s = server.get()] { s->listen_after_bind(); });
            while (!server->is_running())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            urls.push_back("http://" + address + ":" + std::to_string(p) +
                           "/file/big.bin?size=" + std::to_string(b.size));
            files.push_back((b.dir / ("big-" + std::to_string(i + 1) + ".bin")).string());
            more.push_back(std::move(server));
        }
        const auto lanesSeries = [&](std::string label, int handlerMs) {
            return Series{std::move(label),
                          "/dev/null", // landedAll checks and removes every file
                          [&b, urls, files, handlerMs] {
                              Run run = handlerMs < 0 ? b.noGuiLanes(urls, files)
                                                      : b.lanes(urls, files, handlerMs);
                              b.landedAll(files, run);
                              return run;
                          },
                          {}};
        };
        const std::string at = "x" + std::to_string(lanes);
        Series none = lanesSeries("torvaline " + at + ", no handler (disk)", -1);
        Series window = lanesSeries("torvaline " + at + ", window's handler", 0);
        Series slow100 = lanesSeries("torvaline " + at + ", 100 ms handler", 100);
        interleave(b, {&none, &window, &slow100});
        printRow(b, "emulator", none, nullptr);
        printRow(b, "emulator", window, &none);
        printRow(b, "emulator", slow100, &none);
        targets.push_back({"handler-100ms-" + std::to_string(lanes) + "-lanes",
                           pairedRatios(b, slow100, none).median, 0.90});
    }

    // Full speed, against the same transfer with no progress hand-off at all: the window's own
    // handler, then handlers that take 16 ms (a frame) and 100 ms (a stalled window).
    if (lanes == 1) {
        Series none{"torvaline, no handler (disk)", file, [&] { return b.noGui(base, file); }, {}};
        Series window = component("torvaline, window's handler (disk)", base, file);
        Series slow16 = component("torvaline, 16 ms handler (disk)", base, file, 16);
        Series slow100 = component("torvaline, 100 ms handler (disk)", base, file, 100);
        interleave(b, {&none, &window, &slow16, &slow100});
        printRow(b, "emulator", none, nullptr);
        printRow(b, "emulator", window, &none);
        printRow(b, "emulator", slow16, &none);
        printRow(b, "emulator", slow100, &none);
        targets.push_back({"handler-16ms", pairedRatios(b, slow16, none).median, 0.95});
        targets.push_back({"handler-100ms", pairedRatios(b, slow100, none).median, 0.90});
    }

    // nginx serving a sparse file of the same size.
    if (withNginx && !handlersOnly) {
        Nginx nginx;
        if (nginx.start(b.dir / "nginx", b.size))
            diskGroup("nginx", "http://127.0.0.1:" + std::to_string(nginx.port) + "/big.bin");
        else
            std::printf("nginx: not started, skipped\n");
    }

    if (!handlersOnly)
        limitBench(b.dir, port, limitSeconds, limitLines);

    hostersim::releaseFileRoutes(emulator);
    emulator.stop();
    serving.join();
    for (const auto& server : more) {
        hostersim::releaseFileRoutes(*server);
        server->stop();
    }
    for (std::thread& t : moreServing)
        t.join();
    std::error_code ec;
    fs::remove_all(b.dir, ec);

    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    const double peakMiB = static_cast<double>(self.ru_maxrss) / 1024.0;
    std::printf("\nload average %s at the end; total %.0f s\n", loadAverage().c_str(),
                std::chrono::duration<double>(SteadyClock::now() - began).count());
    std::printf("peak memory is this process's: the component and the in-process emulator\n\n");
    for (const Target& t : targets)
        std::printf("target %s: x%.2f (goal x%.2f) %s\n", t.name.c_str(), t.ratio, t.goal,
                    t.ratio >= t.goal ? "met" : "missed");
    std::printf("target peak-memory: %.0f MiB (goal < 64 MiB) %s\n", peakMiB,
                peakMiB < 64 ? "met" : "missed");
    for (const std::string& line : limitLines)
        std::printf("%s\n", line.c_str());
    return 0;
}
