// torvaline-hostersim: the hoster emulator as a program, for the demo and the benchmarks.
#include "HosterSites.h"
#include "MixedList.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void usage() {
    std::cerr
        << "usage: torvaline-hostersim [--port N] [--sites N] [--demo-list FILE]\n"
           "                            [--xfs-demo-list FILE] [--mixed-demo-list FILE\n"
           "                            [--wait-after S] [--countdown S] [--file-size BYTES]\n"
           "                            [--rate BYTES]]\n"
           "                            [--serve DIR [--archive-list FILE] [--page-password P]\n"
           "                            [--page-md5]]\n"
           "  --port N          listen on 127.0.0.1:N (0, the default, picks a free port)\n"
           "  --sites N         N hoster sites, on 127.0.0.1 to 127.0.0.N and one port,\n"
           "                    each with its own waits and countdowns (1 to 32; 1)\n"
           "  --demo-list FILE  write a list file of demo links to FILE\n"
           "  --xfs-demo-list FILE  the same for the Free Download family of hosters\n"
           "  --mixed-demo-list FILE  a list that mixes three hosters (three sites at least):\n"
           "                    three files of 127.0.0.1, then three of 127.0.0.2, then three\n"
           "                    of 127.0.0.3, each site asking a free user to wait after each\n"
           "                    file and counting down before each one\n"
           "  --wait-after S    the mixed list's wait after each file, in seconds (60)\n"
           "  --countdown S     the mixed list's countdown before each file, in seconds (2)\n"
           "  --file-size BYTES the mixed list's first file (the others a little larger;\n"
           "                    2097152)\n"
           "  --rate BYTES      the mixed list's files come at BYTES a second (0, the\n"
           "                    default: as fast as they go)\n"
           "  --serve DIR       serve the plain files of DIR as hoster downloads\n"
           "  --archive-list FILE  write a list file of a link to each file of DIR to FILE\n"
           "                    (links of the Free Download family)\n"
           "  --page-password P    the link pages of those files say \"Password: <b>P</b>\"\n"
           "  --page-md5           and \"MD5: <b>...</b>\" with the file's MD5\n"
           "The demo lists are of the first site. Prints the base address of each site,\n"
           "one a line, the first site's first, then serves until SIGINT or SIGTERM, or until\n"
           "standard input reaches its end when it is a pipe or a terminal.\n";
}

bool writeDemoList(const hostersim::HosterSim& sim, const std::string& path) {
    // Throttled so that the speed, sizes and time left can be watched for some seconds. A
    // file server that answers 500 for ever (asking to come back in 5 s) is set aside while
    // the rows behind it come in; the missing file fails and the list goes on; the plain
    // direct link is a file, not a hoster's page.
    const std::string rate = "rate=" + std::to_string(256 * 1024);
    const std::string lines[] = {
        sim.rapidshareLink("ok", "demo-alpha.bin", 1024 * 1024, 2, rate),
        sim.rapidshareLink("ok", "demo-flaky.bin", 64 * 1024, 2, "status=500&retry=5"),
        sim.rapidshareLink("ok", "demo-beta.bin", 2048 * 1024, 3, rate),
        sim.rapidshareLink("tryagainabout", "demo-gamma.bin", 1536 * 1024, 2, "wait=1&" + rate),
        sim.rapidshareLink("notfound", "demo-missing.bin", 1024, 2),
        sim.rapidshareLink("ok", "demo-delta.bin", 3072 * 1024, 2, rate),
        sim.baseUrl() + "/file/demo-photo.jpg?size=" + std::to_string(512 * 1024) + "&" + rate,
    };
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines)
        out << line << "\r\n";
    return static_cast<bool>(out);
}

bool writeXfsDemoList(const hostersim::HosterSim& sim, const std::string& path) {
    const std::string rate = "rate=" + std::to_string(256 * 1024);
    const std::string lines[] = {
        sim.xfsLink("ok", "xfs-alpha.bin", 1024 * 1024, 3, rate),
        sim.xfsLink("wait", "xfs-beta.bin", 1536 * 1024, 2, "wait=1&" + rate),
        sim.xfsLink("ok", "xfs-gamma.bin", 2048 * 1024, 2, rate),
        sim.xfsLink("notfound", "xfs-missing.bin", 1024, 2),
    };
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines)
        out << line << "\r\n";
    return static_cast<bool>(out);
}

// A link to each plain file of the served folder, in the order of their names: the parts of a
// set come one after another, its checksum file after them.
bool writeArchiveList(const hostersim::HosterSim& sim, const std::string& folder,
                      const std::string& password, bool md5, const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file())
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const std::string& name : names)
        out << sim.xfsStoredLink(name, password, md5 ? "md5=1" : "") << "\r\n";
    return static_cast<bool>(out);
}

