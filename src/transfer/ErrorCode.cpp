#include "transfer/ErrorCode.h"

#include <array>
#include <cstdint>

namespace torvaline {

const std::string& ErrorMessage(ErrorCode code) {
    static const std::array<std::string, 5> messages = {
        std::string(),
        std::string("O aplicativo est\xE1 ocupado!"),
        std::string("Nenhum download est\xE1 ativo!"),
        std::string("A URL de origem e/ou o local de destino n\xE3o foi especificado."),
        std::string("N\xE3o foi poss\xEDvel iniciar o download!"),
    };
    const auto index = static_cast<std::size_t>(code);
    return index < messages.size() ? messages[index] : messages[0];
}

std::string Windows1252ToUtf8(const std::string& text) {
    // 0x80..0x9F differ from Latin-1; the five unassigned ones become U+FFFD.
    static const std::array<char16_t, 32> high = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        const char32_t cp = byte >= 0x80 && byte < 0xA0 ? high[byte - 0x80] : byte;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

} // namespace torvaline
