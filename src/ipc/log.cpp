#include "ipc/log.h"

#include <memory>

#include "base/error.h"
#include "base/sha1.h"
#include "platform/files.h"
#include "platform/named_objects.h"

namespace qn {

namespace {

constexpr const char* kFileTimeFormat = "yyyy.mm.dd hh.nn.ss";
constexpr const char* kPaneTimeFormat = "yyyy.dd.mm hh.nn.ss: ";

// Holds a log mutex for the duration of one record. An abandoned mutex is
// not taken as obtained: its record is dropped, but the ownership that the
// wait handed over is given back so that later writers are not shut out.
class LogLock {
 public:
  explicit LogLock(const std::string& name) {
    try {
      mutex_ = platform::NamedMutex::Create(name, false);
    } catch (const Exception&) {
      return;
    }
    platform::WaitResult r = mutex_->Wait(TqnLog::kMutexWaitMs);
    if (r == platform::WaitResult::Abandoned) mutex_->Release();
    held_ = r == platform::WaitResult::Signaled;
  }
  ~LogLock() {
    if (held_) mutex_->Release();
  }
  LogLock(const LogLock&) = delete;
  LogLock& operator=(const LogLock&) = delete;
  bool Held() const { return held_; }

 private:
  std::unique_ptr<platform::NamedMutex> mutex_;
  bool held_ = false;
};

// Opens the file in the log folder, or the file of the same name in the
// temporary folder; fellBack tells which.
std::unique_ptr<platform::AppendFile> OpenLogFile(const std::string& folder, const std::string& name, bool& fellBack) {
  fellBack = false;
  try {
    platform::ForceDirectories(folder);
  } catch (const Exception&) {
  }
  auto file = platform::AppendFile::Open(platform::JoinPath(folder, name));
  if (file) return file;
  fellBack = true;
  // Other users write in the temporary folder too: never through their link.
  return platform::AppendFile::Open(platform::TempFolder() + name, true);
}

}  // namespace

TqnLog::TqnLog(std::string programFolder, bool debugFlag, const Clock& clock, TqnMessagePane* pane)
    : programFolder_(std::move(programFolder)), debugFlag_(debugFlag), clock_(clock), pane_(pane) {}

std::string TqnLog::LogFolder() const { return platform::JoinPath(programFolder_, "log"); }

std::string TqnLog::NamedMutexName(const std::string& logName) {
  return std::string(kMainMutexName) + "." + Sha1Hex(logName).substr(0, 8);
}

std::string TqnLog::MainLogFileName(const DateTime& t) const {
  return "log-" + FormatDateTime("yyyy.mm.dd", t) + ".txt";
}

std::string TqnLog::NamedLogFileName(const std::string& logName, const DateTime& t) const {
  return "log-" + logName + "-" + FormatDateTime("yyyy.mm.dd", t) + ".txt";
}

void TqnLog::LogMessage(const std::string& text, int level) {
  if (level != 2 || debugFlag_) WriteLog(text);
}

void TqnLog::ReportError(const std::string& text, bool show) {
  LogMessage(text, 0);
  if (show && errorBox_) errorBox_(text);
}

void TqnLog::WriteLog(const std::string& text) {
  const DateTime t = clock_.Now();
  LogLock lock(kMainMutexName);
  if (!lock.Held()) return;
  if (pane_) pane_->AddRecord(FormatDateTime(kPaneTimeFormat, t) + text);
  bool fellBack = false;
  auto file = OpenLogFile(LogFolder(), MainLogFileName(t), fellBack);
  if (!file) return;
  std::string clean = text;
  for (char& c : clean)
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  const std::string stamp = FormatDateTime(kFileTimeFormat, t);
  std::string record;
  if (fellBack) record += "\r\n" + stamp + " can not create local error log file\r\n";
  record += "\r\n" + stamp + " " + clean + "\r\n";
  file->Append(record);
}

void TqnLog::WriteNamedLog(const std::string& logName, const std::string& text) {
  const DateTime t = clock_.Now();
  LogLock lock(NamedMutexName(logName));
  if (!lock.Held()) return;
  bool fellBack = false;
  auto file = OpenLogFile(LogFolder(), NamedLogFileName(logName, t), fellBack);
  if (!file) return;
  file->Append(text + "\r\n");
}

}  // namespace qn
