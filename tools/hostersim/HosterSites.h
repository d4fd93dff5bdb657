#pragma once

#include "HosterSim.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace hostersim {

// Several hoster sites at once, each on a loopback address of its own (127.0.0.1, 127.0.0.2,
// ...; Linux answers the whole 127/8 on its loopback) and all on one port, so that a list can
// mix hosters that a client tells apart by host alone. Each site is a HosterSim with its own
// state: its presses, waits and "try again in" pages, countdowns and direct links.
class HosterSites final {
public:
    static constexpr std::size_t MaxSites = 32;

    // 1 to MaxSites sites; the first is the one HosterSim alone would be.
    explicit HosterSites(std::size_t count);
    ~HosterSites();
    HosterSites(const HosterSites&) = delete;
    HosterSites& operator=(const HosterSites&) = delete;

    // Listens with every site on `port` (0: one free on all of their addresses). Returns the
    // port; throws when it cannot.
    int start(int port = 0);
    void stop();

    std::size_t size() const { return m_sites.size(); }
    HosterSim& site(std::size_t index) { return *m_sites.at(index); }
    const HosterSim& site(std::size_t index) const { return *m_sites.at(index); }
    // The loopback address of site `index`: "127.0.0.<index + 1>".
    static std::string address(std::size_t index);

private:
    void makeSites();

    std::size_t m_count;
    std::vector<std::unique_ptr<HosterSim>> m_sites;
};

} // namespace hostersim
