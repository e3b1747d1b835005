#include "backup/record_counts.h"

#include <cstdlib>

#include "base/text.h"

namespace qn {

namespace {

// The text after a marker, trailing blanks and control characters removed.
std::string After(const std::string& line, size_t position) {
  size_t end = line.size();
  while (end > position && static_cast<unsigned char>(line[end - 1]) <= 32) --end;
  return line.substr(position, end - position);
}

// The number before " records <verb>", or false.
bool CountBefore(const std::string& line, const char* marker, long long& count) {
  const size_t at = line.find(marker);
  if (at == std::string::npos) return false;
  size_t begin = at;
  while (begin > 0 && line[begin - 1] >= '0' && line[begin - 1] <= '9') --begin;
  if (begin == at) return false;
  count = std::strtoll(line.substr(begin, at - begin).c_str(), nullptr, 10);
  return true;
}

std::string Escape(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '%' || c == '=' || c == ';' || static_cast<unsigned char>(c) < 32)
      out += "%" + HexUpper(static_cast<unsigned char>(c), 2);
    else
      out += c;
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

void TqnRecordCountReader::Feed(const std::string& line) {
  for (const char* marker : {"writing data for table ", "restoring data for table "}) {
    const size_t at = line.find(marker);
    if (at != std::string::npos) {
      table_ = After(line, at + std::char_traits<char>::length(marker));
      // Servers name tables in UTF-8 here; the program keeps Windows-1251.
      std::string cp1251;
      if (Utf8ToWin1251(table_, cp1251)) table_ = cp1251;
      return;
    }
  }
  long long count = 0;
  if (!table_.empty() &&
      (CountBefore(line, " records written", count) || CountBefore(line, " records restored", count)))
    counts_[table_] = count;  // the last figure of a table is its total
}

std::string CompareRecordCounts(const TqnRecordCounts& backup, const TqnRecordCounts& restored) {
  auto countIn = [](const TqnRecordCounts& counts, const std::string& table) {
    auto it = counts.find(table);
    return it == counts.end() ? 0LL : it->second;
  };
  TqnRecordCounts tables = backup;
  tables.insert(restored.begin(), restored.end());
  for (const auto& [table, ignored] : tables) {
    const long long inBackup = countIn(backup, table), back = countIn(restored, table);
    if (inBackup != back)
      return Format(Win1251("таблица %s: в копии %lld записей, восстановлено %lld").c_str(), table.c_str(), inBackup,
                    back);
  }
  return {};
}

std::string FormatRecordCounts(const TqnRecordCounts& counts) {
  std::string text;
  for (const auto& [table, count] : counts) {
    if (!text.empty()) text += ';';
    text += Escape(table) + "=" + std::to_string(count);
  }
  return text;
}

TqnRecordCounts ParseRecordCounts(const std::string& text) {
  TqnRecordCounts counts;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find(';', begin);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(begin, end - begin);
    const size_t equals = item.rfind('=');
    if (equals != std::string::npos)
      counts[Unescape(item.substr(0, equals))] = std::strtoll(item.c_str() + equals + 1, nullptr, 10);
    begin = end + 1;
  }
  return counts;
}

}  // namespace qn
