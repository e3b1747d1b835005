#include "storage/s3_text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "storage/crypto.h"

namespace qn::storage::s3 {

std::string UriEncode(std::string_view text, bool keepSlash) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '~' || (c == '/' && keepSlash)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string CanonicalQuery(std::vector<std::pair<std::string, std::string>> parameters) {
  for (auto& [name, value] : parameters) {
    name = UriEncode(name, false);
    value = UriEncode(value, false);
  }
  std::sort(parameters.begin(), parameters.end());
  std::string out;
  for (const auto& [name, value] : parameters) out += (out.empty() ? "" : "&") + name + "=" + value;
  return out;
}

namespace {

std::string XmlUnescape(std::string_view text) {
  static const std::pair<std::string_view, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (size_t i = 0; i < text.size();) {
    bool replaced = false;
    if (text[i] == '&') {
      for (const auto& [entity, c] : kEntities) {
        if (text.substr(i, entity.size()) == entity) {
          out += c;
          i += entity.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

}  // namespace

std::vector<std::string> XmlValues(std::string_view xml, std::string_view tag) {
  const std::string open = "<" + std::string(tag) + ">", close = "</" + std::string(tag) + ">";
  std::vector<std::string> out;
  for (size_t at = xml.find(open); at != std::string_view::npos; at = xml.find(open, at)) {
    const size_t begin = at + open.size();
    const size_t end = xml.find(close, begin);
    if (end == std::string_view::npos) break;
    out.push_back(XmlUnescape(xml.substr(begin, end - begin)));
    at = end + close.size();
  }
  return out;
}

std::string XmlValue(std::string_view xml, std::string_view tag) {
  std::vector<std::string> values = XmlValues(xml, tag);
  return values.empty() ? std::string() : values.front();
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

int64_t UnixOf(int year, unsigned month, unsigned day, int hour, int minute, int second) {
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{year}, std::chrono::month{month}, std::chrono::day{day}};
  if (!date.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) return 0;
  return sys_days{date}.time_since_epoch().count() * 86400LL + hour * 3600 + minute * 60 + second;
}

}  // namespace

std::string FormatIsoTime(int64_t unixSeconds) {
  using namespace std::chrono;
  const sys_seconds t{seconds{unixSeconds}};
  const sys_days day = floor<days>(t);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{t - day};
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.000Z", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return buffer;
}

int64_t ParseIsoTime(std::string_view text) {
  int year = 0, hour = 0, minute = 0, second = 0;
  unsigned month = 0, day = 0;
  const std::string s(text.substr(0, 19));
  if (s.size() < 19 ||
      std::sscanf(s.c_str(), "%4d-%2u-%2uT%2d:%2d:%2d", &year, &month, &day, &hour, &minute, &second) != 6)
    return 0;
  return UnixOf(year, month, day, hour, minute, second);
}

int64_t ParseHttpDate(std::string_view text) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char weekday[8] = {}, monthName[8] = {};
  int year = 0, hour = 0, minute = 0, second = 0;
  unsigned day = 0;
  const std::string s(text);
  if (std::sscanf(s.c_str(), "%3s, %2u %3s %4d %2d:%2d:%2d", weekday, &day, monthName, &year, &hour, &minute,
                  &second) != 7)
    return 0;
  for (unsigned m = 0; m < 12; ++m)
    if (std::string_view(monthName) == kMonths[m]) return UnixOf(year, m + 1, day, hour, minute, second);
  return 0;
}

std::string Unquoted(std::string_view etag) {
  if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"') etag = etag.substr(1, etag.size() - 2);
  return std::string(etag);
}

std::string MultipartEtag(const std::vector<std::string>& partMd5s) {
  Md5 md5;
  for (const std::string& part : partMd5s) md5.Update(part.data(), part.size());
  return HexOf(md5.Digest()) + "-" + std::to_string(partMd5s.size());
}

}  // namespace qn::storage::s3
