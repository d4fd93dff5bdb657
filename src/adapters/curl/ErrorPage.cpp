#include "adapters/curl/ErrorPage.h"

#include "platform/AsciiCase.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>

namespace torvaline {
namespace {

constexpr std::size_t TitleMax = 120;

std::size_t findNoCase(std::string_view text, std::string_view what, std::size_t from) {
    for (std::size_t i = from; i + what.size() <= text.size(); ++i)
        if (asciiStartsWithNoCase(text.substr(i), what))
            return i;
    return std::string_view::npos;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// Length of a text-direction control at the start of `s` in UTF-8, else 0: they make a
// reason read differently from what it says.
std::size_t bidiControlLength(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    if (s.size() >= 2 && b(0) == 0xD8 && b(1) == 0x9C)
        return 2; // U+061C
    if (s.size() < 3 || b(0) != 0xE2)
        return 0;
    if (b(1) == 0x80 && (b(2) == 0x8E || b(2) == 0x8F || (b(2) >= 0xAA && b(2) <= 0xAE)))
        return 3; // U+200E, U+200F, U+202A..U+202E
    if (b(1) == 0x81 && b(2) >= 0xA6 && b(2) <= 0xA9)
        return 3; // U+2066..U+2069
    return 0;
}

} // namespace

bool ErrorPage::isHtmlType(std::string_view contentType) {
    while (!contentType.empty() && isSpace(contentType.front()))
        contentType.remove_prefix(1);
    for (const std::string_view type :
         {std::string_view("text/html"), std::string_view("application/xhtml+xml")}) {
        if (!asciiStartsWithNoCase(contentType, type))
            continue;
        const std::string_view rest = contentType.substr(type.size());
        if (rest.empty() || rest.front() == ';' || isSpace(rest.front()))
            return true;
    }
    return false;
}

ErrorPage::Verdict ErrorPage::sniff(std::string_view head) {
    if (head.starts_with("\xEF\xBB\xBF"))
        head.remove_prefix(3);
    // What may stand in front of the document: an XML declaration (XHTML), white space and
    // comments. A hoster's template often opens with a comment to dodge a look at its start.
    bool declarationAllowed = true;
    for (;;) {
        while (!head.empty() && isSpace(head.front()))
            head.remove_prefix(1);
        std::string_view close;
        if (declarationAllowed && asciiStartsWithNoCase(head, "<?xml"))
            close = "?>";
        else if (head.starts_with("<!--"))
            close = "-->";
        else
            break;
        declarationAllowed = false;
        const std::size_t end = head.find(close, 4);
        if (end == std::string_view::npos)
            return Verdict::Undecided;
        head.remove_prefix(end + close.size());
    }
    if (head.empty())
        return Verdict::Undecided;
    for (const std::string_view opening :
         {std::string_view("<!doctype html"), std::string_view("<html")}) {
        if (head.size() < opening.size() && asciiStartsWithNoCase(opening, head))
            return Verdict::Undecided;
        if (!asciiStartsWithNoCase(head, opening))
            continue;
        const std::string_view rest = head.substr(opening.size());
        // "<htmlfoo" is some other text; the head may also end right after the opening.
        if (rest.empty() || rest.front() == '>' || isSpace(rest.front()))
            return Verdict::Page;
    }
    return Verdict::NotPage;
}

std::string ErrorPage::decoded(std::string_view body, std::string_view encoding, std::size_t max) {
    while (!encoding.empty() && isSpace(encoding.front()))
        encoding.remove_prefix(1);
    while (!encoding.empty() && isSpace(encoding.back()))
        encoding.remove_suffix(1);
    const bool gzip = asciiEqualNoCase(encoding, "gzip") || asciiEqualNoCase(encoding, "x-gzip");
    const bool deflate = asciiEqualNoCase(encoding, "deflate");
    if (!gzip && !deflate)
        return std::string(body.substr(0, std::min(body.size(), max)));
    std::string out;
    // "deflate" is a zlib stream by the letter, raw deflate by many servers' habit.
    for (const int windowBits : {15 + 32, -15}) {
        z_stream z{};
        if (inflateInit2(&z, windowBits) != Z_OK)
            return {};
        out.assign(max, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
        z.avail_in = static_cast<uInt>(std::min<std::size_t>(body.size(), 1u << 30));
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(max);
        int rc = Z_OK;
        while (rc == Z_OK && z.avail_out > 0 && z.avail_in > 0)
            rc = inflate(&z, Z_SYNC_FLUSH);
        out.resize(max - z.avail_out);
        inflateEnd(&z);
        if (!out.empty() || gzip)
            break;
    }
    return out;
}

bool ErrorPage::isHtmlName(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const std::string_view extension = fileName.substr(dot);
    return extension.size() <= 5 &&
           (asciiStartsWithNoCase(extension, ".html")
                ? extension.size() == 5
                : asciiStartsWithNoCase(extension, ".htm") && extension.size() == 4);
}

std::string ErrorPage::title(std::string_view page) {
    const std::size_t open = findNoCase(page, "<title", 0);
    if (open == std::string_view::npos)
        return {};
    const std::size_t textStart = page.find('>', open);
    if (textStart == std::string_view::npos)
        return {};
    std::size_t textEnd = findNoCase(page, "</title", textStart);
    if (textEnd == std::string_view::npos)
        textEnd = page.size();
    std::string_view text = page.substr(textStart + 1, textEnd - textStart - 1);

    std::string out;
    bool pendingSpace = false;
    while (!text.empty() && out.size() < TitleMax) {
        if (const std::size_t n = bidiControlLength(text)) {
            text.remove_prefix(n);
            continue;
        }
        const auto c = static_cast<unsigned char>(text.front());
        text.remove_prefix(1);
        if (c < 0x20 || c == 0x7F || c == ' ') {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace)
            out += ' ';
        pendingSpace = false;
        out += static_cast<char>(c);
    }
    // The bound may have cut the last character short.
    if (out.size() > TitleMax)
        out.resize(TitleMax);
    std::size_t start = out.size();
    while (start > 0 && (static_cast<unsigned char>(out[start - 1]) & 0xC0) == 0x80)
        --start;
    if (start > 0) {
        const auto lead = static_cast<unsigned char>(out[start - 1]);
        const std::size_t needs = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        if (needs > out.size() - start)
            out.resize(start - 1);
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

} // namespace torvaline
