#include "firebird/ini_file.h"

#include <climits>
#include <optional>

#include "base/text.h"

namespace qn {
namespace {

std::optional<std::string> FindValue(std::string_view text, std::string_view section, std::string_view key) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::string wantedSection = TrimControl(section);
  std::string wantedKey = TrimControl(key);
  bool inSection = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line = TrimControl(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      std::string name =
          TrimControl(std::string_view(line).substr(1, close == std::string::npos ? std::string::npos : close - 1));
      inSection = CompareTextNoCase(name, wantedSection) == 0;
      continue;
    }
    if (!inSection) continue;
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    if (CompareTextNoCase(TrimControl(std::string_view(line).substr(0, equals)), wantedKey) != 0) continue;
    std::string value = TrimControl(std::string_view(line).substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return std::nullopt;
}

}  // namespace

std::string ReadIniString(std::string_view text, std::string_view section, std::string_view key,
                          const std::string& def) {
  std::optional<std::string> value = FindValue(text, section, key);
  return value ? *value : def;
}

int ReadIniInteger(std::string_view text, std::string_view section, std::string_view key, int def) {
  std::optional<std::string> value = FindValue(text, section, key);
  if (!value || value->empty()) return def;
  std::string_view digits = *value;
  bool negative = digits[0] == '-';
  if (digits[0] == '-' || digits[0] == '+') digits.remove_prefix(1);
  if (digits.empty()) return def;
  long long number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return def;
    number = number * 10 + (c - '0');
    if (number > static_cast<long long>(INT_MAX) + 1) return def;
  }
  if (negative) number = -number;
  if (number < INT_MIN || number > INT_MAX) return def;
  return static_cast<int>(number);
}

}  // namespace qn
