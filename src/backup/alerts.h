// Telling someone: when an entry's backups start failing, recover, or have
// given no verified backup for too long, the program sends an e-mail and
// runs an office's own command. The settings live under "alerts":
//
//   "smtp" / "host", "port" (25), "security" ("none", "starttls", "ssl"),
//   "user", "pwd", "from", "to" (addresses separated by commas);
//   "command": run through the system's shell with QN_EVENT (failed,
//   recovered, stale or test), QN_ENTRY, QN_CAPTION, QN_PATH and QN_MESSAGE
//   in its environment, in UTF-8, the null device as its input;
//   "command_timeout" (60 seconds): a command still running then is ended;
//   "stale_hours" (36).
//
// A "security" other than the three is refused, never taken for "none": a
// mistyped "tls" must not send the login in clear.
//
// An alert that cannot be delivered is reported in the result, never thrown:
// it must not fail the backup that caused it.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "settings/settings_keys.h"
#include "xml/xml_dom.h"

namespace qn {

inline constexpr int kDefaultAlertCommandTimeout = keys::kAlertCommandTimeout.MissingInteger();

struct TqnAlertSettings {
  std::string smtpHost;
  int smtpPort = 25;
  std::string security = "none";
  std::string user;
  std::string password;
  std::string from;
  std::string to;  // comma-separated
  std::string command;
  int commandTimeout = kDefaultAlertCommandTimeout;  // seconds
};
TqnAlertSettings ReadAlertSettings(const TqnNode& root);

enum class TqnAlertEvent { Failed, Recovered, Stale, Test };
const char* AlertEventWord(TqnAlertEvent event);

// One alert; texts in Windows-1251 as the program holds them.
struct TqnAlert {
  TqnAlertEvent event = TqnAlertEvent::Test;
  std::string host;  // this computer's name
  std::string entry;
  std::string caption;
  std::string path;
  std::string message;
};

// The mail's subject and body, in Russian, UTF-8.
std::string AlertSubject(const TqnAlert& alert);
std::string AlertBody(const TqnAlert& alert);

// What happened to an alert: one line per way it went (mail, command), in
// Windows-1251; ok is false when a configured way failed.
struct TqnAlertReport {
  bool ok = true;
  std::vector<std::string> lines;
};
// Sends by mail when "smtp" / "host" is set and runs the command when set.
// When *stop (if given) becomes true, a running command is ended and a
// mail under way is given up: the run is ending.
TqnAlertReport SendAlert(const TqnAlertSettings& settings, const TqnAlert& alert,
                         const std::atomic<bool>* stop = nullptr);

// Whether "security" is one this program knows; the mail is sent only then.
bool KnownMailSecurity(const std::string& security);

// The mail alone: "" when sent, else why not. Where this build has no mail
// client (Windows), always the reason.
std::string SendAlertMail(const TqnAlertSettings& settings, const std::string& subject, const std::string& body,
                          const std::atomic<bool>* stop = nullptr);

}  // namespace qn
