// The program's logging service: daily log files in the folder "log" beside
// the program, the message pane, and named logs for the verbose output of
// backups. Every write is serialised across threads and processes by a named
// mutex, waited for at most 15 seconds; a writer that cannot get it drops
// its record rather than block the program.
#pragma once

#include <functional>
#include <string>

#include "base/clock.h"
#include "ipc/message_pane.h"

namespace qn {

class TqnLog {
 public:
  static constexpr uint32_t kMutexWaitMs = 15000;
  static constexpr const char* kMainMutexName = "RU.QUORVEN.RAZAD.LOGSYNC";

  // Shows a text in an error box with an OK button (the user interface's).
  using ErrorBox = std::function<void(const std::string& text)>;

  // pane may be null (no pane). The clock must outlive the log.
  TqnLog(std::string programFolder, bool debugFlag, const Clock& clock, TqnMessagePane* pane);

  // Writes with WriteLog unless the level is 2 and the debug flag is clear.
  void LogMessage(const std::string& text, int level = 0);
  // Writes at level 0 and, when show is set, shows the text in an error box.
  void ReportError(const std::string& text, bool show);
  // A record of the main log (and the pane).
  void WriteLog(const std::string& text);
  // A line of the named log "log-<name>-yyyy.mm.dd.txt", unchanged.
  void WriteNamedLog(const std::string& logName, const std::string& text);

  void SetErrorBox(ErrorBox box) { errorBox_ = std::move(box); }
  bool DebugFlag() const { return debugFlag_; }
  std::string LogFolder() const;
  // The mutex that guards the named log of that name.
  static std::string NamedMutexName(const std::string& logName);
  std::string MainLogFileName(const DateTime& t) const;
  std::string NamedLogFileName(const std::string& logName, const DateTime& t) const;

 private:
  std::string programFolder_;
  bool debugFlag_;
  const Clock& clock_;
  TqnMessagePane* pane_;
  ErrorBox errorBox_;
};

}  // namespace qn
