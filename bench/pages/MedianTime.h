#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace torvaline {

// The median wall time of `runs` calls of `work`, in seconds: one slow run on a busy machine
// does not move it.
template <typename F> double medianSeconds(int runs, F&& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace torvaline
