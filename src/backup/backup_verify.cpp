// The proof of a backup: a restore into a scratch database on the same
// server, an attachment to it, and the record counts compared with the
// backup's. The server's own "verify" switch only makes its output verbose;
// only a restore shows that a backup can be restored.
#include <algorithm>
#include <atomic>
#include <chrono>

#include "backup/backup_names.h"
#include "backup/backup_runner.h"
#include "base/error.h"
#include "base/text.h"
#include "firebird/fb_client.h"
#include "firebird/fb_paths.h"
#include "firebird/fb_statement.h"
#include "platform/files.h"

namespace qn {

namespace {

// The scratch copy needs about the size of the restored database; a
// backup holds no index pages, so twice its size and a margin.
constexpr long long kScratchMargin = 16LL << 20;

// The scratch restore's page cache: a restore with the server's default
// cache spends a third of its time reading back pages it has just written,
// for the records it adds and the indexes it builds. 64 MB at the 4096-byte
// pages of the program's databases, and no more pages than the restored
// database is likely to have (about twice its backup).
constexpr long long kScratchBuffers = 16384;
constexpr long long kDefaultBuffers = 2048;
uint32_t ScratchBuffers(long long backupSize) {
  if (backupSize < 0) return static_cast<uint32_t>(kScratchBuffers);
  return static_cast<uint32_t>(std::clamp(2 * backupSize / 4096, kDefaultBuffers, kScratchBuffers));
}

long long MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// The entry's path with its file part replaced: the scratch database is
// reached on the entry's server the way the entry's database is.
std::string SameServerPath(const std::string& entryPath, const TFbLocation& location, const std::string& file) {
  if (entryPath.size() >= location.filePath.size() &&
      entryPath.compare(entryPath.size() - location.filePath.size(), std::string::npos, location.filePath) == 0)
    return entryPath.substr(0, entryPath.size() - location.filePath.size()) + file;
  return location.host + (location.port ? "/" + std::to_string(location.port) : std::string()) + ":" + file;
}

// A folder as the server names it: ends with a separator.
std::string WithSeparator(const std::string& folder) {
  if (folder.empty() || folder.back() == '/' || folder.back() == '\\') return folder;
  return folder + (folder.find('/') != std::string::npos ? "/" : "\\");
}

// Times the restore's building of the indexes from its output: the server
// reports "creating indexes", then each deferred index it activates; the
// first other line comes once the last one is built.
class TqnIndexTime {
 public:
  void Line(const std::string& line) {
    if (!building_) {
      if (line.find("creating indexes") == std::string::npos) return;
      building_ = true;
      since_ = std::chrono::steady_clock::now();
      return;
    }
    if (line.find("deferred index") == std::string::npos && line.find("committing metadata") == std::string::npos)
      End();
  }
  void End() {
    if (building_) ms_ += MsSince(since_);
    building_ = false;
  }
  long long Ms() const { return ms_; }

