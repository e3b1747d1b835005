#include "xml/xml_text.h"

#include "base/error.h"
#include "base/text.h"

namespace qn {
namespace {

const char kHexDigits[] = "0123456789ABCDEF";

void AppendHex2(std::string& out, unsigned char c) {
  out += kHexDigits[c >> 4];
  out += kHexDigits[c & 15];
}

// Value of a hex digit, -1 when it is none; upperOnly rejects a..f.
int HexValue(unsigned char c, bool upperOnly) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (!upperOnly && c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsPlainNameChar(unsigned char c) {
  return c == '-' || c == '_' || c == '{' || c == '}' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z') || c >= 192;
}

}  // namespace

bool XmlIsNameChar(unsigned char c) { return c == ':' || IsPlainNameChar(c); }

std::string XmlEncodeName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char ch : name) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (IsPlainNameChar(c)) {
      out += ch;
    } else {
      out += ':';
      AppendHex2(out, c);
    }
  }
  return out;
}

std::string XmlDecodeName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] != ':') {
      out += name[i];
      continue;
    }
    int hi = i + 1 < name.size() ? HexValue(static_cast<unsigned char>(name[i + 1]), false) : -1;
    int lo = i + 2 < name.size() ? HexValue(static_cast<unsigned char>(name[i + 2]), false) : -1;
    if (hi < 0 || lo < 0) throw Exception("hex digit expected");
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

std::string XmlEscapeText(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char ch : value) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 32 || c == '&' || c == '<' || c == '>') {
      out += "&#x";
      AppendHex2(out, c);
      out += ';';
    } else {
      out += ch;
    }
  }
  return out;
}

std::string XmlUnescapeText(std::string_view stored) {
  std::string out;
  out.reserve(stored.size());
  size_t i = 0;
  while (i < stored.size()) {
    // Only "&#x", digits, ";" is an escape; a stray "&" (hand-edited files)
    // is kept as it stands, and no look-ahead goes past the end.
    if (stored[i] == '&' && stored.substr(i, 3) == "&#x") {
      size_t j = i + 3;
      unsigned value = 0;
      while (j < stored.size() && HexValue(static_cast<unsigned char>(stored[j]), true) >= 0) {
        value = (value << 4) | static_cast<unsigned>(HexValue(static_cast<unsigned char>(stored[j]), true));
        ++j;
      }
      if (j > i + 3 && j < stored.size() && stored[j] == ';') {
        out += static_cast<char>(value & 0xFF);
        i = j + 1;
        continue;
      }
    }
    out += stored[i];
    ++i;
  }
  return out;
}

std::optional<int32_t> XmlParseInteger(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (text[0] == '$') {
    if (text.size() == 1) return std::nullopt;
    uint64_t v = 0;
    for (size_t i = 1; i < text.size(); ++i) {
      int d = HexValue(static_cast<unsigned char>(text[i]), false);
      if (d < 0) return std::nullopt;
      v = v * 16 + static_cast<unsigned>(d);
      if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(v));
  }
  size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return std::nullopt;
  const uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
    if (v > limit) return std::nullopt;
  }
  return static_cast<int32_t>(negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v));
}

}  // namespace qn
