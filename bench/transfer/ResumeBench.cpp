// What resuming saves: a file cut at 90 % fetched again, continued from the kept part beside
// started over. Prints the bytes each second attempt brought and how long it took; never fails
// on figures. Usage: bench_resume [MiB] (default 1024).

#include "FileRoutes.h"
#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"
#include "doubles/TempDir.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using namespace torvaline;
using SteadyClock = std::chrono::steady_clock;

class Counting final : public TransferCallback {
public:
    void onStart() override {}
    bool onProgress(std::uint64_t received, std::uint64_t) override {
        last = received;
        return true;
    }
    void onStop(const TransferResult&) override {}
    void onResumed(std::uint64_t offset) override { resumedFrom = offset; }
    std::uint64_t last = 0;
    std::uint64_t resumedFrom = 0;
};

struct Attempt {
    TransferResult result;
    std::uint64_t bytes = 0; // brought over the wire by this attempt
    double seconds = 0;
};

Attempt run(CurlTransfer& transfer, const std::string& url, const std::string& target,
            const PartialFile& resume) {
    Counting counting;
    const auto began = SteadyClock::now();
    Attempt a;
    a.result = transfer.transfer(url, target, resume, counting);
    a.seconds = std::chrono::duration<double>(SteadyClock::now() - began).count();
    a.bytes = counting.last - counting.resumedFrom;
    return a;
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::uint64_t size = mib << 20;
    const std::uint64_t cut = size / 10 * 9;

    httplib::Server server;
    hostersim::addFileRoutes(server);
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread listener([&] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::yield();

    torvaline::test::TempDir folder;
    CurlTransfer transfer(std::make_shared<CurlShare>());
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/file/";
    const std::string query = "?size=" + std::to_string(size) + "&cutonce=" + std::to_string(cut);

    std::printf("file of %llu MiB, cut at 90 %% in its first attempt\n",
                static_cast<unsigned long long>(mib));
    for (const bool resume : {true, false}) {
        const std::string name = resume ? "resumed.bin" : "over.bin";
        const Attempt first = run(transfer, base + name + query, folder.file(name), {});
        PartialFile kept = first.result.partial;
        if (!resume) {
            transfer.discardPartial(kept);
            kept = {};
        }
        const Attempt second = run(transfer, base + name + query, folder.file(name), kept);
        const bool whole = second.result.outcome == TransferOutcome::Succeeded &&
                           std::filesystem::file_size(folder.file(name)) == size;
        std::printf(
            "%-13s first attempt %11llu bytes; second %11llu bytes in %6.2f s; "
            "total %11llu bytes (%.2f x the file)%s\n",
            resume ? "resumed:" : "started over:", static_cast<unsigned long long>(first.bytes),
            static_cast<unsigned long long>(second.bytes), second.seconds,
            static_cast<unsigned long long>(first.bytes + second.bytes),
            static_cast<double>(first.bytes + second.bytes) / static_cast<double>(size),
            whole ? "" : "  (FILE WRONG)");
        std::filesystem::remove(folder.file(name));
    }

    hostersim::releaseFileRoutes(server);
    server.stop();
    listener.join();
    return 0;
}
