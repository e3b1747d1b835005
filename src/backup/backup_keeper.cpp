#include "backup/backup_keeper.h"

#include <algorithm>
#include <chrono>

#include "backup/backup_names.h"
#include "base/error.h"
#include "base/sha256.h"
#include "base/text.h"
#include "firebird/fb_paths.h"
#include "platform/files.h"

namespace qn {

namespace {

constexpr const char* kStampFormat = "yyyy-mm-dd hh:nn:ss";
// Room kept beyond the last backup's size: a database grows between backups.
constexpr long long kFreeSpaceMargin = 1LL << 20;

long long Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

std::string FolderOf(const std::string& file) { return NormalizeBackupFolder(platform::ExtractFileDir(file)); }

// A file of the catalogue's folder is named without it; others in full.
std::string CatalogueName(const std::string& folder, const std::string& file) {
  return FolderOf(file) == folder ? platform::ExtractFileName(file) : file;
}

}  // namespace

std::string TqnBackupOutcome::State() const {
  if (!made || verify.state == TqnVerifyResult::State::Failed) return "failed";
  return VerifyStateWord(verify.state);
}

std::string FileSha256(const std::string& file) {
  TqnSha256 hash;
  platform::ReadFileChunks(file, [&](const char* data, size_t size) { hash.Update(data, size); });
  return hash.HexDigest();
}

TqnBackupKeeper::TqnBackupKeeper(TqnBackupRunner& runner, TqnLog& log, const Clock& clock, std::string localHostName)
    : runner_(runner), log_(log), clock_(clock), localHostName_(std::move(localHostName)) {}

std::string TqnBackupKeeper::CatalogueFolder(const TqnBackupEntry& entry, const std::string& file) {
  const std::string folder = NormalizeBackupFolder(entry.backupFolder);
  if (IsUsableBackupFolder(folder) && platform::DirectoryExists(folder)) return folder;
  return FolderOf(file);
}

bool TqnBackupKeeper::Local(const TqnBackupEntry& entry) const {
  try {
    return IsLocalHost(ParseDatabasePath(entry.path).host, localHostName_);
  } catch (const std::exception&) {
    return false;
  }
}

void TqnBackupKeeper::CheckFreeSpace(const TqnBackupEntry& entry, const std::string& file, const std::string& folder) {
  long long needed = -1;
  const std::vector<TqnCatalogueRecord> records = ReadCatalogue(folder);
  for (auto it = records.rbegin(); it != records.rend() && needed < 0; ++it)
    if (it->entry == entry.name && it->outcome == "ok" && it->size >= 0) needed = it->size;
  if (needed < 0) needed = platform::FileSize(ParseDatabasePath(entry.path).filePath);
  if (needed < 0) return;  // nothing to go by
  needed += needed / 10 + kFreeSpaceMargin;
  const std::string target = platform::ExtractFileDir(file);
  const long long free = platform::FreeDiskSpace(target);
  if (free >= 0 && free < needed)
    throw Exception(Format(Win1251("Недостаточно места для резервной копии в \"%s\": свободно %lld байт, "
                                   "нужно не менее %lld байт").c_str(),
                           target.c_str(), free, needed));
}

void TqnBackupKeeper::Record(const std::string& folder, const TqnCatalogueRecord& record) {
  try {
    std::vector<TqnCatalogueRecord> records = ReadCatalogue(folder);
    records.push_back(record);
    WriteCatalogue(folder, records);
  } catch (const std::exception& e) {
    log_.LogMessage(Win1251("Не удалось записать каталог резервных копий в \"") + folder + "\": " + e.what());
  }
}

TqnBackupOutcome TqnBackupKeeper::Make(const TqnBackupEntry& entry, const std::string& file, TqnBackupJob job) {
  TqnOperationLock::Hold operation(runner_.OperationLock());
  const std::string folder = CatalogueFolder(entry, file);
  const bool local = Local(entry);
  TqnBackupOutcome outcome;
  outcome.entry = entry.name;
  outcome.file = file;
  TqnCatalogueRecord record;
  record.file = CatalogueName(folder, file);
  record.entry = entry.name;
  record.start = FormatDateTime(kStampFormat, clock_.Now());
  const auto start = std::chrono::steady_clock::now();
  bool begun = false;
  TqnRecordCountReader counts;
  try {
    if (local) CheckFreeSpace(entry, file, folder);
    job.counts = &counts;
    begun = true;
    runner_.BackupDatabaseHeld(entry, file, job);
  } catch (const std::exception& e) {
    record.durationMs = Since(start);
    record.outcome = "failed";
    record.verification = "unverified";
    record.message = e.what();
    // A half-written file is no backup; with pruning on it goes at once.
    if (begun && entry.prune && local && platform::FileExists(file)) {
      try {
        platform::DeleteFile(file);
      } catch (const std::exception&) {
      }
    }
    Record(folder, record);
    outcome.message = e.what();
    outcome.time = FormatDateTime(kStampFormat, clock_.Now());
    if (observer_) observer_(outcome);
    throw;
  }
  record.durationMs = Since(start);
  record.outcome = "ok";
  record.counts = FormatRecordCounts(counts.Counts());
  outcome.made = true;
  if (local && platform::FileExists(file)) {
    record.size = platform::FileSize(file);
    try {
      record.sha256 = FileSha256(file);
    } catch (const std::exception&) {
    }
  }
  if (entry.verify) {
    outcome.verify = runner_.VerifyBackupHeld(entry, file, &counts.Counts());
  } else {
    outcome.verify.reason = Win1251("проверка восстановлением отключена");
  }
  record.verification = VerifyStateWord(outcome.verify.state);
  record.restoreMs = outcome.verify.restoreMs;
  record.message = outcome.verify.reason;
  outcome.message = outcome.verify.reason;
  Record(folder, record);
  if (outcome.verify.state == TqnVerifyResult::State::Verified)
    log_.LogMessage(Format(Win1251("Резервная копия \"%s\" проверена: восстановлена за %lld мс").c_str(),
                           file.c_str(), outcome.verify.restoreMs));
  else
    log_.LogMessage(Win1251("Резервная копия \"") + file +
                    (outcome.verify.state == TqnVerifyResult::State::Failed ? Win1251("\" не прошла проверку: ")
                                                                            : Win1251("\" не проверена: ")) +
                    outcome.verify.reason);
  // Only a run that proved its backup may thin out the older ones.
  if (entry.prune && outcome.verify.state == TqnVerifyResult::State::Verified) Prune(entry, folder);
  outcome.time = FormatDateTime(kStampFormat, clock_.Now());
  if (observer_) observer_(outcome);
  return outcome;
}

void TqnBackupKeeper::Prune(const TqnBackupEntry& entry, const std::string& folder) {
  std::vector<TqnCatalogueRecord> records = ReadCatalogue(folder);
  // The program's own backups of the entry, in the folder, still there;
  // the catalogue is in the order they were made.
  std::vector<size_t> own;
  size_t newestVerified = records.size();
  for (size_t i = 0; i < records.size(); ++i) {
    const TqnCatalogueRecord& r = records[i];
    if (r.entry != entry.name || r.outcome != "ok" || CatalogueFilePath(folder, r) != folder + r.file ||
        !platform::FileExists(folder + r.file))
      continue;
    own.push_back(i);
    if (r.verification == "verified") newestVerified = i;
  }
  const size_t keep = static_cast<size_t>(std::max(entry.rest, 1));
  if (own.size() <= keep) return;
  std::vector<size_t> removed;
  for (size_t k = 0; k + keep < own.size(); ++k) {
    const size_t i = own[k];
    if (i == newestVerified) continue;
    try {
      platform::DeleteFile(folder + records[i].file);
      removed.push_back(i);
      log_.LogMessage(Win1251("Удалена старая резервная копия \"") + folder + records[i].file + "\"");
    } catch (const std::exception& e) {
      log_.LogMessage(Win1251("Не удалось удалить старую резервную копию \"") + folder + records[i].file + "\": " +
                      e.what());
    }
  }
  for (auto it = removed.rbegin(); it != removed.rend(); ++it) records.erase(records.begin() + *it);
  if (!removed.empty()) {
    try {
      WriteCatalogue(folder, records);
    } catch (const std::exception& e) {
      log_.LogMessage(Win1251("Не удалось записать каталог резервных копий в \"") + folder + "\": " + e.what());
    }
  }
}

TqnVerifyResult TqnBackupKeeper::VerifyFile(const TqnBackupEntry& entry, std::string& file) {
  TqnOperationLock::Hold operation(runner_.OperationLock());
  const std::string folder = NormalizeBackupFolder(entry.backupFolder);
  const std::vector<TqnCatalogueRecord> records = ReadCatalogue(folder);
  std::vector<TqnCatalogueRecord> beside;  // the catalogue beside a file kept elsewhere
  const TqnCatalogueRecord* listed = nullptr;
  if (file.empty()) {
    for (auto it = records.rbegin(); it != records.rend() && !listed; ++it)
      if (it->entry == entry.name && it->outcome == "ok") listed = &*it;
    if (!listed) {
      TqnVerifyResult none;
      none.state = TqnVerifyResult::State::Failed;
      none.reason = Format(Win1251("В каталоге \"%s\" нет резервных копий базы данных %s").c_str(), folder.c_str(),
                           entry.name.c_str());
      return none;
    }
    file = CatalogueFilePath(folder, *listed);
  } else {
    listed = FindCatalogued(records, folder, file);
    if (!listed && FolderOf(file) != folder) {
      beside = ReadCatalogue(FolderOf(file));
      listed = FindCatalogued(beside, FolderOf(file), file);
    }
  }
  TqnRecordCounts expected;
  if (listed) {
    expected = ParseRecordCounts(listed->counts);
    if (!listed->sha256.empty() && Local(entry)) {
      std::string actual;
      try {
        actual = FileSha256(file);
      } catch (const std::exception& e) {
        TqnVerifyResult bad;
        bad.state = TqnVerifyResult::State::Failed;
        bad.reason = e.what();
        return bad;
      }
      if (actual != listed->sha256) {
        TqnVerifyResult bad;
        bad.state = TqnVerifyResult::State::Failed;
        bad.reason = Format(Win1251("Файл \"%s\" изменён после архивации: SHA-256 %s, в каталоге %s").c_str(),
                            file.c_str(), actual.c_str(), listed->sha256.c_str());
        return bad;
      }
    }
  }
  return runner_.VerifyBackupHeld(entry, file, listed ? &expected : nullptr);
}

}  // namespace qn
