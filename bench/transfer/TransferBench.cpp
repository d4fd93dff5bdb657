// One large file over 127.0.0.1, downloaded by the download component with a real Qt event
// loop taking every hand-off, and by the curl, wget and aria2c tools, from the emulator and
// (when installed) from nginx. Prints MB/s (10^6 bytes per second), ratios and peak memory.
//
//   bench_transfer [--size-mib N] [--rounds N] [--no-nginx]

#include "BenchProcess.h"
#include "doubles/ManualTimer.h"

#include "FileRoutes.h"
#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"
#include "adapters/qt/QtEventLoop.h"
#include "cycle/CycleState.h"
#include "list/AppTitle.h"
#include "list/DownloadList.h"
#include "list/StatusBar.h"
#include "platform/Clock.h"
#include "platform/Timer.h"
#include "transfer/ProgressDisplay.h"
#include "transfer/TDownloadFile.h"

#include <QCoreApplication>
#include <QTimer>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
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

struct Run {
    double seconds = 0;
    bool ok = false;
    int handoffs = 0;
    std::string note;
};

struct Bench {
    std::uint64_t size = 1ull << 30;
    int rounds = 2;
    fs::path dir;
    QtEventLoop loop;
    std::shared_ptr<CurlTransfer> facility =
        std::make_shared<CurlTransfer>(std::make_shared<CurlShare>());

