#include "HosterSites.h"

#include <stdexcept>

namespace hostersim {

HosterSites::HosterSites(std::size_t count)
    : m_count(count) {
    if (count < 1 || count > MaxSites)
        throw std::invalid_argument("hoster emulator: 1 to " + std::to_string(MaxSites) + " sites");
    makeSites();
}

HosterSites::~HosterSites() {
    stop();
}

void HosterSites::makeSites() {
    m_sites.clear();
    for (std::size_t i = 0; i < m_count; ++i)
        m_sites.push_back(std::make_unique<HosterSim>());
}

std::string HosterSites::address(std::size_t index) {
    return "127.0.0." + std::to_string(index + 1);
}

int HosterSites::start(int port) {
    // A port the first address had free may be taken on another one: a few fresh tries, each
    // with sites that never listened (a stopped server does not listen again).
    constexpr int Attempts = 8;
    for (int attempt = 1;; ++attempt) {
        try {
            const int chosen = m_sites.front()->start(port, address(0));
            for (std::size_t i = 1; i < m_sites.size(); ++i)
                m_sites[i]->start(chosen, address(i));
            return chosen;
        } catch (const std::runtime_error&) {
            stop();
            if (port != 0 || attempt == Attempts)
                throw;
            makeSites();
        }
    }
}

void HosterSites::stop() {
    for (const auto& site : m_sites)
        site->stop();
}

} // namespace hostersim
