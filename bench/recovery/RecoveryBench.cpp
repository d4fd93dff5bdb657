// Keeps a 100,000-row list in the recovery file: how long the GUI thread spends encoding it,
// and how long the writer thread spends putting it on the disk (temporary file, fsync,
// rename, folder fsync). Not a test: it prints figures and never fails on timing.
// Usage: bench_recovery [rows] [folder]   (the folder defaults to a new one under /tmp)

#include "adapters/linux/FileRecoveryStore.h"
#include "cycle/ListRecovery.h"
#include "list/DownloadList.h"
#include "platform/Timer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <time.h>

using namespace torvaline;

namespace {

using Clock = std::chrono::steady_clock;

double timeMs(const std::function<void()>& fn) {
    const auto start = Clock::now();
    fn();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of this thread: the figure that a machine busy with other work does not inflate.
double cpuMs(const std::function<void()>& fn) {
    timespec a{}, b{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    fn();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    return (static_cast<double>(b.tv_sec - a.tv_sec) * 1e3) +
           (static_cast<double>(b.tv_nsec - a.tv_nsec) / 1e6);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The benchmark drives the writes itself.
class IdleTimer final : public Timer {
public:
    void setEnabled(bool) override {}
    bool enabled() const override { return false; }
    void setOnTick(std::function<void()>) override {}
};

} // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    std::string folder = argc > 2 ? argv[2] : std::string();
    std::filesystem::path made;
    if (folder.empty()) {
        std::string pattern = "/tmp/torvaline-bench-XXXXXX";
        if (!mkdtemp(pattern.data()))
            return 1;
        made = pattern;
        folder = pattern;
    }

    DownloadList list;
    list.setRowCount(rows + 1);
    for (int r = 1; r <= rows; ++r) {
        list.setCell(r, DownloadList::Host, "RapidShare");
        list.setCell(r, DownloadList::URL,
                     "http://rapidshare.example.com/files/" + std::to_string(1000000 + r) +
                         "/some_archive_part" + std::to_string(r % 40) + ".rar");
        list.setCell(r, DownloadList::Status, r % 3 ? "Waiting..." : "Completed");
    }

    {
        FileRecoveryStore store(folder);
        if (!store.active()) {
            std::fprintf(stderr, "no slot: %s\n", store.problem().c_str());
            return 1;
        }
        IdleTimer timer;
        ListRecovery recovery(list, store, timer);
        std::vector<double> encode, encodeCpu, copy, write, total;
        std::size_t bytes = 0;
        for (int i = 0; i < 7; ++i) {
            std::string text;
            encode.push_back(timeMs([&] { text = recovery.encodeList(); }));
            bytes = text.size();
            encodeCpu.push_back(cpuMs([&] { text = recovery.encodeList(); }));
            // The floor: copying the finished text once.
            copy.push_back(timeMs([&] {
                std::string plain(text);
                bytes += plain.size() - text.size();
            }));
            write.push_back(timeMs([&] {
                const std::string error = FileRecoveryStore::writeAtomically(store.path(), text);
                if (!error.empty())
                    std::fprintf(stderr, "%s\n", error.c_str());
            }));
            total.push_back(timeMs([&] {
                store.save(recovery.encodeList());
                store.flush();
            }));
        }
        std::printf("recovery file, %d rows, %zu bytes, in %s (median of 7):\n", rows, bytes,
                    folder.c_str());
        std::printf("  GUI thread, encoding the list:          %8.2f ms (CPU %.2f ms)\n",
                    median(encode), median(encodeCpu));
        std::printf("  (copying the finished text once:        %8.2f ms)\n", median(copy));
        std::printf("  writer thread, atomic write with fsync: %8.2f ms\n", median(write));
        std::printf("  save() to safely on disk:               %8.2f ms\n", median(total));
        store.remove();
    }
    if (!made.empty())
        std::filesystem::remove_all(made);
    return 0;
}