// A pipe or terminal on stdin lets the parent end us by closing it; /dev/null or a file does
// not, so that a program started in the background keeps running.
bool watchStdin() {
    struct stat st {};
    if (fstat(STDIN_FILENO, &st) != 0)
        return false;
    return S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || isatty(STDIN_FILENO);
}

} // namespace

int main(int argc, char** argv) {
    int port = 0;
    int sites = 1;
    std::string demoList;
    std::string xfsDemoList;
    std::string mixedDemoList;
    hostersim::MixedList mixed;
    long long size = static_cast<long long>(mixed.size);
    long long rate = 0;
    const auto number = [&](int& i, auto& into, long long lowest, long long highest) {
        try {
            std::size_t used = 0;
            const long long value = std::stoll(argv[++i], &used);
            if (argv[i][used] != '\0' || value < lowest || value > highest)
                return false;
            into = static_cast<std::remove_reference_t<decltype(into)>>(value);
            return true;
        } catch (const std::exception&) {
            return false;
        }
    };
    std::string served;
    std::string archiveList;
    std::string pagePassword;
    bool pageMd5 = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bool ok = true;
        if (arg == "--port" && i + 1 < argc) {
            ok = number(i, port, 0, 65535);
        } else if (arg == "--sites" && i + 1 < argc) {
            ok = number(i, sites, 1, hostersim::HosterSites::MaxSites);
        } else if (arg == "--wait-after" && i + 1 < argc) {
            ok = number(i, mixed.waitAfter, 0, 86400);
        } else if (arg == "--countdown" && i + 1 < argc) {
            ok = number(i, mixed.countdown, 0, 999);
        } else if (arg == "--file-size" && i + 1 < argc) {
            ok = number(i, size, 1, 1ll << 40);
        } else if (arg == "--rate" && i + 1 < argc) {
            ok = number(i, rate, 0, 1ll << 40);
        } else if (arg == "--mixed-demo-list" && i + 1 < argc) {
            mixedDemoList = argv[++i];
        } else if (arg == "--demo-list" && i + 1 < argc) {
            demoList = argv[++i];
        } else if (arg == "--xfs-demo-list" && i + 1 < argc) {
            xfsDemoList = argv[++i];
        } else if (arg == "--serve" && i + 1 < argc) {
            served = argv[++i];
        } else if (arg == "--archive-list" && i + 1 < argc) {
            archiveList = argv[++i];
        } else if (arg == "--page-password" && i + 1 < argc) {
            pagePassword = argv[++i];
        } else if (arg == "--page-md5") {
            pageMd5 = true;
        } else {
            usage();
            return arg == "--help" || arg == "-h" ? 0 : 2;
        }
        if (!ok) {
            usage();
            return 2;
        }
    }
    if (!archiveList.empty() && served.empty()) {
        usage();
        return 2;
    }
    mixed.size = static_cast<std::uint64_t>(size);
    mixed.rate = static_cast<std::uint64_t>(rate);
    // The mixed list is of three hosters.
    if (!mixedDemoList.empty())
        sites = std::max(sites, 3);

    // Signals are taken by sigwait below, never by a server thread.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    hostersim::HosterSites all(static_cast<std::size_t>(sites));
    try {
        all.start(port);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    if (!served.empty())
        all.site(0).serveFolder(served);
    const hostersim::HosterSim& sim = all.site(0);
    if (!archiveList.empty() &&
        !writeArchiveList(sim, served, pagePassword, pageMd5, archiveList)) {
        std::cerr << "cannot write " << archiveList << "\n";
        return 1;
    }
    if (!xfsDemoList.empty() && !writeXfsDemoList(sim, xfsDemoList)) {
        std::cerr << "cannot write " << xfsDemoList << "\n";
        return 1;
    }
    if (!demoList.empty() && !writeDemoList(sim, demoList)) {
        std::cerr << "cannot write " << demoList << "\n";
        return 1;
    }
    if (!mixedDemoList.empty() &&
        !hostersim::writeListFile(mixed.links(all, 0, 3), mixedDemoList)) {
        std::cerr << "cannot write " << mixedDemoList << "\n";
        return 1;
    }
    for (std::size_t i = 0; i < all.size(); ++i)
        std::cout << all.site(i).baseUrl() << "\n";
    std::cout.flush();

    if (watchStdin()) {
        std::thread([] {
            char buffer[256];
            while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
            }
            kill(getpid(), SIGTERM);
        }).detach();
    }
    int signal = 0;
    sigwait(&stopSignals, &signal);
    all.stop();
    return 0;
}
