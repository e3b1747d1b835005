#include "dump/dump_text.h"

#include <charconv>

#include "base/error.h"
#include "base/text.h"
#include "firebird/fb_values.h"

namespace qn {

int64_t DecodeObjectId(std::string_view id) {
  uint64_t n = 0;
  for (char c : id) {
    size_t digit = kObjectDigits.find(c);
    n = n * 64 + (digit == std::string_view::npos ? 0 : digit);
  }
  return static_cast<int64_t>(n);
}

int64_t ObjectValue(std::string_view id) {
  if (id.size() != static_cast<size_t>(kObjectIdLength)) throw Exception("invalid object value");
  return DecodeObjectId(id);
}

std::string EncodeObjectId(uint64_t value) {
  std::string id(kObjectIdLength, '0');
  for (int i = kObjectIdLength - 1; i >= 0 && value != 0; --i) {
    id[i] = kObjectDigits[value % 64];
    value /= 64;
  }
  return id;
}

bool IsNullObject(std::string_view id) { return id == kNullObject; }

bool TqnReadBuffer::Fill() {
  if (pos_ < size_) return true;
  if (last_) return false;
  stream_.read(block_.data(), static_cast<std::streamsize>(block_.size()));
  size_ = static_cast<size_t>(stream_.gcount());
  pos_ = 0;
  if (size_ < block_.size()) last_ = true;
  return size_ != 0;
}

bool TqnReadBuffer::Next(char& c) {
  if (!Fill()) return false;
  c = block_[pos_++];
  return true;
}

std::string_view TqnReadBuffer::Run() {
  if (!Fill()) return {};
  std::string_view rest(block_.data() + pos_, size_ - pos_);
  size_t end = rest.find_first_of("\r\n");
  if (end == std::string_view::npos) end = rest.size();
  return rest.substr(0, end);
}

bool TqnDumpLineReader::ReadLine(std::string& line) {
  line.clear();
  // Whole runs of the block up to the next line end at a time; the bytes
  // and the end of the stream are those that Next would hand out.
  for (;;) {
    std::string_view run = buffer_.Run();
    if (run.empty()) {
      char c;
      if (!buffer_.Next(c)) return false;  // an unended last line is dropped
      if (!line.empty()) return true;      // c ended the line
      continue;                            // an empty line
    }
    line.append(run);
    buffer_.Skip(run.size());
  }
}

TqnDumpLineKind DumpLineKind(std::string_view line) {
  if (!line.empty() && line[0] == '#') return TqnDumpLineKind::Directive;
  if (!line.empty() && line[0] == '&') return TqnDumpLineKind::Header;
  return TqnDumpLineKind::Row;
}

bool ParseVersionDirective(std::string_view text, std::string& version) {
  std::string trimmed = TrimControl(text);
  if (UpperCase(trimmed).rfind("VERSION", 0) != 0) return false;
  version = trimmed.size() > 7 ? TrimControl(std::string_view(trimmed).substr(7, 50)) : std::string();
  return true;
}

char EscapeForVersion(const std::string& version) { return version == "0.1.0.0" ? '~' : kDefaultEscape; }

std::vector<std::string> SplitTabs(std::string_view text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t tab = text.find('\t', start);
    if (tab == std::string_view::npos) break;
    parts.emplace_back(text.substr(start, tab - start));
    start = tab + 1;
  }
  parts.emplace_back(text.substr(start));
  return parts;
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  throw Exception("invalid hexadecimal digit \"" + std::string(1, c) + "\"");
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  return text;
}

template <typename T>
T WholeNumber(std::string_view text) {
  text = Trimmed(text);
  T value{};
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return T{};
  return value;
}

// Digits only, as a number; -1 when some character is no digit.
int Digits(const std::string& text, size_t start, size_t count) {
  int value = 0;
  for (size_t i = start; i < start + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool ValidDate(int y, int m, int d) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || d < 1) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= days[m - 1] + (m == 2 && leap ? 1 : 0);
}

bool ValidTime(int h, int n, int s, int f) {
  return h >= 0 && h < 24 && n >= 0 && n < 60 && s >= 0 && s < 60 && f >= 0;
}

}  // namespace

std::string DecodeDumpValue(std::string_view raw, char escape) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != escape) {
      out += raw[i];
      continue;
    }
    if (raw.size() - i - 1 < 2)
      throw Exception("invalid hexadecimal number \"" + std::string(raw.substr(i + 1)) + "\"");
    int high = HexDigit(raw[i + 1]);
    int low = HexDigit(raw[i + 2]);
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

std::string PrepareDumpValue(std::string value, int maxLength, bool blob) {
  if (maxLength > 0 && value.size() > static_cast<size_t>(maxLength)) value.resize(maxLength);
  if (blob) return value;
  while (!value.empty() && static_cast<unsigned char>(value.back()) <= 32) value.pop_back();
  for (char& c : value) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 9 || u == 11 || u == 12 || u == 14 || u == 31) c = ' ';
  }
  return value;
}

int32_t DumpInt32(std::string_view text) { return WholeNumber<int32_t>(text); }
int64_t DumpInt64(std::string_view text) { return WholeNumber<int64_t>(text); }

double DumpDouble(std::string_view text) {
  text = Trimmed(text);
  double value = 0;
  // from_chars reads "." whatever the process locale (Qt sets it from the
  // environment, and the C conversions would stop at the point under a Russian one).
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) return 0;
  return value;
}

int64_t DumpScaled(std::string_view text, int scale) {
  int64_t value = 0;
  return ParseScaledDecimal(Trimmed(text), scale, value) ? value : 0;
}

TqnDumpDateTime ClassifyDumpDate(const std::string& text) {
  TqnDumpDateTime t;
  TqnDumpDateTime zero;  // day 0 of the date system
  if (text.size() == 10) {
    t.kind = zero.kind = TqnDumpDateTime::Kind::Date;
    t.year = Digits(text, 0, 4), t.month = Digits(text, 5, 2), t.day = Digits(text, 8, 2);
    t.hour = t.minute = t.second = t.msec = 0;
    return ValidDate(t.year, t.month, t.day) ? t : zero;
  }
  if (text.size() == 24) {
    t.kind = zero.kind = TqnDumpDateTime::Kind::Timestamp;
    t.year = Digits(text, 0, 4), t.month = Digits(text, 5, 2), t.day = Digits(text, 8, 2);
    t.hour = Digits(text, 11, 2), t.minute = Digits(text, 14, 2), t.second = Digits(text, 17, 2);
    int f = Digits(text, 20, 4);
    t.msec = f / 10;
    return ValidDate(t.year, t.month, t.day) && ValidTime(t.hour, t.minute, t.second, f) ? t : zero;
  }
  if (text.size() == 13) {
    t.kind = zero.kind = TqnDumpDateTime::Kind::Time;
    t.hour = Digits(text, 0, 2), t.minute = Digits(text, 3, 2), t.second = Digits(text, 6, 2);
    int f = Digits(text, 9, 4);
    t.msec = f / 10;
    return ValidTime(t.hour, t.minute, t.second, f) ? t : zero;
  }
  throw Exception("can not classify date str \"" + text + "\"");
}

std::string DumpRowContext(const std::string& table, const std::vector<std::string>& values) {
  std::string context = table + ":";
  for (const std::string& value : values) {
    if (context.size() > 1000) break;
    context += " " + value + ";";
  }
  if (context.size() > 1000) context.resize(1000);
  return context;
}

}  // namespace qn
