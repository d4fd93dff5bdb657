#include "archive/ChecksumList.h"

#include "platform/AsciiCase.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unordered_map>

namespace torvaline {

namespace {

bool isHex(const std::string& text, std::size_t length) {
    return text.size() == length &&
           std::all_of(text.begin(), text.end(), [](char c) { return asciiHexValue(c) >= 0; });
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Why a name from a checksum file cannot stand for a file beside it; empty when it can.
std::string nameProblem(const std::string& name) {
    if (name.empty())
        return "no file name";
    if (name == "." || name == ".." || name.starts_with("../") || name.starts_with("..\\") ||
        name.find("/..") != std::string::npos || name.find("\\..") != std::string::npos)
        return "the name leaves the folder";
    if (name.find_first_of("/\\") != std::string::npos)
        return "the name is in another folder";
    if (name.size() > 255)
        return "the name is longer than 255 bytes";
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            return "the name holds a control character";
    }
    return {};
}

} // namespace

void ChecksumList::ignore(std::size_t line, const std::string& why) {
    ++m_ignoredCount;
    if (m_ignored.size() < MostReasons)
        m_ignored.push_back(line ? "line " + std::to_string(line) + ": " + why : why);
}

std::optional<ChecksumEntry> ChecksumList::readLine(std::string line, std::size_t number,
                                                    DigestKind kind) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (number == 1 && line.starts_with("\xEF\xBB\xBF"))
        line.erase(0, 3);
    if (trimmed(line).empty() || line.front() == ';' || line.front() == '#')
        return std::nullopt;
    if (line.find('\0') != std::string::npos) {
        ignore(number, "not text");
        return std::nullopt;
    }
    std::string name;
    std::string digest;
    if (kind == DigestKind::Crc32) {
        // "name with blanks  1A2B3C4D": the checksum is the last word.
        const std::string text = trimmed(line);
        const auto blank = text.find_last_of(" \t");
        if (blank != std::string::npos) {
            digest = text.substr(blank + 1);
            name = trimmed(text.substr(0, blank));
        }
        if (!isHex(digest, 8)) {
            ignore(number, "no CRC32 after the name");
            return std::nullopt;
        }
    } else if (line.starts_with("MD5 (")) {
        const auto close = line.rfind(") = ");
        if (close != std::string::npos && close >= 5) {
            name = line.substr(5, close - 5);
            digest = trimmed(line.substr(close + 4));
        }
        if (!isHex(digest, 32)) {
            ignore(number, "no MD5 after the name");
            return std::nullopt;
        }
    } else {
        // "<md5>  name" or "<md5> *name" (binary mode); the name runs to the end of the line.
        digest = line.substr(0, 32);
        if (!isHex(digest, 32) || line.size() < 34 || line[32] != ' ' ||
            (line[33] != ' ' && line[33] != '*')) {
            ignore(number, "no MD5 and name");
            return std::nullopt;
        }
        name = line.substr(34);
    }
    if (const std::string problem = nameProblem(name); !problem.empty()) {
        ignore(number, problem);
        return std::nullopt;
    }
    return ChecksumEntry{std::move(name), kind, asciiLower(digest)};
}

void ChecksumList::add(ChecksumEntry entry, std::size_t number,
                       std::unordered_map<std::string, std::size_t>& index) {
    auto [at, fresh] = index.try_emplace(entry.name, m_entries.size());
    if (fresh) {
        m_entries.push_back(std::move(entry));
        return;
    }
    if (at->second == Conflicted) {
        ignore(number, "\"" + entry.name + "\" is listed with different checksums");
    } else if (m_entries[at->second].digest != entry.digest) {
        // Neither line can be believed: checking against either would pass or fail a good
        // part at random.
        ignore(number, "\"" + entry.name + "\" is listed with different checksums");
        m_entries[at->second].name.clear();
        at->second = Conflicted;
    }
}

ChecksumList ChecksumList::parse(std::istream& in, DigestKind kind) {
    ChecksumList list;
    std::string line;
    std::size_t number = 0;
    std::size_t total = 0;
    bool tooLong = false;
    std::unordered_map<std::string, std::size_t> index;
    const auto take = [&](std::string text, std::size_t at) {
        if (auto entry = list.readLine(std::move(text), at, kind))
            list.add(std::move(*entry), at, index);
    };
    char buffer[8192];
    // Read in blocks: a "line" of gigabytes without a newline must not be held whole.
    while (in && total < MostBytes) {
        in.read(buffer, static_cast<std::streamsize>(
                            std::min<std::size_t>(sizeof buffer, MostBytes - total)));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0)
            break;
        total += got;
        for (std::size_t i = 0; i < got;) {
            const char* end = static_cast<const char*>(std::memchr(buffer + i, '\n', got - i));
            const std::size_t stop = end ? static_cast<std::size_t>(end - buffer) : got;
            const std::size_t room = LongestLine - std::min(line.size(), LongestLine);
            line.append(buffer + i, std::min(stop - i, room));
            tooLong = tooLong || stop - i > room;
            i = stop;
            if (!end)
                break;
            ++i;
            ++number;
            if (tooLong)
                list.ignore(number, "longer than 4096 bytes");
            else
                take(std::move(line), number);
            line.clear();
            tooLong = false;
        }
    }
    if (total >= MostBytes && in.peek() != std::char_traits<char>::eof())
        list.ignore(0, "the file is larger than 4 MiB; the rest is not read");
    else if (tooLong)
        list.ignore(number + 1, "longer than 4096 bytes");
    else if (!line.empty())
        take(std::move(line), number + 1);
    std::erase_if(list.m_entries, [](const ChecksumEntry& e) { return e.name.empty(); });
    return list;
}

ChecksumList ChecksumList::read(const std::string& path) {
    const DigestKind kind =
        path.size() >= 4 && asciiEqualNoCase(std::string_view(path).substr(path.size() - 4), ".md5")
            ? DigestKind::Md5
            : DigestKind::Crc32;
    // Only a plain file: a pipe or a device of that name would hold the reader forever.
    std::error_code error;
    const bool plain = std::filesystem::is_regular_file(std::filesystem::status(path, error));
    std::ifstream in;
    if (plain)
        in.open(path, std::ios::binary);
    if (!plain || !in) {
        ChecksumList list;
        list.ignore(0, "the checksum file cannot be read");
        return list;
    }
    return parse(in, kind);
}

const ChecksumEntry* ChecksumList::find(const std::string& fileName) const {
    for (const ChecksumEntry& e : m_entries)
        if (e.name == fileName)
            return &e;
    for (const ChecksumEntry& e : m_entries)
        if (asciiEqualNoCase(e.name, fileName))
            return &e;
    return nullptr;
}

} // namespace torvaline
