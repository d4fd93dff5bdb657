#include "adapters/html/Url.h"

#include <gtest/gtest.h>

namespace torvaline {
namespace {

TEST(Url, ResolvesReferencesAgainstABase) {
    // RFC 3986 5.4, every normal and abnormal example, then what browsers add for web addresses.
    const char* base = "http://a/b/c/d;p?q";
    const std::pair<const char*, const char*> cases[] = {
        {"g:h", "g:h"},
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g/"}, // the RFC's "http://g", with the empty path an http address gets
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q#s"},
        {"g#s", "http://a/b/c/g#s"},
        {"g?y#s", "http://a/b/c/g?y#s"},
        {";x", "http://a/b/c/;x"},
        {"g;x", "http://a/b/c/g;x"},
        {"g;x?y#s", "http://a/b/c/g;x?y#s"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"./", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../", "http://a/"},
        {"../../g", "http://a/g"},
        {"../../../g", "http://a/g"},
        {"../../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {".g", "http://a/b/c/.g"},
        {"g..", "http://a/b/c/g.."},
        {"..g", "http://a/b/c/..g"},
        {"./../g", "http://a/b/g"},
        {"./g/.", "http://a/b/c/g/"},
        {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"},
        {"g?y/../x", "http://a/b/c/g?y/../x"},
        {"g#s/./x", "http://a/b/c/g#s/./x"},
        {"g#s/../x", "http://a/b/c/g#s/../x"},
        {"http:g", "http://a/b/c/g"}, // the RFC's reading for backward compatibility
        // Browsers' clean-up of what a page writes.
        {"  \t/x\ny  ", "http://a/xy"},
        {"\\\\evil\\p", "http://evil/p"},
        {"HTTP://Example.TEST/A", "http://example.test/A"},
        {"a b\"<>`\x80", "http://a/b/c/a%20b%22%3C%3E%60%80"},
        {"javascript:go()", "javascript:go()"},
    };
    for (const auto& [ref, expected] : cases)
        EXPECT_EQ(resolveUrl(base, ref), expected) << ref;
}

TEST(Url, WithoutAnySchemeNothingResolves) {
    EXPECT_EQ(resolveUrl("", "page.html"), "");
    EXPECT_EQ(resolveUrl("not a url", "/x"), "");
    EXPECT_EQ(resolveUrl("", "ftp://h/f"), "ftp://h/f");
}

TEST(Url, ArbitraryInputIsSafe) {
    std::string junk;
    for (int i = 0; i < 2000; ++i)
        junk += static_cast<char>((i * 131) & 0xFF);
    for (std::size_t n = 0; n < junk.size(); n += 97) {
        const std::string piece = junk.substr(n, 60);
        EXPECT_NO_THROW(resolveUrl(piece, piece + "/../..//./?#"));
        EXPECT_NO_THROW(resolveUrl("http://h/", piece));
    }
    EXPECT_EQ(resolveUrl("http://h/a/b", "../../../../.."), "http://h/");
}

TEST(Url, FormEncodingEscapesEverythingButTheSafeSet) {
    EXPECT_EQ(formUrlEncode({{"a b", "c&d=e"}, {"*-._", "\xC3\xA9~+"}, {"", ""}}),
              "a+b=c%26d%3De&*-._=%C3%A9%7E%2B&=");
    EXPECT_EQ(formUrlEncode({}), "");
}

} // namespace
} // namespace torvaline
