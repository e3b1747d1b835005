#include "cli/command_executor.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "backup/backup_names.h"
#include "backup/destination_restore.h"
#include "backup/destinations.h"
#include "backup/zip_stream.h"
#include "base/error.h"
#include "base/text.h"
#include "cli/command_local.h"
#include "cli/command_record.h"
#include "cli/verbose_tail.h"
#include "firebird/fb_paths.h"
#include "platform/files.h"
#include "settings/backup_state.h"
#include "settings/register.h"
#include "settings/settings_keys.h"

namespace qn {

namespace {

std::string ExtensionOf(const std::string& file) {
  const std::string name = platform::ExtractFileName(file);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : LowerCase(name.substr(dot));
}

// An entry's element name ("db0003") or its number ("3").
// Whether the members a dump restore reads first are all there. The restore
// itself would only show a box, which a command line never sees.
bool DumpArchiveReadable(const std::string& file) {
  try {
    UclsZipArchive archive(file);
    for (const char* member : {"tables.sql", "tables_ord.txt", "ddl.sql", "deactivate.sql", "meta.txt"})
      archive.ReadMember(member);
    archive.Close();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// While a handed-over backup or restore runs, its latest verbose line goes
// to the waiting sender, whose own program folder may be another (the
// service's sender is an administrator's command).
class TqnProgressReporter {
 public:
  TqnProgressReporter(TqnIpcServer* server, const std::string& programFolder) : server_(server), tail_(programFolder) {
    if (server_) thread_ = std::thread([this] { Run(); });
  }
  ~TqnProgressReporter() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::string sent;
    while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) {
      const std::string line = tail_.Latest();
      if (line.empty() || line == sent) continue;
      try {
        server_->ReportProgress(line);
        sent = line;
      } catch (const std::exception&) {
        // a line that does not reach the sender is only a line
      }
    }
  }
  TqnIpcServer* server_;
  TqnVerboseTail tail_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace

TqnCommandExecutor::TqnCommandExecutor(TqnApplication& app, TqnBackupFeature& backup) : app_(app), backup_(backup) {
  app_.SetCommandHandler([this](TqnIpcMessage& message) { HandleMessage(message); });
}

TqnCommandExecutor::~TqnCommandExecutor() { app_.SetCommandHandler(nullptr); }

void TqnCommandExecutor::HandleMessage(TqnIpcMessage& message) {
  const std::string kind = message.Command();
  if (kind == kCommandPageMessage) {
    // Only the stored result is read: a page may come at any time.
    const TqnCommandRequest request = ReadCommandRequest(message);
    for (const TqnKeptAnswer& kept : answers_)
      if (kept.number == request.answerNumber) {
        WriteCommandAnswer(message, kept.status, kept.text, request.offset, kept.number);
        return;
      }
    WriteCommandAnswer(message, kCommandFailed, Win1251("Ответ на команду больше недоступен"), 0);
    return;
  }
  if (kind != kCommandLineMessage) return;
  if (running_ || closed_ || backup_.Runner().OperationOnThisThread()) {
    WriteCommandAnswer(message, kCommandBusy, "", 0);
    return;
  }
  const TqnCommand command = CommandFromOptions(ReadCommandRequest(message).options);
  std::optional<TqnProgressReporter> reporter;
  if (command.kind != TqnCommandKind::List && !IsReadingCommand(command.kind))
    reporter.emplace(app_.ChannelServer(), app_.ProgramFolder());
  const TqnCommandResult result = Execute(command);
  reporter.reset();
  // The whole answer is kept for the pieces that do not fit this record.
  TqnKeptAnswer kept{++lastAnswerNumber_, result.ok ? kCommandDone : kCommandFailed, result.text};
  if (kept.number == 0) kept.number = ++lastAnswerNumber_;
  WriteCommandAnswer(message, kept.status, kept.text, 0, kept.number);
  answers_.push_back(std::move(kept));
  if (answers_.size() > kKeptAnswers) answers_.pop_front();
}

TqnCommandResult TqnCommandExecutor::Execute(const TqnCommand& command) {
  if (!command.error.empty()) return {false, command.error};
  running_ = true;
  TqnCommandResult result;
  try {
    switch (command.kind) {
      case TqnCommandKind::List: result = {true, ListText()}; break;
      case TqnCommandKind::Backup: result = Backup(command); break;
      case TqnCommandKind::Restore: result = Restore(command); break;
      case TqnCommandKind::Verify: result = Verify(command); break;
      case TqnCommandKind::InitDestination: result = InitDestination(command); break;
      case TqnCommandKind::Status:
      case TqnCommandKind::Backups:
      case TqnCommandKind::TestAlert: {
        // The service answers for its own register, as a local run would.
        const DateTime now = app_.GetClock().Now();
        const TqnReadingAnswer answer =
            app_.Settings().Read([&](const TqnNode& root) { return AnswerReadingCommand(command, root, now); });
        result = {true, EncodeReadingAnswer(answer)};
        break;
      }
      default: result = {false, "unknown command"}; break;
    }
  } catch (const std::exception& e) {
    result = {false, e.what()};
  }
  running_ = false;
  if (!result.ok && command.kind != TqnCommandKind::List)
    app_.Log().LogMessage(CommandActivity(command) + ": " + result.text);
  return result;
}

std::string TqnCommandExecutor::ListText() {
  return app_.Settings().Read([](const TqnNode& root) {
    std::string text;
    const TqnNode* data = RegisterOf(root);
    for (int i = 0; i < data->NodeCount(); ++i) {
      const TqnNode* e = data->Nodes(i);
      int number = 0;
      if (!ParseEntryName(e->Name(), number)) continue;
      const TqnNode* backup = e->FindNode("backup");
      text += std::to_string(number) + "\t" + e->Name() + "\t" + e->FindNode("caption")->Content().AsString("") + "\t" +
              e->FindNode("path")->Content().AsString("") + "\t" + backup->FindNode("path")->Content().AsString("") +
              "\t" + (backup->FindNode("auto")->Content().AsBoolean(false) ? "on" : "off") + "\n";
    }
    return text;
  });
}

TqnCommandResult TqnCommandExecutor::Backup(const TqnCommand& command) {
  backup_.EnsureIdentity();
  const int number = EntryNumber(command.key);
  const TqnBackupEntry entry =
      app_.Settings().Read([&](const TqnNode& root) { return ReadBackupEntry(*FindEntry(root, number)); });
  const std::string file = !command.file.empty() ? command.file
                                                 : BackupFileName(entry.backupFolder, kManualBackupPrefix,
                                                                  app_.GetClock().Now(), IsFb30Database(entry.path));
  app_.Log().LogMessage(Win1251("Архивация базы данных \"") + entry.path + Win1251("\", в файл \"") + file + "\"");
  const TqnBackupOutcome outcome = backup_.Keeper().Make(entry, file);
  std::string text = Win1251("Архивация базы данных ") + entry.name + Win1251(" завершена, файл \"") + file + "\"";
  switch (outcome.verify.state) {
    case TqnVerifyResult::State::Verified:
      text += Format(Win1251("; проверена восстановлением за %lld мс").c_str(), outcome.verify.restoreMs);
      break;
    case TqnVerifyResult::State::Unverified: text += Win1251("; не проверена: ") + outcome.verify.reason; break;
    case TqnVerifyResult::State::Failed:
      text += Win1251("; не прошла проверку и не сохранена: ") + outcome.verify.reason;
      break;
  }
  if (!outcome.catalogueError.empty()) text += "; " + outcome.catalogueError;
  bool copyFailed = false;
  if (outcome.Proven()) text += CopiesOutcome(entry, file, copyFailed);
  return {outcome.State() != "failed" && !copyFailed, text};
}

std::string TqnCommandExecutor::CopiesOutcome(const TqnBackupEntry& entry, const std::string& file, bool& failed) {
  if (entry.copyTo.empty()) return {};
  if (!app_.CommandInstance()) {
    std::string names;
    for (const std::string& name : entry.copyTo) names += (names.empty() ? "" : ", ") + name;
    return Win1251("; копии в очереди: ") + names;
  }
  // This instance ends with the command: it answers after its copies.
  backup_.WaitForCopies(24 * 3600 * 1000);
  std::string text;
  app_.Settings().Read([&](const TqnNode& root) {
    const TqnNode* node = RegisterOf(root)->FindNode(entry.name);
    for (const std::string& name : entry.copyTo) {
      const TqnCopyState state = ReadCopyState(*node, name);
      if (state.state == "copied" && state.file == file) {
        text += Format(Win1251("; копия в \"%s\" сделана и проверена").c_str(), name.c_str());
      } else {
        failed = true;
        text += Format(Win1251("; копия в \"%s\" не сделана: %s").c_str(), name.c_str(),
                       state.file == file ? state.message.c_str() : Win1251("нет результата").c_str());
      }
    }
    return 0;
  });
  return text;
}

TqnCommandResult TqnCommandExecutor::InitDestination(const TqnCommand& command) {
  return {true, backup_.PrepareDestination(command.key)};
}

TqnCommandResult TqnCommandExecutor::Verify(const TqnCommand& command) {
  backup_.EnsureIdentity();
  const int number = EntryNumber(command.key);
  const TqnBackupEntry entry =
      app_.Settings().Read([&](const TqnNode& root) { return ReadBackupEntry(*FindEntry(root, number)); });
  std::string file = command.file;
  std::string destinationName, object;
  std::optional<TqnDestination> destination;
  if (SplitDestinationFile(command.file, destinationName, object))
    destination = app_.Settings().Read([&](const TqnNode& root) { return FindDestination(root, destinationName); });
  TqnVerifyResult result;
  if (destination) {
    const TqnDownloadedCopy copy = DownloadCopy(entry, *destination, object, true);
    result = backup_.Keeper().VerifyCopy(entry, copy.file, copy.line);
    try {
      platform::DeleteFile(copy.file);  // a name of the program's own, this command's download
    } catch (const std::exception&) {
      // swept at the next start
    }
  } else {
    result = backup_.Keeper().VerifyFile(entry, file);
  }
  if (result.state == TqnVerifyResult::State::Verified)
    return {true, Format(Win1251("Резервная копия \"%s\" проверена: восстановлена за %lld мс").c_str(), file.c_str(),
                         result.restoreMs)};
  return {false, Win1251("Резервная копия \"") + file + Win1251("\" не проверена: ") + result.reason};
}

TqnCommandResult TqnCommandExecutor::Restore(const TqnCommand& command) {
  backup_.EnsureIdentity();
  const int number = EntryNumber(command.key);
  const TqnBackupEntry entry =
      app_.Settings().Read([&](const TqnNode& root) { return ReadBackupEntry(*FindEntry(root, number)); });
  std::string destinationName, object, from = command.file;
  std::optional<TqnDestination> destination;
  if (SplitDestinationFile(command.file, destinationName, object))
    destination = app_.Settings().Read([&](const TqnNode& root) { return FindDestination(root, destinationName); });
  if (destination) {
    from = backup_.DownloadForRestore(entry, *destination, object);
  }
  const bool dump = ExtensionOf(from) == ".pbz";
  if (dump && !DumpArchiveReadable(from)) return {false, Win1251("Формат резервной копии не поддерживается")};
  // The restore moves the current file aside before the server reads the
  // backup: a file that is not there must not cost the database its place.
  if (!dump && IsLocalHost(ParseDatabasePath(entry.path).host, app_.LocalHostName()) && !platform::FileExists(from))
    return {false, Format(Win1251("Файл \"%s\" не найден").c_str(), from.c_str())};
  if (command.fixCharset && !dump && IsFb30Database(entry.path))
    return {false, Win1251("Конвертация версии 1.5 для 2.5 возможна только для базы данных сервера версии 2.5")};
  app_.Log().LogMessage(Win1251("Разархивация базы данных \"") + entry.path + Win1251("\", из файла \"") + from + "\"");
  backup_.Runner().RestoreDatabase(entry, from, command.fixCharset && !dump);
  const std::string path = app_.Settings().Read(
      [&](const TqnNode& root) { return FindEntry(root, number)->FindNode("path")->Content().AsString(""); });
  return {true, Win1251("Разархивация базы данных ") + entry.name + Win1251(" завершена, путь \"") + path + "\""};
}

}  // namespace qn
