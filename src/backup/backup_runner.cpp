#include "backup/backup_runner.h"

#include <algorithm>

#include <chrono>

#include "backup/backup_names.h"
#include "backup/dump_restore.h"
#include "backup/service_verdict.h"
#include "base/error.h"
#include "base/text.h"
#include "firebird/fb_attachments.h"
#include "firebird/fb_client.h"
#include "firebird/fb_paths.h"
#include "infoserver/info_packet.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "settings/settings_keys.h"

namespace qn {

namespace {

constexpr const char* kConversionCharacterSet = "WIN1251";

std::string TrimTrailing(const std::string& line) {
  size_t end = line.size();
  while (end > 0 && static_cast<unsigned char>(line[end - 1]) <= 32) --end;
  return line.substr(0, end);
}

// The extension of a file name with its dot, "" when it has none.
std::string ExtensionOf(const std::string& fileName) {
  size_t dot = fileName.rfind('.');
  return dot == std::string::npos ? std::string() : fileName.substr(dot);
}

void SendProgressDatagram(const std::string& address, const std::string& packet, uint16_t port) {
  auto socket = platform::UdpSocket::Open(false);
  socket->SendTo(packet, address, port);
}

}  // namespace

TqnBackupEntry ReadBackupEntry(const TqnNode& entry) {
  using namespace keys;
  TqnBackupEntry e;
  e.name = entry.Name();
  e.path = ReadText(entry, kPath);
  e.user = ReadText(entry, kUser);
  e.password = ReadText(entry, kPassword);
  e.backupFolder = ReadText(entry, kBackupPath);
  e.verify = ReadBoolean(entry, kVerify);
  e.verifyFolder = ReadText(entry, kVerifyPath);
  e.prune = ReadBoolean(entry, kPrune);
  e.rest = ReadInteger(entry, kRest);
  e.keepDaily = ReadInteger(entry, kKeepDaily);
  e.keepWeekly = ReadInteger(entry, kKeepWeekly);
  e.keepMonthly = ReadInteger(entry, kKeepMonthly);
  e.keepRequested = ReadInteger(entry, kKeepRequested);
  e.id = ReadText(entry, kUid);
  e.copyTo = CopyToNames(entry);
  return e;
}

std::string BackupProgressPayload(int32_t requestNumber) {
  return "database-backup-info " + HexUpper(static_cast<uint32_t>(requestNumber), 8) + " progress";
}

TqnBackupRunner::TqnBackupRunner(TqnFbConnection& connection, TqnLog& log, IqnUserInterface* ui, const Clock& clock,
                                 TqnBackupRunnerOptions options)
    : connection_(connection),
      log_(log),
      ui_(ui),
      clock_(clock),
      options_(std::move(options)),
      uiThread_(std::this_thread::get_id()),
      ownLock_(ui),
      progressNow_([] { return std::chrono::steady_clock::now(); }),
      loadProgress_(
          kLoadProgressInterval, [this] { StepProgress(); }, [this] { return progressNow_(); }) {
  sender_ = [this](const std::string& address, const std::string& payload, int32_t senderNumber) {
    SendProgressDatagram(address, EncodePacket(payload, options_.packetKey, senderNumber), options_.replyPort);
  };
}

void TqnBackupRunner::PrepareMainConnection(const TqnBackupEntry& entry) {
  try {
    connection_.Detach();
  } catch (...) {
    // Counts as detached all the same.
  }
  connection_.UnloadLibrary();
  connection_.SetDatabaseName(entry.path);
  connection_.SetUserName(entry.user);
  connection_.SetPassword(entry.password);
  connection_.SetLibraryName(SelectClientLibrary(platform::ExecutableFolder(), IsFb30Database(entry.path)));
}

void TqnBackupRunner::RunService(const TqnBackupEntry& entry,
                                 const std::function<std::string(bool fb30, bool oldClient)>& request,
                                 const TqnServiceLineHandler& onLine, bool moveAside) {
  const TFbLocation location = ParseDatabasePath(entry.path);
  if (location.host.empty()) {
    static const std::string message = Win1251("Неправильный путь к базе данных \"%s\"");
    throw Exception(Format(message.c_str(), entry.path.c_str()));
  }
  const bool ui = ui_ && OnUiThread();
  if (ui) ui_->SetBusy(true);
  verboseLineCount_ = 0;
  try {
    PrepareMainConnection(entry);
    const bool fb30 = IsFb30Location(location);
    TqnFbServices services(connection_.Client());
    const bool oldClient = fb30 && !ClientVersionAtLeast(*connection_.Client(), 3, 0, 3, 0);
    const std::string host = fb30 ? Win1251ToUtf8(location.host) : location.host;
    lastRequest_ = request(fb30, oldClient);
    // The login is tried before anything is moved: a wrong password or an
    // unreachable server must not leave the entry without its database.
    services.Attach(host, location.port, connection_.UserName(), connection_.Password());
    if (moveAside) MoveAsideCurrentFile(entry.path);
    services.Start(lastRequest_);
    services.ReadLines(onLine);
    services.Detach();
  } catch (...) {
    try {
      connection_.Detach();
    } catch (...) {
    }
    if (ui) ui_->SetBusy(false);
    throw;
  }
  try {
    connection_.Detach();
  } catch (...) {
  }
  if (ui) ui_->SetBusy(false);
}

void TqnBackupRunner::BackupDatabase(const TqnBackupEntry& entry, const std::string& fileName,
                                     const TqnBackupJob& job) {
  TqnOperationLock::Hold operation(*lock_);
  BackupDatabaseHeld(entry, fileName, job);
}

void TqnBackupRunner::BackupDatabaseHeld(const TqnBackupEntry& entry, const std::string& fileName,
                                         const TqnBackupJob& job) {
  const TFbLocation location = ParseDatabasePath(entry.path);
  RunService(
      entry,
      [&](bool, bool oldClient) {
        TqnFbBackupRequest request;
        request.database = ServiceDatabaseName(location.filePath, oldClient);
        request.backupFile = ServiceBackupFileName(fileName);
        request.verbose = true;
        request.options = fb::isc_spb_bkp_no_garbage_collect;
        return BackupRequestBlock(request);
      },
      [&](const std::string& line) {
        if (job.counts) job.counts->Feed(line);
        if (job.remote)
          OnRemoteBackupVerbose(job, line);
        else
          OnBackupVerbose(job, line);
      },
      false);
}

void TqnBackupRunner::RestoreDatabase(const TqnBackupEntry& entry, const std::string& file, bool conversionMode) {
  TqnOperationLock::Hold operation(*lock_);
  if (LowerCase(ExtensionOf(platform::ExtractFileName(file))) == ".pbz") {
    const bool ui = ui_ && OnUiThread();
    TqnDumpRestoreContext context(connection_);
    context.ui = ui ? ui_ : nullptr;
    context.clock = &clock_;
    context.programFolder = options_.programFolder;
    context.localHostName = options_.localHostName;
    context.hooks = dumpHooks_;
    context.prepareConnection = [this](const TqnBackupEntry& e) { PrepareMainConnection(e); };
    context.moveAside = [this](const std::string& path) { MoveAsideCurrentFile(path); };
    context.progressStep = [this] { StepProgress(); };
    context.paneLine = [this](const std::string& line) { log_.LogMessage(line); };
    context.loadProgress = &loadProgress_;
    context.now = [this] { return progressNow_(); };
    RestoreLogicalDump(context, entry, file);
    return;
  }
  const TFbLocation location = ParseDatabasePath(entry.path);
  RunService(
      entry,
      [&](bool, bool oldClient) {
        TqnFbRestoreRequest request;
        request.database = ServiceDatabaseName(location.filePath, oldClient);
        request.backupFile = ServiceBackupFileName(file);
        request.verbose = true;
        request.options = fb::isc_spb_res_create;
        if (conversionMode) request.fixFssMetadata = kConversionCharacterSet;
        return RestoreRequestBlock(request);
      },
      [&](const std::string& line) { OnBackupVerbose({}, line); }, true);
}

void TqnBackupRunner::SetProgressClock(TqnProgressThrottle::NowFunction now) { progressNow_ = std::move(now); }

void TqnBackupRunner::StepProgress() {
  ++progressSteps_;
  if (ui_ && OnUiThread()) ui_->ProcessEvents();
}

void TqnBackupRunner::AutoBackupEntry(const TqnBackupEntry& entry) { BackupDatabase(entry, PrepareAutoBackup(entry)); }

std::string TqnBackupRunner::PrepareAutoBackup(const TqnBackupEntry& entry) {
  const bool fb30 = IsFb30Database(entry.path);
  const std::string folder = NormalizeBackupFolder(entry.backupFolder);
  if (!IsUsableBackupFolder(folder)) {
    static const std::string message = Win1251("Путь для резервных копий \"%s\" не доступен");
    throw Exception(Format(message.c_str(), folder.c_str()));
  }
  const std::string fileName = BackupFileName(folder, kAutoBackupPrefix, clock_.Now(), fb30);
  log_.LogMessage(Win1251("Автоматическая архивация базы данных \"") + entry.path + Win1251("\", в файл \"") +
                  fileName + "\"");
  return fileName;
}

void TqnBackupRunner::MoveAsideCurrentFile(const std::string& entryPath) {
  const TFbLocation location = ParseDatabasePath(entryPath);
  if (!IsLocalHost(location.host, options_.localHostName) || !platform::FileExists(location.filePath)) return;
  const std::string folder = platform::JoinPath(platform::ExtractFileDir(location.filePath), "prev");
  const std::string name = platform::ExtractFileName(location.filePath);
  const std::string extension = ExtensionOf(name);
  const std::string target =
      platform::JoinPath(folder, name.substr(0, name.size() - extension.size()) + "-" +
                                     FormatDateTime(kBackupTimeFormat, clock_.Now()) + extension);
  static const std::string moveMessage = Win1251("Невозможно переместить файл \"%s\" в \"%s\"");
  // A file in use is never moved: the server and the workstations would go
  // on writing into the moved file (a rename does not stop them here), and
  // their work would be missing from the restored database.
  connection_.SetDatabaseName(entryPath);
  if (OtherAttachments(connection_) == TqnAttachmentCount::Others)
    throw Exception(Format(moveMessage.c_str(), location.filePath.c_str(), target.c_str()));
  try {
    platform::ForceDirectories(folder);
  } catch (const std::exception&) {
    static const std::string message = Win1251("Невозможно создать каталог \"%s\"");
    throw Exception(Format(message.c_str(), folder.c_str()));
  }
  try {
    platform::MoveFile(location.filePath, target);
  } catch (const std::exception&) {
    throw Exception(Format(moveMessage.c_str(), location.filePath.c_str(), target.c_str()));
  }
}

void TqnBackupRunner::OnBackupVerbose(const TqnBackupJob& job, const std::string& line) {
  Verbose(job, line, "backup");
}

void TqnBackupRunner::OnRemoteBackupVerbose(const TqnBackupJob& job, const std::string& line) {
  Verbose(job, line, "remotebackup");
}

void TqnBackupRunner::Verbose(const TqnBackupJob& job, const std::string& line, const char* logName) {
  log_.WriteNamedLog(logName, line);
  if (IsServiceFailureLine(line)) throw Exception(TrimTrailing(line));
  if (++verboseLineCount_ <= 10) return;
  verboseLineCount_ = 0;
  ++progressSteps_;
  // Only requests that came by UDP are told how the backup goes.
  if (job.remote && job.requestNumber > 0 && !job.requesterAddress.empty() && sender_)
    sender_(job.requesterAddress, BackupProgressPayload(job.requestNumber), job.senderNumber);
  if (ui_ && OnUiThread()) ui_->ProcessEvents();
}

}  // namespace qn
