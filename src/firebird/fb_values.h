// Conversions between the server's binary value forms and the program's:
// calendar dates as the server counts them (days since 17 November 1858),
// times of day in ten-thousandths of a second, and scaled integers (the
// NUMERIC and DECIMAL types) as decimal text. Pure functions.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace qn
