#include "adapters/curl/SpeedLimit.h"

#include <algorithm>
#include <thread>

namespace torvaline {

void SpeedPacer::refill(Clock::time_point now, std::uint64_t rate) {
    const double seconds = std::chrono::duration<double>(now - m_last).count();
    m_last = now;
    const double capacity = static_cast<double>(rate) / 10;
    m_tokens = std::min(capacity, m_tokens + seconds * static_cast<double>(rate));
}

bool SpeedPacer::pace(std::uint64_t bytes, const std::function<bool()>& keepGoing) {
    std::uint64_t rate = m_limit.share();
    if (rate == 0)
        return true;
    auto now = Clock::now();
    if (m_limit.generation() != m_generation) {
        // A new limit starts from an empty bucket: what the old one allowed does not carry.
        m_generation = m_limit.generation();
        m_tokens = 0;
        m_last = now;
    }
    refill(now, rate);
    m_tokens -= static_cast<double>(bytes);
    // Slices of a tenth of a second at most: a new limit (or none) is taken up within one.
    constexpr auto Slice = std::chrono::milliseconds(100);
    while (m_tokens < 0) {
        const auto due = std::chrono::duration<double>(-m_tokens / static_cast<double>(rate));
        std::this_thread::sleep_for(
            std::min<std::chrono::duration<double>>(due, std::chrono::duration<double>(Slice)));
        now = Clock::now();
        if (m_limit.generation() != m_generation) {
            m_generation = m_limit.generation();
            m_tokens = 0;
            m_last = now;
            rate = m_limit.share();
            return rate == 0 || keepGoing();
        }
        // Transfers that start or end change this one's share.
        rate = std::max<std::uint64_t>(m_limit.share(), 1);
        refill(now, rate);
        if (!keepGoing())
            return false;
    }
    return true;
}

} // namespace torvaline
