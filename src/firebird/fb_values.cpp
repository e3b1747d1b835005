#include "firebird/fb_values.h"

#include <charconv>

#include "base/text.h"

namespace qn {

namespace {

// Days between 17 November 1858 and 1 January 1970.
constexpr int64_t kIscDateOf1970 = 40587;

// Days since 1 January 1970 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

}  // namespace

fb::ISC_DATE EncodeIscDate(int year, int month, int day) {
  return static_cast<fb::ISC_DATE>(DaysFromCivil(year, month, day) + kIscDateOf1970);
}

void DecodeIscDate(fb::ISC_DATE date, int& year, int& month, int& day) {
  CivilFromDays(static_cast<int64_t>(date) - kIscDateOf1970, year, month, day);
}

fb::ISC_TIME EncodeIscTime(int hour, int minute, int second, int tenThousandths) {
  return static_cast<fb::ISC_TIME>(((hour * 60 + minute) * 60 + second) * 10000 + tenThousandths);
}

void DecodeIscTime(fb::ISC_TIME time, int& hour, int& minute, int& second, int& tenThousandths) {
  tenThousandths = static_cast<int>(time % 10000);
  uint32_t seconds = time / 10000;
  second = static_cast<int>(seconds % 60);
  minute = static_cast<int>(seconds / 60 % 60);
  hour = static_cast<int>(seconds / 3600);
}

std::string FormatIscDate(fb::ISC_DATE date) {
  int y, m, d;
  DecodeIscDate(date, y, m, d);
  return Format("%04d-%02d-%02d", y, m, d);
}

std::string FormatIscTime(fb::ISC_TIME time) {
  int h, n, s, f;
  DecodeIscTime(time, h, n, s, f);
  return Format("%02d:%02d:%02d.%04d", h, n, s, f);
}

std::string FormatIscTimestamp(const fb::ISC_TIMESTAMP& stamp) {
  return FormatIscDate(stamp.timestamp_date) + " " + FormatIscTime(stamp.timestamp_time);
}

std::string ScaledIntegerText(int64_t value, int scale) {
  bool negative = value < 0;
  // Digits of the magnitude, computed unsigned so that the smallest int64 works.
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  if (scale >= 0) {
    if (magnitude != 0) digits.append(scale, '0');
  } else {
    size_t fraction = static_cast<size_t>(-scale);
    if (digits.size() <= fraction) digits.insert(0, fraction + 1 - digits.size(), '0');
    digits.insert(digits.size() - fraction, 1, '.');
  }
  return negative ? "-" + digits : digits;
}

bool ParseInt64(const std::string& text, int64_t& value) {
  std::string t = TrimBlanks(text);
  const char* begin = t.data();
  if (!t.empty() && t[0] == '+') ++begin;
  auto [end, ec] = std::from_chars(begin, t.data() + t.size(), value);
  return ec == std::errc() && end == t.data() + t.size() && begin != end;
}

bool ParseDouble(const std::string& text, double& value) {
  std::string t = TrimBlanks(text);
  const char* begin = t.data();
  if (!t.empty() && t[0] == '+') ++begin;
  auto [end, ec] = std::from_chars(begin, t.data() + t.size(), value, std::chars_format::general);
  return ec == std::errc() && end == t.data() + t.size() && begin != end;
}

bool ParseScaledDecimal(std::string_view text, int scale, int64_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // The digits without the point, and how many of them follow the point.
  std::string_view integer, fraction;
  size_t start = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  integer = text.substr(start, i - start);
  if (i < text.size() && text[i] == '.') {
    start = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    fraction = text.substr(start, i - start);
  }
  if (integer.empty() && fraction.empty()) return false;
  int exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
    start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    // Four digits move any digit beyond a 64-bit value or below its unit.
    if (i == start || i - start > 4) return false;
    std::from_chars(text.data() + start, text.data() + i, exponent);
    if (expNegative) exponent = -exponent;
  }
  if (i != text.size()) return false;

  // The value is digits * 10^shift units of the scale.
  const int shift = exponent - static_cast<int>(fraction.size()) - scale;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  unsigned __int128 magnitude = 0;
  // Digits kept: all when shift >= 0, else all but the last -shift.
  const long total = static_cast<long>(integer.size() + fraction.size());
  const long kept = shift >= 0 ? total : total + shift;
  bool roundUp = false;
  for (long k = 0; k < total; ++k) {
    char c = k < static_cast<long>(integer.size()) ? integer[k] : fraction[k - integer.size()];
    if (k >= kept) {
      // The first digit dropped decides, half away from zero; when even the
      // digits before it are dropped, the value rounds to 0.
      roundUp = k == kept && c >= '5';
      break;
    }
    magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
    if (magnitude > limit) return false;
  }
  if (magnitude != 0)
    for (int k = 0; k < shift; ++k) {
      magnitude *= 10;
      if (magnitude > limit) return false;
    }
  if (roundUp && ++magnitude > limit) return false;
  value = negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(magnitude)) : static_cast<int64_t>(magnitude);
  return true;
}

std::string DoubleText(double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, end);
}

std::string DoubleText(double value, int precision) {
  char buffer[512];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
  return std::string(buffer, end);
}

}  // namespace qn