 private:
  bool building_ = false;
  std::chrono::steady_clock::time_point since_;
  long long ms_ = 0;
};

}  // namespace

const char* VerifyStateWord(TqnVerifyResult::State state) {
  switch (state) {
    case TqnVerifyResult::State::Verified: return "verified";
    case TqnVerifyResult::State::Failed: return "failed";
    default: return "unverified";
  }
}

int RemoveLeftovers(const std::string& folder, const std::string& prefix) {
  int removed = 0;
  for (const std::string& name : platform::ListFiles(folder)) {
    if (name.rfind(prefix, 0) != 0) continue;
    try {
      platform::DeleteFile(platform::JoinPath(folder, name));
      ++removed;
    } catch (const std::exception&) {
      // Still in use, or not ours to delete: the next start tries again.
    }
  }
  return removed;
}

void TqnBackupRunner::DropScratch(const std::string& connectName, const std::string& localFile) {
  try {
    connection_.SetDatabaseName(connectName);
    connection_.Attach();
    connection_.DropDatabase();
  } catch (const std::exception&) {
    try {
      connection_.Detach();
    } catch (...) {
    }
  }
  // A restore that failed half-way may have left a file the server will
  // not open; on this computer it is deleted directly.
  if (!localFile.empty() && platform::FileExists(localFile)) {
    try {
      platform::DeleteFile(localFile);
    } catch (const std::exception& e) {
      log_.LogMessage(Win1251("Не удалось удалить проверочную копию \"") + localFile + "\": " + e.what());
    }
  }
}

TqnVerifyResult TqnBackupRunner::VerifyBackupHeld(const TqnBackupEntry& entry, const std::string& file,
                                                  const TqnRecordCounts* expected) {
  TqnVerifyResult result;
  const TFbLocation location = ParseDatabasePath(entry.path);
  const bool fb30 = IsFb30Location(location);
  const bool local = IsLocalHost(location.host, options_.localHostName);
  const std::string folder =
      WithSeparator(entry.verifyFolder.empty() ? platform::ExtractFileDir(file) : entry.verifyFolder);
  // A name of its own even when a scratch database of the same second
  // could not be dropped.
  static std::atomic<unsigned> serial{0};
  const std::string scratch = folder + kScratchPrefix + FormatDateTime(kBackupTimeFormat, clock_.Now()) + "-" +
                              std::to_string(++serial) + (fb30 ? ".fd3" : ".fdb");
  long long backupSize = -1;
  if (local) {
    const long long size = backupSize = platform::FileSize(file);
    if (size < 0) {
      result.state = TqnVerifyResult::State::Failed;
      result.reason = Format(Win1251("Файл \"%s\" не найден").c_str(), file.c_str());
      return result;
    }
    const long long free = platform::FreeDiskSpace(folder);
    const long long needed = 2 * size + kScratchMargin;
    if (free >= 0 && free < needed) {
      result.reason = Format(Win1251("Недостаточно места для проверочной копии в \"%s\": свободно %lld МБ, "
                                     "нужно %lld МБ")
                                 .c_str(),
                             folder.c_str(), free >> 20, (needed + (1 << 20) - 1) >> 20);
      return result;
    }
  }
  const std::string connectName = SameServerPath(entry.path, location, scratch);
  TqnRecordCountReader counts;
  TqnIndexTime indexTime;
  const auto start = std::chrono::steady_clock::now();
  try {
    RunService(
        entry,
        [&](bool, bool oldClient) {
          TqnFbRestoreRequest request;
          request.database = ServiceDatabaseName(scratch, oldClient);
          request.backupFile = ServiceBackupFileName(file);
          request.verbose = true;
          // Pages filled whole: the scratch database takes no more rows, so
          // the room kept on each page for later versions of its records
          // would only be more pages to write.
          request.options = fb::isc_spb_res_create | fb::isc_spb_res_use_all_space;
          request.pageBuffers = ScratchBuffers(backupSize);
          return RestoreRequestBlock(request);
        },
        [&](const std::string& line) {
          indexTime.Line(line);
          counts.Feed(line);
          Verbose({}, line, "verify");
        },
        false);
    result.restoreMs = MsSince(start);
    indexTime.End();
    result.indexMs = indexTime.Ms();
    result.restored = counts.Counts();
    const auto check = std::chrono::steady_clock::now();
    connection_.SetDatabaseName(connectName);
    connection_.Attach();
    TqnFbStatement query(connection_);
    query.Execute("SELECT MON$SHUTDOWN_MODE FROM MON$DATABASE");
    if (!query.Fetch() || query.AsInteger(0) != 0)
      throw Exception(Win1251("восстановленная база данных не в рабочем режиме"));
    query.Close();
    connection_.Detach();
    result.checkMs = MsSince(check);
    const std::string difference = expected ? CompareRecordCounts(*expected, result.restored) : std::string();
    if (!difference.empty()) throw Exception(difference);
    result.state = TqnVerifyResult::State::Verified;
  } catch (const std::exception& e) {
    result.state = TqnVerifyResult::State::Failed;
    result.reason = e.what();
    if (!result.restoreMs) result.restoreMs = MsSince(start);
  }
  const auto drop = std::chrono::steady_clock::now();
  DropScratch(connectName, local ? scratch : std::string());
  result.dropMs = MsSince(drop);
  return result;
}

}  // namespace qn
