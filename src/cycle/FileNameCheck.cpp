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

// Characters a name must not hold although they are valid text: each makes the name show as
// something it is not, or breaks the line it is shown in.
enum class Hidden { None, Control, Invisible, Direction };

struct HiddenRange {
    char32_t first;
    char32_t last;
    Hidden kind;
};

constexpr std::array<HiddenRange, 12> HiddenRanges{{
    // C1 controls: a terminal acts on some of them (U+009B starts an escape sequence).
    {0x80, 0x9F, Hidden::Control},
    // "photo<U+202E>gpj.exe" shows as "photoexe.jpg", a program dressed as a picture.
    {0x061C, 0x061C, Hidden::Direction},
    {0x200B, 0x200D, Hidden::Invisible},
    {0x200E, 0x200F, Hidden::Direction},
    // Line and paragraph separators end the line a name is shown in.
    {0x2028, 0x2029, Hidden::Control},
    {0x202A, 0x202E, Hidden::Direction},
    {0x2060, 0x2064, Hidden::Invisible},
    {0x2066, 0x2069, Hidden::Direction},
    {0x206A, 0x206F, Hidden::Invisible},
    {0xFEFF, 0xFEFF, Hidden::Invisible},
    {0xFFF9, 0xFFFB, Hidden::Invisible},
    // Tag characters: a whole word that nobody sees.
    {0xE0000, 0xE007F, Hidden::Invisible},
}};

// The code point of the UTF-8 sequence at `at` and its length; length 0 when the bytes there
// are no well-formed sequence (a name need not be UTF-8, and its other bytes stand for
// themselves).
char32_t codePointAt(const std::string& name, std::size_t at, std::size_t& length) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(name[at + i]); };
    const unsigned char lead = b(0);
    length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead >= 0xF5 || at + length > name.size()) {
        length = 0;
        return 0;
    }
    char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((b(i) & 0xC0) != 0x80) {
            length = 0;
            return 0;
        }
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    return cp;
}

Hidden hiddenAt(const std::string& name, std::size_t at) {
    const auto u = static_cast<unsigned char>(name[at]);
    if (u < 0x20 || u == 0x7F)
        return Hidden::Control;
    if (u < 0x80)
        return Hidden::None;
    std::size_t length = 0;
    const char32_t cp = codePointAt(name, at, length);
    if (length == 0)
        return Hidden::None;
    for (const HiddenRange& r : HiddenRanges)
        if (cp >= r.first && cp <= r.last)
            return r.kind;
    return Hidden::None;
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
        if (c == '/' || c == '\\')
            return "the file name holds a folder separator";
        switch (hiddenAt(name, i)) {
        case Hidden::Control:
            return "the file name holds a control character";
        case Hidden::Invisible:
            return "the file name holds an invisible character";
        case Hidden::Direction:
            return "the file name holds a text-direction mark";
        case Hidden::None:
            break;
        }
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
