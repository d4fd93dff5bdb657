#include "cycle/FileNameCheck.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace torvaline {

namespace {

bool isReservedWindowsName(const std::string& name) {
    // "CON", "nul.txt", "COM1.zip": Windows opens the device, whatever the folder.
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    static const std::array<const char*, 4> plain{"CON", "PRN", "AUX", "NUL"};
    if (std::find_if(plain.begin(), plain.end(), [&](const char* n) { return stem == n; }) !=
        plain.end())
        return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
           stem[3] >= '1' && stem[3] <= '9';
}

// A text-direction control (U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069) in UTF-8
// at `at`: "photo<U+202E>gpj.exe" shows as "photoexe.jpg", a program dressed as a picture.
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

std::string FileNameCheck::problem(const std::string& name) const {
    if (name.empty())
        return "the page gave no file name";
    if (name == "." || name == "..")
        return "the file name \"" + name + "\" names a folder";
    if (name.size() > MaxNameBytes)
        return "the file name is longer than 255 bytes";
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\')
            return "the file name holds a folder separator";
        if (u < 0x20 || u == 0x7F || isBidiControl(name, i))
            return "the file name holds a control character";
    }
    if (m_separator == '\\') {
        if (name.find_first_of(":*?\"<>|") != std::string::npos)
            return "the file name holds a character Windows does not allow";
        if (name.back() == '.' || name.back() == ' ')
            return "the file name ends with a dot or a blank";
        if (isReservedWindowsName(name))
            return "the file name is reserved for a Windows device";
    }
    return {};
}

} // namespace torvaline
