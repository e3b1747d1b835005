// Runs an administrator's command in the instance that owns the register:
// on its main thread, through the backup feature's runner and so under its
// one-operation-at-a-time lock, with the register and settings of the run.
//
// The same executor serves the command of a short-lived instance started
// for one command and the commands that other processes hand over through
// the instance channel (see command_record.h). A command that arrives while
// an operation runs on the main thread (the channel is served from the
// operation's progress steps) is answered "command-busy", and its sender
// tries again: commands are carried out one after the other.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "app/application.h"
#include "backup/backup_feature.h"
#include "cli/command_line.h"
#include "ipc/channel.h"

namespace qn {

struct TqnCommandResult {
  bool ok = false;
  std::string text;  // the result, or the failure's message (Windows-1251)
};

class TqnCommandExecutor {
 public:
  // Takes the run's channel commands other than "activate".
  TqnCommandExecutor(TqnApplication& app, TqnBackupFeature& backup);
  ~TqnCommandExecutor();
  TqnCommandExecutor(const TqnCommandExecutor&) = delete;
  TqnCommandExecutor& operator=(const TqnCommandExecutor&) = delete;

  // Main thread. Failures come back as the result, never thrown.
  TqnCommandResult Execute(const TqnCommand& command);
  // From now on handed-over commands are answered "command-busy": the run
  // is ending, and their senders will find it gone.
  void Close() { closed_ = true; }

  // The register as --list prints it: per entry its number, key, caption,
  // path, backup folder and "on" or "off", separated by tabs.
  std::string ListText();

 private:
  void HandleMessage(TqnIpcMessage& message);
  TqnCommandResult Backup(const TqnCommand& command);
  TqnCommandResult Restore(const TqnCommand& command);
  TqnCommandResult Verify(const TqnCommand& command);
  TqnCommandResult InitDestination(const TqnCommand& command);
  // The copies of a command-line backup: waited for in a short-lived
  // instance, left to the queue in a running program.
  std::string CopiesOutcome(const TqnBackupEntry& entry, const std::string& file, bool& failed);

  struct TqnKeptAnswer {
    uint32_t number;
    std::string status;
    std::string text;
  };
  // Answers of the latest commands, for senders that page through them.
  static constexpr size_t kKeptAnswers = 8;

  TqnApplication& app_;
  TqnBackupFeature& backup_;
  std::deque<TqnKeptAnswer> answers_;
  uint32_t lastAnswerNumber_ = 0;
  bool running_ = false;
  bool closed_ = false;
};

}  // namespace qn
