// Alert mail over SMTP through libcurl: plain, STARTTLS or SMTPS, with a
// login when a user is set. The message is plain text in UTF-8.
#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <cstdio>

#include "backup/alerts.h"
#include "base/text.h"

namespace qn {

namespace {

std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], kAlphabet[v & 63]};
  }
  if (i + 1 == bytes.size()) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == bytes.size()) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], '='};
  }
  return out;
}

// A header text as encoded words of at most 75 characters each, split
// between characters, folded onto continuation lines.
std::string EncodedWords(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    size_t n = std::min<size_t>(45, utf8.size() - i);
    while (i + n < utf8.size() && (static_cast<unsigned char>(utf8[i + n]) & 0xC0) == 0x80) --n;
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + Base64(utf8.substr(i, n)) + "?=";
    i += n;
  }
  return out;
}

std::vector<std::string> Recipients(const std::string& list) {
  std::vector<std::string> out;
  size_t begin = 0;
  while (begin <= list.size()) {
    size_t comma = list.find_first_of(",;", begin);
    if (comma == std::string::npos) comma = list.size();
    const std::string address = TrimBlanks(list.substr(begin, comma - begin));
    if (!address.empty()) out.push_back(address);
    begin = comma + 1;
  }
  return out;
}

struct Payload {
  std::string text;
  size_t sent = 0;
};

size_t ReadPayload(char* buffer, size_t size, size_t count, void* user) {
  Payload* p = static_cast<Payload*>(user);
  const size_t n = std::min(size * count, p->text.size() - p->sent);
  std::memcpy(buffer, p->text.data() + p->sent, n);
  p->sent += n;
  return n;
}

// Gives the transfer up when the run ends: curl calls it about once a second
// and while data moves.
int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const std::atomic<bool>* stop = static_cast<const std::atomic<bool>*>(user);
  return stop && stop->load() ? 1 : 0;
}

// The Date header in UTC from the standard calendar: the same on every
// system, whatever its C library offers for broken-down time.
std::string MailDate() {
  using namespace std::chrono;
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const sys_seconds now = floor<seconds>(system_clock::now());
  const sys_days day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{now - day};
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s, %02u %s %d %02d:%02d:%02d +0000", kDays[weekday{day}.c_encoding()],
                static_cast<unsigned>(date.day()), kMonths[static_cast<unsigned>(date.month()) - 1],
                static_cast<int>(date.year()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
  return buffer;
}

}  // namespace

std::string SendAlertMail(const TqnAlertSettings& s, const std::string& subject, const std::string& body,
                          const std::atomic<bool>* stop) {
  // Only what the settings name: anything else would mean plain text.
  if (!KnownMailSecurity(s.security)) return Win1251("неизвестное значение \"alerts\" / \"smtp\" / \"security\"");
  const std::vector<std::string> to = Recipients(s.to);
  if (to.empty()) return Win1251("не указаны адреса \"alerts\" / \"smtp\" / \"to\"");
  static const CURLcode global = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (global != CURLE_OK) return curl_easy_strerror(global);
  CURL* curl = curl_easy_init();
  if (!curl) return "curl_easy_init failed";
  const std::string from = s.from.empty() ? "qndbmgr@localhost" : s.from;
  std::string toHeader;
  for (const std::string& a : to) toHeader += (toHeader.empty() ? "" : ", ") + a;
  Payload payload;
  payload.text = "Date: " + MailDate() + "\r\nFrom: " + from + "\r\nTo: " + toHeader +
                 "\r\nSubject: " + EncodedWords(subject) +
                 "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                 "Content-Transfer-Encoding: 8bit\r\n\r\n" +
                 body;
  const bool ssl = s.security == "ssl";
  const std::string url = std::string(ssl ? "smtps://" : "smtp://") + s.smtpHost + ":" + std::to_string(s.smtpPort);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  if (s.security == "starttls") curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  if (!s.user.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, s.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, s.password.c_str());
  }
  const std::string mailFrom = "<" + from + ">";
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, mailFrom.c_str());
  curl_slist* recipients = nullptr;
  for (const std::string& a : to) recipients = curl_slist_append(recipients, ("<" + a + ">").c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadPayload);
  curl_easy_setopt(curl, CURLOPT_READDATA, &payload);
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 20L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(stop));
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  const CURLcode rc = curl_easy_perform(curl);
  curl_slist_free_all(recipients);
  curl_easy_cleanup(curl);
  if (rc == CURLE_OK) return {};
  std::string reason = *error ? error : curl_easy_strerror(rc);
  std::string text;
  return Utf8ToWin1251(reason, text) ? text : reason;
}

}  // namespace qn
