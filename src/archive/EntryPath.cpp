#include "archive/EntryPath.h"

#include "platform/AsciiCase.h"

namespace torvaline {

namespace {

// U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069 in UTF-8 at `at`:
// "photo<U+202E>gpj.exe" shows as "photoexe.jpg".
bool isBidiControl(const std::string& name, std::size_t at) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(name[at + i]); };
    const std::size_t left = name.size() - at;
    if (left >= 2 && b(0) == 0xD8 && b(1) == 0x9C)
        return true;
    if (left < 3 || b(0) != 0xE2)
        return false;
    if (b(1) == 0x80)
        return b(2) == 0x8E || b(2) == 0x8F || (b(2) >= 0xAA && b(2) <= 0xAE);
    return b(1) == 0x81 && b(2) >= 0xA6 && b(2) <= 0xA9;
}

} // namespace

Result<void> EntryPath::checkName(const std::string& name) {
    const auto refused = [](const char* why) { return fail(FailureCause::NameRefused, why); };
    if (name.empty() || name == "." || name == "..")
        return refused("names a folder above");
    if (name.size() > 255)
        return refused("a name longer than 255 bytes");
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto u = static_cast<unsigned char>(name[i]);
        if (u < 0x20 || u == 0x7F || isBidiControl(name, i))
            return refused("a control character in the name");
        // Windows' separator: a name that is one folder here would be a path there.
        if (name[i] == '\\')
            return refused("a backslash in the name");
        // A name from elsewhere than a path taken apart (a package's given name) may hold one.
        if (name[i] == '/')
            return refused("a slash in the name");
    }
    return {};
}

Result<std::vector<std::string>> EntryPath::split(const std::string& path) {
    const auto refused = [](const char* why) { return fail(FailureCause::NameRefused, why); };
    if (path.empty())
        return refused("no name");
    const bool drive = path.size() >= 2 && path[1] == ':' && asciiLower(path[0]) >= 'a' &&
                       asciiLower(path[0]) <= 'z';
    if (path.front() == '/' || drive)
        return refused("an absolute path");
    std::vector<std::string> parts;
    std::size_t from = 0;
    // A bound on depth: nothing real nests deeper, and each level costs a directory handle.
    constexpr std::size_t Deepest = 64;
    while (from <= path.size()) {
        std::size_t to = path.find('/', from);
        if (to == std::string::npos)
            to = path.size();
        std::string part = path.substr(from, to - from);
        from = to + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return refused("a path leaving the folder");
        if (Result<void> name = checkName(part); !name)
            return name.failure();
        if (parts.size() == Deepest)
            return refused("folders nested deeper than 64");
        parts.push_back(std::move(part));
    }
    if (parts.empty())
        return refused("no name");
    return parts;
}

} // namespace torvaline
