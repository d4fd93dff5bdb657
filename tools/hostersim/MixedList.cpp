#include "MixedList.h"

#include "HosterSites.h"

#include <fstream>

namespace hostersim {

namespace {

std::string siteName(std::size_t index) {
    static const char* const names[] = {"alpha",   "beta", "gamma", "delta",
                                        "epsilon", "zeta", "eta",   "theta"};
    constexpr std::size_t known = std::size(names);
    return index < known ? names[index] : "site" + std::to_string(index + 1);
}

} // namespace

std::vector<std::string> MixedList::links(const HosterSites& sites, std::size_t first,
                                          std::size_t count) const {
    std::vector<std::string> out;
    const std::size_t end = count == 0 ? sites.size() : std::min(sites.size(), first + count);
    std::string extra = "after=" + std::to_string(waitAfter);
    if (rate > 0)
        extra += "&rate=" + std::to_string(rate);
    for (std::size_t s = first; s < end; ++s) {
        for (std::size_t f = 0; f < files; ++f) {
            const std::uint64_t grown = size + size * (s * files + f) / 16;
            out.push_back(sites.site(s).xfsLink(
                "ok", siteName(s) + "-" + std::to_string(f + 1) + ".bin", grown, countdown, extra));
        }
    }
    return out;
}

bool writeListFile(const std::vector<std::string>& lines, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines)
        out << line << "\r\n";
    return static_cast<bool>(out);
}

} // namespace hostersim
