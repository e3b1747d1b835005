#include "dump/dump_pack.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "firebird/fb_api.h"
#include "firebird/fb_values.h"

namespace qn {

namespace {

// Room for the text of an integer of that storage: sign, digits, point and
// the zero before it.
int IntegerWidth(int type) {
  switch (type) {
    case fb::SQL_SHORT: return 8;
    case fb::SQL_LONG: return 13;
    default: return 22;
  }
}

bool ReadInteger(const TqnFbParamValue& value, int64_t& number) {
  switch (value.data.size()) {
    case 2: {
      int16_t v;
      std::memcpy(&v, value.data.data(), 2);
      number = v;
      return value.type == fb::SQL_SHORT;
    }
    case 4: {
      int32_t v;
      std::memcpy(&v, value.data.data(), 4);
      number = v;
      return value.type == fb::SQL_LONG;
    }
    case 8: {
      int64_t v;
      std::memcpy(&v, value.data.data(), 8);
      number = v;
      return value.type == fb::SQL_INT64;
    }
    default: return false;
  }
}

// Within the storage of the column's type. The smallest int64 is among
// them: the server reads its text back as it reads any other.
bool FitsStorage(int type, int64_t number) {
  switch (type) {
    case fb::SQL_SHORT:
      return number >= std::numeric_limits<int16_t>::min() && number <= std::numeric_limits<int16_t>::max();
    case fb::SQL_LONG:
      return number >= std::numeric_limits<int32_t>::min() && number <= std::numeric_limits<int32_t>::max();
    default: return true;
  }
}

// Every year the server takes, 1 to 9999, written with four digits: the
// server reads a year of fewer digits as one near today, but "0999" as 999.
bool WritableDate(fb::ISC_DATE date) {
  int year, month, day;
  DecodeIscDate(date, year, month, day);
  return year >= 1 && year <= 9999 && EncodeIscDate(year, month, day) == date;
}

bool WritableTime(fb::ISC_TIME time) { return time < 24u * 3600u * 10000u; }

template <typename T>
bool Read(const TqnFbParamValue& value, int type, T& out) {
  if (value.type != type || value.data.size() != sizeof(T)) return false;
  std::memcpy(&out, value.data.data(), sizeof(T));
  return true;
}

// Fixed-width decimal digits; the formatting of the standard library costs
// more than the server's reading of the whole row.
void AppendDigits(std::string& out, unsigned value, int width) {
  char digits[8];
  for (int i = width - 1; i >= 0; --i, value /= 10) digits[i] = static_cast<char>('0' + value % 10);
  out.append(digits, static_cast<size_t>(width));
}

// "yyyy-mm-dd", as FormatIscDate writes it.
void AppendDate(std::string& out, fb::ISC_DATE date) {
  int year, month, day;
  DecodeIscDate(date, year, month, day);
  AppendDigits(out, static_cast<unsigned>(year), 4);
  out += '-';
  AppendDigits(out, static_cast<unsigned>(month), 2);
  out += '-';
  AppendDigits(out, static_cast<unsigned>(day), 2);
}

// "hh:nn:ss.ffff", as FormatIscTime writes it.
void AppendTime(std::string& out, fb::ISC_TIME time) {
  AppendDigits(out, time / 36000000u, 2);
  out += ':';
  AppendDigits(out, time / 600000u % 60u, 2);
  out += ':';
  AppendDigits(out, time / 10000u % 60u, 2);
  out += '.';
  AppendDigits(out, time % 10000u, 4);
}

// Appends the value's text form, or returns false.
bool AppendValue(const TqnPackedField& field, const TqnFbParamValue& value, std::string& out) {
  switch (field.kind) {
    case TqnPackKind::Char:
    case TqnPackKind::Varchar:
      if (value.type != fb::SQL_TEXT || value.data.size() > static_cast<size_t>(field.width)) return false;
      // Trailing blanks of a VARCHAR would be trimmed away.
      if (field.kind == TqnPackKind::Varchar && !value.data.empty() && value.data.back() == ' ') return false;
      out += value.data;
      return true;
    case TqnPackKind::Integer: {
      int64_t number = 0;
      if (!ReadInteger(value, number) || value.scale != field.scale || !FitsStorage(field.type, number)) return false;
      out += ScaledIntegerText(number, field.scale);
      return true;
    }
    case TqnPackKind::Date: {
      fb::ISC_DATE date;
      if (!Read(value, fb::SQL_TYPE_DATE, date) || !WritableDate(date)) return false;
      AppendDate(out, date);
      return true;
    }
    case TqnPackKind::Time: {
      fb::ISC_TIME time;
      if (!Read(value, fb::SQL_TYPE_TIME, time) || !WritableTime(time)) return false;
      AppendTime(out, time);
      return true;
    }
    case TqnPackKind::Timestamp: {
      fb::ISC_TIMESTAMP stamp{};
      // A date into a time stamp is its midnight, as the server converts it.
      if (!Read(value, fb::SQL_TIMESTAMP, stamp) && !Read(value, fb::SQL_TYPE_DATE, stamp.timestamp_date)) return false;
      if (!WritableDate(stamp.timestamp_date) || !WritableTime(stamp.timestamp_time)) return false;
      AppendDate(out, stamp.timestamp_date);
      out += ' ';
      AppendTime(out, stamp.timestamp_time);
      return true;
    }
    case TqnPackKind::None: break;
  }
  return false;
}

}  // namespace

TqnPackedField PackableField(int type, int scale, int length, bool singleByteText, std::string castType) {
  TqnPackedField field;
  field.type = type;
  field.scale = scale;
  field.castType = std::move(castType);
  switch (type) {
    case fb::SQL_TEXT:
    case fb::SQL_VARYING:
      if (!singleByteText || length <= 0) break;
      field.kind = type == fb::SQL_TEXT ? TqnPackKind::Char : TqnPackKind::Varchar;
      field.width = length;
      break;
    case fb::SQL_SHORT:
    case fb::SQL_LONG:
    case fb::SQL_INT64:
      if (scale > 0) break;
      field.kind = TqnPackKind::Integer;
      field.width = IntegerWidth(type);
      break;
    case fb::SQL_TYPE_DATE: field.kind = TqnPackKind::Date, field.width = 10; break;
    case fb::SQL_TYPE_TIME: field.kind = TqnPackKind::Time, field.width = 13; break;
    case fb::SQL_TIMESTAMP: field.kind = TqnPackKind::Timestamp, field.width = 24; break;
    default: break;
  }
  if (field.castType.empty() && field.kind != TqnPackKind::Char && field.kind != TqnPackKind::Varchar)
    field.kind = TqnPackKind::None;
  return field;
}

bool PackValue(const TqnPackedField& field, const TqnFbParamValue& value, std::string& packed) {
  const size_t start = packed.size();
  if (value.null) {
    if (!field.marked) return false;
    packed += 'N';
    packed.append(static_cast<size_t>(field.width), ' ');
    return true;
  }
  if (field.marked) packed += ' ';
  const size_t valueStart = packed.size();
  if (!AppendValue(field, value, packed) || packed.size() - valueStart > static_cast<size_t>(field.width)) {
    packed.resize(start);
    return false;
  }
  packed.append(valueStart + static_cast<size_t>(field.width) - packed.size(), ' ');
  return true;
}

std::string UnpackExpression(const TqnPackedField& field, const std::string& param) {
  const int at = field.offset + (field.marked ? 1 : 0) + 1;  // 1-based
  std::string part = "substring(" + param + " from " + std::to_string(at) + " for " + std::to_string(field.width) + ")";
  std::string value;
  switch (field.kind) {
    case TqnPackKind::Char: value = part; break;
    case TqnPackKind::Varchar: value = "trim(trailing from " + part + ")"; break;
    default: value = "cast(" + part + " as " + field.castType + ")"; break;
  }
  if (!field.marked) return value;
  return "iif(substring(" + param + " from " + std::to_string(at - 1) + " for 1) = 'N', null, " + value + ")";
}

}  // namespace qn
