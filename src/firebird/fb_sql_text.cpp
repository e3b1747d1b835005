#include "firebird/fb_sql_text.h"

#include "base/text.h"

namespace qn {

namespace {

// Bytes from 128 up are the Windows-1251 letters of Russian names (a
// parameter named after a field, ":aИмя"); outside quotes they can stand
// nowhere else in a statement.
bool IsNameChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '_' || u == '$' ||
         u >= 0x80;
}

// When text[i] opens a string or comment, returns the position just after
// its end (the end of text when it is not closed); otherwise returns i.
size_t SkipQuotedOrComment(std::string_view text, size_t i) {
  char c = text[i];
  if (c == '\'' || c == '"') {
    size_t j = i + 1;
    while (j < text.size()) {
      if (text[j] == c) {
        if (j + 1 < text.size() && text[j + 1] == c) {
          j += 2;  // doubled quote: still inside
          continue;
        }
        return j + 1;
      }
      ++j;
    }
    return text.size();
  }
  if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
    size_t end = text.find('\n', i + 2);
    return end == std::string_view::npos ? text.size() : end + 1;
  }
  if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
    size_t end = text.find("*/", i + 2);
    return end == std::string_view::npos ? text.size() : end + 2;
  }
  return i;
}

// Skips bytes 0..32 and comments.
size_t SkipSpaceAndComments(std::string_view text, size_t i) {
  for (;;) {
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32) ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '/')) {
      size_t next = SkipQuotedOrComment(text, i);
      if (next != i) {
        i = next;
        continue;
      }
    }
    return i;
  }
}

std::string CleanStatement(std::string_view text) {
  size_t start = SkipSpaceAndComments(text, 0);
  return TrimControl(text.substr(start));
}

}  // namespace

std::string TranslateNamedParams(std::string_view sql, std::vector<std::string>& names) {
  names.clear();
  std::string out;
  out.reserve(sql.size());
  size_t i = 0;
  while (i < sql.size()) {
    size_t next = SkipQuotedOrComment(sql, i);
    if (next != i) {
      out.append(sql.substr(i, next - i));
      i = next;
      continue;
    }
    if (sql[i] == ':' && i + 1 < sql.size() && IsNameChar(sql[i + 1])) {
      size_t end = i + 1;
      while (end < sql.size() && IsNameChar(sql[end])) ++end;
      names.emplace_back(sql.substr(i + 1, end - i - 1));
      out += '?';
      i = end;
      continue;
    }
    if (sql[i] == '?') names.emplace_back();
    out += sql[i++];
  }
  return out;
}

std::string LeadingWords(std::string_view statement, int count) {
  std::string words;
  size_t i = 0;
  for (int n = 0; n < count; ++n) {
    i = SkipSpaceAndComments(statement, i);
    size_t start = i;
    while (i < statement.size() && IsNameChar(statement[i])) ++i;
    if (i == start) break;
    if (!words.empty()) words += ' ';
    words += UpperCase(statement.substr(start, i - start));
  }
  return words;
}

std::vector<std::string> SplitScript(std::string_view script) {
  std::vector<std::string> statements;
  std::string terminator = ";";
  size_t start = 0;
  size_t i = 0;
  auto finish = [&](size_t end) {
    std::string statement = CleanStatement(script.substr(start, end - start));
    if (statement.empty()) return;
    if (LeadingWords(statement, 2) == "SET TERM") {
      // The new terminator is what follows the two words.
      size_t pos = SkipSpaceAndComments(statement, 0);
      for (int word = 0; word < 2; ++word) {
        pos = SkipSpaceAndComments(statement, pos);
        while (pos < statement.size() && IsNameChar(statement[pos])) ++pos;
      }
      std::string next = TrimControl(std::string_view(statement).substr(pos));
      if (!next.empty()) {
        terminator = next;
        return;
      }
    }
    statements.push_back(std::move(statement));
  };
  while (i < script.size()) {
    size_t next = SkipQuotedOrComment(script, i);
    if (next != i) {
      i = next;
      continue;
    }
    if (script.compare(i, terminator.size(), terminator) == 0) {
      finish(i);
      i += terminator.size();
      start = i;
      continue;
    }
    ++i;
  }
  finish(script.size());
  return statements;
}

}  // namespace qn
