#include "platform/AsciiCase.h"

#include <gtest/gtest.h>

using namespace torvaline;

// Names and schemes are compared in ASCII lower case; bytes of UTF-8 text and the letters
// next to the ASCII range ('@', '[', '`', '{') must come through unchanged.
TEST(Ascii, LowersOnlyTheAsciiLetters) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"HTTP://Host/A.ZIP", "http://host/a.zip"},
        {"@AZ[`az{", "@az[`az{"},
        {"\xC3\x84\xC3\x96 \xE2\x82\xAC X", "\xC3\x84\xC3\x96 \xE2\x82\xAC x"},
        {std::string("A\0B", 3), std::string("a\0b", 3)},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(asciiLower(in), out) << in;
    static_assert(asciiLower('Q') == 'q' && asciiLower('\xC4') == '\xC4');
}
