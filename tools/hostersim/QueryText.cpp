#include "QueryText.h"

namespace hostersim {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string encodeQueryValue(std::string_view text) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out += c;
        } else {
            out += '%';
            out += Hex[byte >> 4];
            out += Hex[byte & 0x0f];
        }
    }
    return out;
}

std::string decodeQueryText(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> formFields(std::string_view body) {
    std::vector<std::pair<std::string, std::string>> fields;
    while (!body.empty()) {
        const std::size_t amp = body.find('&');
        const std::string_view item = body.substr(0, amp);
        const std::size_t eq = item.find('=');
        fields.emplace_back(decodeQueryText(item.substr(0, eq), true),
                            eq == std::string_view::npos
                                ? std::string()
                                : decodeQueryText(item.substr(eq + 1), true));
        if (amp == std::string_view::npos)
            break;
        body.remove_prefix(amp + 1);
    }
    return fields;
}

} // namespace hostersim
