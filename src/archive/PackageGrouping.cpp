#include "archive/PackageGrouping.h"

#include "archive/EntryPath.h"
#include "platform/AsciiCase.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string_view>

namespace torvaline {

namespace {

// A file name read as one part of a set: the set it belongs to and its place in it.
struct PartName {
    PackageKind kind;
    std::string setName;
    long index;     // the volume's place; the first volume has the lowest
    int digits = 0; // how wide the number was written, for naming a missing part
};

// The zip format's own split puts the .zip last, after every .zNN.
constexpr long ZipLast = 1000000;

bool endsWithNoCase(std::string_view text, std::string_view tail) {
    return text.size() > tail.size() &&
           asciiEqualNoCase(text.substr(text.size() - tail.size()), tail);
}

// The number written in the last `width` characters of text (digits only), or -1.
long trailingNumber(std::string_view text, std::size_t width) {
    if (text.size() < width)
        return -1;
    long value = 0;
    for (char c : text.substr(text.size() - width)) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<PartName> readPartName(const std::string& name) {
    const std::string_view n(name);
    // name.7z.001 and name.zip.001: three digits after the archive's own extension.
    if (n.size() > 4 && n[n.size() - 4] == '.' && trailingNumber(n, 3) >= 1) {
        const std::string_view stem = n.substr(0, n.size() - 4);
        const long index = trailingNumber(n, 3);
        if (endsWithNoCase(stem, ".7z"))
            return PartName{PackageKind::SevenZipCut, std::string(stem.substr(0, stem.size() - 3)),
                            index, 3};
        if (endsWithNoCase(stem, ".zip"))
            return PartName{PackageKind::ZipCut, std::string(stem.substr(0, stem.size() - 4)),
                            index, 3};
    }
    if (endsWithNoCase(n, ".rar")) {
        const std::string_view stem = n.substr(0, n.size() - 4);
        // name.part01.rar: any number of digits after ".part".
        std::size_t digits = 0;
        while (digits < stem.size() && stem[stem.size() - 1 - digits] >= '0' &&
               stem[stem.size() - 1 - digits] <= '9')
            ++digits;
        const std::string_view beforeDigits = stem.substr(0, stem.size() - digits);
        if (digits > 0 && digits <= 6 && endsWithNoCase(beforeDigits, ".part"))
            return PartName{PackageKind::RarParts,
                            std::string(beforeDigits.substr(0, beforeDigits.size() - 5)),
                            trailingNumber(stem, digits), static_cast<int>(digits)};
        return PartName{PackageKind::RarOldStyle, std::string(stem), 0, 2};
    }
    // name.r00 follows name.rar; name.z01 comes before name.zip.
    if (n.size() > 4 && n[n.size() - 4] == '.' && trailingNumber(n, 2) >= 0) {
        const char letter = asciiLower(n[n.size() - 3]);
        const std::string stem(n.substr(0, n.size() - 4));
        if (letter == 'r')
            return PartName{PackageKind::RarOldStyle, stem, trailingNumber(n, 2) + 1, 2};
        if (letter == 'z' && trailingNumber(n, 2) >= 1)
            return PartName{PackageKind::ZipSpanned, stem, trailingNumber(n, 2), 2};
    }
    if (endsWithNoCase(n, ".zip"))
        return PartName{PackageKind::ZipSpanned, std::string(n.substr(0, n.size() - 4)), ZipLast};
    for (std::string_view ext : {".7z", ".tar", ".tar.gz", ".tgz", ".tar.bz2", ".tbz2", ".tbz",
                                 ".tar.xz", ".txz", ".tar.zst", ".tzst"})
        if (endsWithNoCase(n, ext))
            return PartName{PackageKind::Single, std::string(n.substr(0, n.size() - ext.size())),
                            0};
    return std::nullopt;
}

std::string numbered(long value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*ld", digits, value);
    return text;
}

// The file name the set would give the part at index.
std::string partFileName(const std::string& set, PackageKind kind, long index, int digits) {
    switch (kind) {
    case PackageKind::RarParts:
        return set + ".part" + numbered(index, digits) + ".rar";
    case PackageKind::RarOldStyle:
        return index == 0 ? set + ".rar" : set + ".r" + numbered(index - 1, 2);
    case PackageKind::SevenZipCut:
        return set + ".7z." + numbered(index, 3);
    case PackageKind::ZipCut:
        return set + ".zip." + numbered(index, 3);
    case PackageKind::ZipSpanned:
        return index == ZipLast ? set + ".zip" : set + ".z" + numbered(index, 2);
    case PackageKind::Single:
        break;
    }
    return set;
}

struct Gathered {
    std::size_t order;
    PartName first;
    std::map<long, std::string> parts; // by index: volume order, and a number given twice once
};

// A folder the user will find: no hidden one, no name that could lead elsewhere.
bool fitForFolder(const std::string& name) {
    return !name.empty() && name.front() != '.' && EntryPath::checkName(name).ok();
}

// The name a file gives its package: its set's name, or itself without its extension.
std::string stemOf(const std::string& name) {
    if (const auto part = readPartName(name); part && !part->setName.empty())
        return part->setName;
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

} // namespace

std::string PackageGrouping::batchName(const std::string& given,
                                       const std::vector<std::string>& fileNames) {
    const std::size_t from = given.find_first_not_of(' ');
    const std::string trimmed = from == std::string::npos
                                    ? std::string()
                                    : given.substr(from, given.find_last_not_of(' ') + 1 - from);
    if (fitForFolder(trimmed))
        return trimmed;
    std::vector<std::string> stems;
    for (const std::string& name : fileNames)
        if (!name.empty())
            stems.push_back(stemOf(name));
    if (stems.empty())
        return {};
    std::string shared = stems.front();
    for (const std::string& stem : stems)
        shared.resize(static_cast<std::size_t>(
            std::mismatch(shared.begin(), shared.end(), stem.begin(), stem.end()).first -
            shared.begin()));
    // Never half a character.
    std::size_t whole = shared.size();
    while (whole > 0 && whole < stems.front().size() &&
           (static_cast<unsigned char>(stems.front()[whole]) & 0xC0) == 0x80)
        --whole;
    shared.resize(whole);
    // What follows the shared part is a number, or a letter of a range: "clip0" of clip01 to
    // clip09 and "clip_" of clip_a to clip_c are "clip".
    if (stems.size() > 1) {
        while (!shared.empty() && shared.back() >= '0' && shared.back() <= '9')
            shared.pop_back();
        while (!shared.empty() &&
               std::string_view(" ._-([").find(shared.back()) != std::string_view::npos)
            shared.pop_back();
    }
    if (fitForFolder(shared))
        return shared;
    return fitForFolder(stems.front()) ? stems.front() : std::string();
}

std::vector<ArchivePackage> PackageGrouping::group(const std::vector<std::string>& fileNames) {
    std::map<std::pair<int, std::string>, Gathered> sets;
    std::vector<std::pair<std::size_t, ArchivePackage>> ordered;
    for (std::size_t i = 0; i < fileNames.size(); ++i) {
        const auto part = readPartName(fileNames[i]);
        if (!part || part->setName.empty())
            continue;
        if (part->kind == PackageKind::Single) {
            ordered.push_back(
                {i, ArchivePackage{part->setName, PackageKind::Single, {fileNames[i]}, {}}});
            continue;
        }
        auto at =
            sets.try_emplace({static_cast<int>(part->kind), part->setName}, Gathered{i, *part, {}})
                .first;
        at->second.parts.try_emplace(part->index, fileNames[i]);
    }
    for (auto& [key, set] : sets) {
        ArchivePackage package{set.first.setName, set.first.kind, {}, {}};
        for (auto& [index, name] : set.parts)
            package.parts.push_back(name);
        const long lowest = set.first.kind == PackageKind::RarOldStyle ? 0 : 1;
        long highest = set.parts.rbegin()->first;
        if (set.first.kind == PackageKind::ZipSpanned) {
            // name.zip alone is a plain zip; the .zNN before it are counted up to the last one.
            if (set.parts.size() == 1 && set.parts.count(ZipLast))
                package.kind = PackageKind::Single;
            highest = set.parts.size() > 1 || !set.parts.count(ZipLast)
                          ? std::prev(set.parts.end(), set.parts.count(ZipLast) ? 2 : 1)->first
                          : 0;
        }
        if (set.first.kind == PackageKind::RarOldStyle && set.parts.size() == 1 &&
            set.parts.count(0))
            package.kind = PackageKind::Single;
        // A hostile list cannot make us name millions of missing parts.
        constexpr std::size_t MostMissingNamed = 100;
        for (long index = lowest; index <= highest; ++index)
            if (!set.parts.count(index)) {
                if (package.missing.size() == MostMissingNamed)
                    break;
                package.missing.push_back(
                    partFileName(package.name, package.kind, index, set.first.digits));
            }
        if (set.first.kind == PackageKind::ZipSpanned && !set.parts.count(ZipLast))
            package.missing.push_back(partFileName(package.name, package.kind, ZipLast, 2));
        ordered.push_back({set.order, std::move(package)});
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ArchivePackage> packages;
    for (auto& [order, package] : ordered)
        packages.push_back(std::move(package));
    return packages;
}

} // namespace torvaline
