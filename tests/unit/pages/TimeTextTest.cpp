#include "pages/TimeText.h"
#include "pages/ConversionError.h"

#include <gtest/gtest.h>

using namespace torvaline;

TEST(FormatSecsToHMS, WritesWithoutLeadingZeros) {
    EXPECT_EQ(FormatSecsToHMS(720), "0:12:0");
    EXPECT_EQ(FormatSecsToHMS(45), "0:0:45");
    EXPECT_EQ(FormatSecsToHMS(3725), "1:2:5");
    EXPECT_EQ(FormatSecsToHMS(0), "0:0:0");
    EXPECT_EQ(FormatSecsToHMS(100000), "27:46:40");
}

TEST(TimeText, ShowsMagnitudeRoundedToMillisecondsModuloADay) {
    const double s = 1.0 / DayLengthSeconds;
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {0, "00:00:00"},
        {-0.4 * s, "00:00:00"},
        {-1.2 * s, "00:00:01"},
        {-5 * s, "00:00:05"},
        {(86400 + 5) * s, "00:00:05"},
        {0.9994 * s, "00:00:00"},
        {0.9996 * s, "00:00:01"},
        {(3600 + 61) * s, "01:01:01"},
        {-(86400 - 10) * s, "23:59:50"},
        {119.9996 * s, "00:02:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TimeText(c.value), c.text) << c.value / s;
}

TEST(StrToInt, AcceptsBlanksAndSignOnly) {
    EXPECT_EQ(StrToInt("12"), 12);
    EXPECT_EQ(StrToInt("  -7"), -7);
    EXPECT_EQ(StrToInt("+3"), 3);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", " ", "-", "12 ", "about 5", "5;x", "0x1F", "$1F", "2147483648",
                            "\t5", "99999999999999999999"})
        EXPECT_THROW(StrToInt(bad), ConversionError) << bad;
}

TEST(StrToTime, ReadsHoursMinutesSecondsBelowADay) {
    EXPECT_DOUBLE_EQ(StrToTime("0:12:0"), 720 / DayLengthSeconds);
    EXPECT_DOUBLE_EQ(StrToTime("23:59:59"), 86399 / DayLengthSeconds);
    for (const char* bad : {"24:0:0", "27:46:40", "0:60:0", "0:0:60", "", "1:2", "1:2:3:4", "a:b:c",
                            "0:65535:0", ":1:2", "1::2"})
        EXPECT_THROW(StrToTime(bad), ConversionError) << bad;
}
