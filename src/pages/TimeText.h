#pragma once

#include "platform/DayLength.h"

#include <cstdint>
#include <string>

// Time values are fractions of a day (1.0 = 24 h) taken from the clock's time of day.
namespace torvaline {

// Seconds as "%d:%d:%d" without leading zeros: 720 -> "0:12:0", 3725 -> "1:2:5".
// Hours and minutes are held as 16-bit unsigned values: a span of 65,536 hours or more wraps,
// which is why the page rules refuse a wait of a day or more before it gets here.
std::string FormatSecsToHMS(std::int32_t seconds);

// The time text of a possibly negative value: its magnitude rounded to whole milliseconds,
// modulo one day, as two-digit hours, minutes and seconds ("00:00:05" for -5 s).
std::string TimeText(double days);

// Decimal digits into a 32-bit signed integer after optional leading blanks and an optional
// sign; anything else (the empty text, trailing text, overflow) throws ConversionError.
std::int32_t StrToInt(const std::string& text);

// "h:m:s" read as a time of day; hours of 24 or more, minutes or seconds of 60 or more,
// or anything that is not three decimal numbers throws ConversionError.
double StrToTime(const std::string& text);

} // namespace torvaline
