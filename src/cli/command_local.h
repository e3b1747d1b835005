// The commands that only read what the program keeps: --status (for people
// and monitoring agents), --backups and --test-alert. They run in the
// administrator's own process, whether or not the program runs, reading
// "settings.xml" and the backup folders' catalogues directly (the running
// program saves an entry's state after every backup) -- except where the
// system's service looks after the machine: then the service answers them
// from its own register, through the instance channel.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "cli/command_line.h"
#include "xml/xml_dom.h"

namespace qn {

// The exit code of a local command; nothing for a command that is not one.
std::optional<int> RunLocalCommand(const TqnCommand& command);

bool IsReadingCommand(TqnCommandKind kind);

// What a reading command prints: standard output (Windows-1251 text, or
// UTF-8 JSON for --status --json), standard error, and its exit code.
struct TqnReadingAnswer {
  int code = 0;
  std::string out;
  std::string err;
};
TqnReadingAnswer AnswerReadingCommand(const TqnCommand& command, const TqnNode& root, const DateTime& now);
// One answer as the text of a channel reply, and back; false for a text
// that is not one.
std::string EncodeReadingAnswer(const TqnReadingAnswer& answer);
bool DecodeReadingAnswer(const std::string& text, TqnReadingAnswer& answer);

// --status over a settings tree: the text (Windows-1251), or JSON, a Nagios
// plugin's output or Zabbix's discovery (UTF-8), and the exit code (0 ok,
// 1 stale, 2 failed). In text and JSON the notices come first.
struct TqnStatusReport {
  std::string text;
  int exitCode = 0;
};
TqnStatusReport StatusReport(const TqnNode& root, const DateTime& now, TqnStatusFormat format);
inline TqnStatusReport StatusReport(const TqnNode& root, const DateTime& now, bool json) {
  return StatusReport(root, now, json ? TqnStatusFormat::Json : TqnStatusFormat::Text);
}
// Lines printed before the entries: warnings about the program's own
// settings that monitoring should see.
std::vector<std::string> StatusNotices(const TqnNode& root);

}  // namespace qn
