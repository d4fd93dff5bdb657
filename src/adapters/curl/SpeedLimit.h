#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace torvaline {

// The one download speed limit every transfer of a facility shares, set from any thread and
// taken up by a running transfer at its next piece of data (or within a tenth of a second
// while it waits). 0 is no limit.
class SpeedLimit final {
public:
    // A limit below this would let the stall rule end every transfer.
    static constexpr std::uint64_t Least = 1024;

    void set(std::uint64_t bytesPerSecond) {
        m_rate.store(bytesPerSecond == 0 ? 0 : std::max(bytesPerSecond, Least));
        ++m_generation;
    }
    std::uint64_t get() const { return m_rate.load(); }
    std::uint64_t generation() const { return m_generation.load(); }
    // The limit holds for all transfers together: each of those running gets its share.
    std::uint64_t share() const {
        const std::uint64_t rate = m_rate.load();
        const int running = std::max(1, m_running.load());
        return rate == 0 ? 0
                         : std::max<std::uint64_t>(rate / static_cast<std::uint64_t>(running), 1);
    }
    void enter() const { ++m_running; }
    void leave() const { --m_running; }

private:
    std::atomic<std::uint64_t> m_rate{0};
    std::atomic<std::uint64_t> m_generation{0};
    mutable std::atomic<int> m_running{0};
};

// One transfer's side of the limit: a token bucket that holds back the thread receiving the
// data. Holding the receiver back fills the socket's buffer, and TCP then slows the sender.
// The bucket holds a tenth of a second of data, so no second carries much more than the
// limit, and its refill is exact, so the average is the limit itself.
class SpeedPacer final {
public:
    using Clock = std::chrono::steady_clock;
    explicit SpeedPacer(const SpeedLimit& limit)
        : m_limit(limit) {
        m_limit.enter();
    }
    ~SpeedPacer() { m_limit.leave(); }
    SpeedPacer(const SpeedPacer&) = delete;
    SpeedPacer& operator=(const SpeedPacer&) = delete;

    // Counts `bytes` that came and waits until the limit allows them. `keepGoing` is asked
    // after each pause of the wait (a tenth of a second at most); false ends the wait at once,
    // with false. A receiver held back this way is not called back by libcurl for progress,
    // so `keepGoing` is where the progress is told and a stop is heard.
    bool pace(std::uint64_t bytes, const std::function<bool()>& keepGoing);

private:
    void refill(Clock::time_point now, std::uint64_t rate);

    const SpeedLimit& m_limit;
    std::uint64_t m_generation = ~std::uint64_t{0};
    double m_tokens = 0;
    Clock::time_point m_last{};
};

} // namespace torvaline
