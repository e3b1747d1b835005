// Conversions between the server's binary value forms and the program's:
// calendar dates as the server counts them (days since 17 November 1858),
// times of day in ten-thousandths of a second, and scaled integers (the
// NUMERIC and DECIMAL types) as decimal text. Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "firebird/fb_api.h"

namespace qn {

// Proleptic Gregorian calendar; no validation of the parts.
fb::ISC_DATE EncodeIscDate(int year, int month, int day);
void DecodeIscDate(fb::ISC_DATE date, int& year, int& month, int& day);
fb::ISC_TIME EncodeIscTime(int hour, int minute, int second, int tenThousandths);
void DecodeIscTime(fb::ISC_TIME time, int& hour, int& minute, int& second, int& tenThousandths);

// "yyyy-mm-dd", "hh:nn:ss.ffff", "yyyy-mm-dd hh:nn:ss.ffff".
std::string FormatIscDate(fb::ISC_DATE date);
std::string FormatIscTime(fb::ISC_TIME time);
std::string FormatIscTimestamp(const fb::ISC_TIMESTAMP& stamp);

// The value times 10^scale as decimal text: (12345, -2) gives "123.45",
// (-5, -3) gives "-0.005", (7, 2) gives "700".
std::string ScaledIntegerText(int64_t value, int scale);

// Reads a whole text (blanks around allowed) as a decimal integer or a
// decimal number with "." as separator; false when it is not one.
bool ParseInt64(const std::string& text, int64_t& value);
bool ParseDouble(const std::string& text, double& value);

// Reads a whole decimal text, [sign] digits [. digits] [e|E [sign] digits],
// with "." as separator whatever the process locale, as the scaled integer
// of a NUMERIC or DECIMAL value: value = text * 10^-scale (scale <= 0 as
// described by the server), exactly, with no floating point on the way.
// More fraction digits than the scale keeps are rounded half away from
// zero. False when the text is no such number or the result does not fit
// in 64 bits. Nothing around the number is allowed (trimming is the
// caller's).
bool ParseScaledDecimal(std::string_view text, int scale, int64_t& value);

// Shortest text that reads back as the same double, "." as separator.
std::string DoubleText(double value);
// printf's "%.<precision>g" in the C locale, whatever the process locale.
std::string DoubleText(double value, int precision);

}  // namespace qn
