#pragma once

#include "doubles/TempDir.h"

#include "FileRoutes.h"
#include "platform/TransferFacility.h"

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace torvaline::test {

// Records the notifications; answers "abort" from the given progress on.
class Recorder final : public TransferCallback {
public:
    struct Notice {
        std::uint64_t received, expected;
        std::chrono::steady_clock::time_point at;
    };
    void onStart() override { events.push_back("start"); }
    bool onProgress(std::uint64_t received, std::uint64_t expected) override {
        events.push_back("progress");
        progress.push_back({received, expected, std::chrono::steady_clock::now()});
        if (watch)
            watch();
        if (abortAfter && std::chrono::steady_clock::now() >= *abortAfter)
            return false;
        return !(abortAtBytes && received >= *abortAtBytes);
    }
    void onStop(const TransferResult& result) override {
        events.push_back("stop");
        stopped = result;
    }
    void onSaving(const std::string& path) override { saving.push_back(path); }
    void onResumed(std::uint64_t offset) override { resumedFrom = offset; }

    std::optional<std::uint64_t> abortAtBytes;
    std::optional<std::chrono::steady_clock::time_point> abortAfter; // a test's time bound
    std::function<void()> watch; // run at each progress notification
    std::vector<std::string> events;
    std::vector<Notice> progress;
    TransferResult stopped;
    std::vector<std::string> saving;
    std::uint64_t resumedFrom = 0;
};

// Position of the first byte that differs from the served content, or -1.
inline long long firstWrongByte(const std::string& data) {
    for (std::size_t i = 0; i < data.size(); ++i)
        if (static_cast<std::uint8_t>(data[i]) != hostersim::contentByte(i))
            return static_cast<long long>(i);
    return -1;
}

} // namespace torvaline::test