    // The component with the real progress display bound, as the main window binds it.
    Run component(const std::string& url, const std::string& target, int handlerMs = 0) {
        DownloadList list;
        list.setRowCount(2);
        StatusBar statusBar;
        AppTitle title;
        CycleState state;
        state.FinalFileName = "big.bin";
        WallClock clock;
        test::ManualTimer elps, est, stbar;
        TDownloadFile downloadFile1(loop, facility);
        ProgressDisplay display(list, statusBar, title, state, clock, elps, est, stbar,
                                downloadFile1, '.');
        Run run;
        downloadFile1.OnStart = [&](void*) { display.DownloadFile1Start(); };
        downloadFile1.OnProgress = [&](void*, std::uint32_t r, std::uint32_t t) {
            ++run.handoffs;
            display.DownloadFile1Progress(r, t);
            if (handlerMs)
                std::this_thread::sleep_for(std::chrono::milliseconds(handlerMs));
        };
        downloadFile1.OnFinish = [&](void*, bool canceled, const TransferResult& result) {
            run.ok = !canceled && result.outcome == TransferOutcome::Succeeded;
            run.note = result.reason;
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
        const auto began = SteadyClock::now();
        downloadFile1.Start();
        QCoreApplication::exec();
        run.seconds = std::chrono::duration<double>(SteadyClock::now() - began).count();
        return run;
    }

    // The same transfer with no hand-off at all, while the Qt loop idles.
    Run noGui(const std::string& url, const std::string& target) {
        Run run;
        const auto began = SteadyClock::now();
        std::thread worker([&] {
            QuietCallback quiet;
            const TransferResult result = facility->transfer(url, target, quiet);
            run.ok = result.outcome == TransferOutcome::Succeeded;
            run.note = result.reason;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [] { QCoreApplication::quit(); },
                Qt::QueuedConnection);
        });
        QCoreApplication::exec();
        worker.join();
        run.seconds = std::chrono::duration<double>(SteadyClock::now() - began).count();
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

    // Best of `rounds` runs.
    template <class F> Run best(const std::string& target, F&& once) {
        std::optional<Run> top;
        for (int i = 0; i < rounds; ++i) {
            Run run = once();
            landed(target, run);
            if (!top || (run.ok && (!top->ok || run.seconds < top->seconds)))
                top = run;
        }
        return *top;
    }

    double mbps(const Run& run) const {
        return run.ok && run.seconds > 0 ? static_cast<double>(size) / run.seconds / 1e6 : 0;
    }
};

void printRow(const Bench& b, const char* source, const char* client, const Run& run,
              const Run* reference) {
    std::printf("%-10s %-34s %9.1f MB/s", source, client, b.mbps(run));
    if (reference && b.mbps(*reference) > 0 && run.ok)
        std::printf("   x%.2f", b.mbps(run) / b.mbps(*reference));
    if (run.handoffs)
        std::printf("   (%d progress hand-offs)", run.handoffs);
    if (!run.ok)
        std::printf("   FAILED %s", run.note.c_str());
    std::printf("\n");
    std::fflush(stdout);
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
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--size-mib" && i + 1 < argc)
            b.size = std::stoull(argv[++i]) << 20;
        else if (arg == "--rounds" && i + 1 < argc)
            b.rounds = std::max(1, std::stoi(argv[++i]));
        else if (arg == "--no-nginx")
            withNginx = false;
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
    std::printf("%llu MiB over 127.0.0.1, best of %d, temp dir %s\n\n",
                static_cast<unsigned long long>(b.size >> 20), b.rounds, b.dir.c_str());

    const bool haveCurl = bench::toolExists("curl");
    const auto tools = [&](const char* source, const std::string& url, const Run& curlRun) {
        if (bench::toolExists("wget"))
            printRow(b, source, "wget -O (disk)",
                     b.best(file,
                            [&] {
                                return b.tool({"wget", "-q", "-O", file, url});
                            }),
                     &curlRun);
        if (bench::toolExists("aria2c"))
            printRow(b, source, "aria2c (disk)",
                     b.best(file,
                            [&] {
                                return b.tool({"aria2c", "-q", "-d", b.dir.string(), "-o",
                                               "big.bin", "--allow-overwrite=true",
                                               "--file-allocation=falloc", "--max-tries=1", url});
                            }),
                     &curlRun);
    };

    // Disk, emulator.
    Run ours;
    Run curlDisk;
    for (int i = 0; i < b.rounds; ++i) { // interleaved, so that neither gets the quieter moment
        Run o = b.component(base, file);
        b.landed(file, o);
        if (!ours.ok || (o.ok && o.seconds < ours.seconds))
            ours = o;
        if (haveCurl) {
            Run c = b.tool({"curl", "-s", "-o", file, base});
            b.landed(file, c);
            if (!curlDisk.ok || (c.ok && c.seconds < curlDisk.seconds))
                curlDisk = c;
        }
    }
    printRow(b, "emulator", "curl -o (disk)", curlDisk, nullptr);
    printRow(b, "emulator", "torvaline, progress live (disk)", ours, &curlDisk);
    tools("emulator", base, curlDisk);

    // /dev/null, emulator.
    const Run curlNull = b.best("/dev/null", [&] {
        return b.tool({"curl", "-s", "-o", "/dev/null", base});
    });
    const Run oursNull = b.best("/dev/null", [&] { return b.component(base, "/dev/null"); });
    printRow(b, "emulator", "curl -o /dev/null", curlNull, nullptr);
    printRow(b, "emulator", "torvaline /dev/null", oursNull, &curlNull);

    // The hand-off's cost: the same transfer without any.
    const Run quiet = b.best(file, [&] { return b.noGui(base, file); });
    printRow(b, "emulator", "torvaline, no progress (disk)", quiet, &curlDisk);
    std::printf("%-10s %-34s   x%.2f\n", "", "progress live / no progress",
                b.mbps(quiet) > 0 ? b.mbps(ours) / b.mbps(quiet) : 0.0);

    // A 100 MiB/s server and a GUI handler that takes 16 ms, against no GUI at all.
    const std::string limited = base + "&rate=" + std::to_string(100ull << 20);
    Run slowGui = b.component(limited, file, 16);
    b.landed(file, slowGui);
    Run noGuiLimited = b.noGui(limited, file);
    b.landed(file, noGuiLimited);
    printRow(b, "100MiB/s", "torvaline, no GUI (disk)", noGuiLimited, nullptr);
    printRow(b, "100MiB/s", "torvaline, 16 ms GUI handler (disk)", slowGui, &noGuiLimited);

    // nginx serving a sparse file of the same size.
    if (withNginx) {
        Nginx nginx;
        if (nginx.start(b.dir / "nginx", b.size)) {
            const std::string url = "http://127.0.0.1:" + std::to_string(nginx.port) + "/big.bin";
            const Run c = b.best(file, [&] { return b.tool({"curl", "-s", "-o", file, url}); });
            printRow(b, "nginx", "curl -o (disk)", c, nullptr);
            printRow(b, "nginx", "torvaline, progress live (disk)",
                     b.best(file, [&] { return b.component(url, file); }), &c);
            tools("nginx", url, c);
        } else {
            std::printf("nginx: not started, skipped\n");
        }
    }

    hostersim::releaseFileRoutes(emulator);
    emulator.stop();
    serving.join();
    std::error_code ec;
    fs::remove_all(b.dir, ec);

    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    std::printf("\npeak resident memory of this process (component + in-process emulator): "
                "%.1f MiB\n",
                self.ru_maxrss / 1024.0);
    std::printf("total %.0f s\n",
                std::chrono::duration<double>(SteadyClock::now() - began).count());
    return 0;
}
