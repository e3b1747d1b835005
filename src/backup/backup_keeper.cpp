#include "backup/backup_keeper.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <ctime>
#include <set>
#include <thread>

#include "app/folder_check.h"
#include "backup/backup_names.h"
#include "backup/retention.h"
#include "base/error.h"
#include "base/sha256.h"
#include "base/text.h"
#include "firebird/fb_paths.h"
#include "platform/files.h"
#include "storage/folder_storage.h"

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
  if (!made || verify.state == TqnVerifyResult::State::Failed || !catalogueError.empty()) return "failed";
  return VerifyStateWord(verify.state);
}

bool TqnBackupOutcome::Proven() const {
  const std::string state = State();
  return state == "verified" || (state == "unverified" && verifyDisabled);
}

std::string FileSha256(const std::string& file) {
  TqnSha256 hash;
  platform::ReadFileChunks(file, [&](const char* data, size_t size) { hash.Update(data, size); });
  return hash.HexDigest();
}

storage::FolderStorage EntryBackupFolder(const std::string& folder, const std::string& entryId) {
  // What a killed write leaves under this prefix is swept at the next start.
  return storage::FolderStorage(folder, std::string(kPartialPrefix) + entryId + "-");
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
  const std::vector<TqnCatalogueRecord> records = ReadCatalogueForLooking(folder);
  for (auto it = records.rbegin(); it != records.rend() && needed < 0; ++it)
    if (RecordOfEntry(*it, entry.name, entry.id) && it->outcome == "ok" && it->size >= 0) needed = it->size;
  if (needed < 0) needed = platform::FileSize(ParseDatabasePath(entry.path).filePath);
  if (needed < 0) return;  // nothing to go by
  needed += needed / 10 + kFreeSpaceMargin;
  const std::string target = platform::ExtractFileDir(file);
  const long long free = platform::FreeDiskSpace(target);
  if (free >= 0 && free < needed)
    throw Exception(Format(Win1251("Недостаточно места для резервной копии в \"%s\": свободно %lld байт, "
                                   "нужно не менее %lld байт")
                               .c_str(),
                           target.c_str(), free, needed));
}

std::string TqnBackupKeeper::Record(storage::Storage& place, const std::string& folder,
                                    const TqnCatalogueRecord& record) {
  try {
    std::vector<TqnCatalogueRecord> records = ReadCatalogue(place);
    AddCatalogueRecord(records, folder, record);
    WriteCatalogue(place, records);
    return {};
  } catch (const std::exception& e) {
    // The catalogue stays as it was: rewritten from a failed read, it would
    // lose its history and the sums that prove the older backups.
    const std::string message =
        Win1251("Не удалось записать каталог резервных копий в \"") + folder + "\": " + e.what();
    log_.LogMessage(message);
    return message;
  }
}

void TqnBackupKeeper::CheckWritable(const std::string& file, const std::string& entryId) {
  // The server writes the backup, but the program must be able to rename,
  // catalogue and prune it there: a sandboxed service that may not is told
  // at once, before the server has written anything.
  const std::string folder = platform::ExtractFileDir(file);
  const std::string problem =
      FolderWriteProblem(folder, platform::ExtractFileName(PartialBackupName(file + "-probe", entryId)));
  if (problem.empty()) return;
  throw Exception(Format(Win1251("Резервную копию \"%s\" некуда записать: каталог \"%s\" недоступен программе "
                                 "для записи (%s)")
                             .c_str(),
                         file.c_str(), folder.c_str(), problem.c_str()));
}

namespace {

// Renames the finished backup over its name. The server may close the file
// a moment after it has reported the end (a file still open cannot be
// renamed on Windows), so a refused rename is tried again for a while.
void RenameWhenReleased(storage::Storage& place, const std::string& from, const std::string& to) {
  for (int attempt = 0;; ++attempt) {
    try {
      place.Rename(from, to);
      return;
    } catch (const std::exception&) {
      if (attempt >= 20) throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
}

// The SHA-256 of the backup, computed on a thread of its own while the
// server restores the same file for its proof: the server's restore keeps
// one core busy, the digest the other, and both read the file the server
// has just written from the system's cache. Waited for before the file is
// renamed, and whatever happens.
class TqnDigestAlongside {
 public:
  explicit TqnDigestAlongside(std::string file)
      : thread_([this, file = std::move(file)] {
          const auto start = std::chrono::steady_clock::now();
          try {
            digest_ = FileSha256(file);
          } catch (const std::exception&) {
            // No sum in the catalogue: the file could not be read whole.
          }
          ms_ = Since(start);
        }) {}
  ~TqnDigestAlongside() { Wait(); }
  TqnDigestAlongside(const TqnDigestAlongside&) = delete;
  TqnDigestAlongside& operator=(const TqnDigestAlongside&) = delete;
  void Wait() {
    if (thread_.joinable()) thread_.join();
  }
  // After Wait.
  const std::string& Digest() const { return digest_; }
  long long Ms() const { return ms_; }

 private:
  std::string digest_;
  long long ms_ = 0;
  std::thread thread_;  // last: started once the fields exist
};

// Removes a file of this run's own making; a file that is not there is fine.
void RemoveOwn(storage::Storage& place, const std::string& name) {
  try {
    if (place.Info(name).exists) place.Remove(name);
  } catch (const std::exception&) {
    // Swept at the next start.
  }
}

}  // namespace

TqnBackupOutcome TqnBackupKeeper::Make(const TqnBackupEntry& entry, const std::string& file, TqnBackupJob job) {
  TqnBackupOutcome outcome;
  {
    TqnOperationLock::Hold operation(runner_.OperationLock());
    outcome = MakeHeld(entry, file, job);
  }
  if (afterRelease_) afterRelease_(entry, outcome);
  return outcome;
}

TqnBackupOutcome TqnBackupKeeper::MakeHeld(const TqnBackupEntry& entry, const std::string& file, TqnBackupJob job) {
  const std::string folder = CatalogueFolder(entry, file);
  storage::FolderStorage catalogue = EntryBackupFolder(folder, entry.id);
  storage::FolderStorage files = EntryBackupFolder(platform::ExtractFileDir(file), entry.id);
  const bool local = Local(entry);
  // On this computer the server writes under a name of its own, and only a
  // whole, proven backup takes the file's name: a failed or killed run
  // never leaves half a file under a backup's name, nor touches a file
  // that was there before it. A remote server's files are out of reach.
  const std::string name = platform::ExtractFileName(file);
  const std::string partial = files.UnfinishedName(name);
  const std::string written = local ? files.PathOf(partial) : file;
  TqnBackupOutcome outcome;
  outcome.entry = entry.name;
  outcome.file = file;
  TqnCatalogueRecord record;
  record.file = CatalogueName(folder, file);
  record.entry = entry.name;
  record.entryId = entry.id;
  record.start = FormatDateTime(kStampFormat, clock_.Now());
  const auto start = std::chrono::steady_clock::now();
  auto fail = [&](const std::string& message) {
    if (local) RemoveOwn(files, partial);
    record.durationMs = Since(start);
    record.outcome = "failed";
    record.verification = "unverified";
    record.message = message;
    Record(catalogue, folder, record);
    outcome.made = false;
    outcome.message = message;
    outcome.time = FormatDateTime(kStampFormat, clock_.Now());
    if (observer_) observer_(outcome);
  };
  TqnRecordCountReader counts;
  try {
    if (local) {
      CheckWritable(file, entry.id);
      CheckFreeSpace(entry, file, folder);
    }
    job.counts = &counts;
    runner_.BackupDatabaseHeld(entry, written, job);
  } catch (const std::exception& e) {
    fail(e.what());
    throw;
  }
  record.durationMs = Since(start);
  record.outcome = "ok";
  record.counts = FormatRecordCounts(counts.Counts());
  outcome.made = true;
  std::optional<TqnDigestAlongside> digest;
  if (local && platform::FileExists(written)) {
    record.size = platform::FileSize(written);
    digest.emplace(written);
  }
  const auto proof = std::chrono::steady_clock::now();
  if (entry.verify) {
    outcome.verify = runner_.VerifyBackupHeld(entry, written, &counts.Counts());
  } else {
    outcome.verifyDisabled = true;
    outcome.verify.reason = Win1251("проверка восстановлением отключена");
  }
  const long long proofMs = Since(proof);
  if (digest) {
    digest->Wait();
    record.sha256 = digest->Digest();
  }
  const bool proofFailed = outcome.verify.state == TqnVerifyResult::State::Failed;
  if (local && !proofFailed) {
    try {
      RenameWhenReleased(files, partial, name);
    } catch (const std::exception& e) {
      const std::string message =
          Format(Win1251("Резервную копию \"%s\" не удалось переименовать в \"%s\": %s").c_str(), written.c_str(),
                 file.c_str(), e.what());
      fail(message);
      throw Exception(message);
    }
  }
  // A backup that does not restore is no backup: it is not kept under a
  // backup's name, only its line says what was found.
  if (local && proofFailed) RemoveOwn(files, partial);
  record.verification = VerifyStateWord(outcome.verify.state);
  record.restoreMs = outcome.verify.restoreMs;
  record.message = outcome.verify.reason;
  outcome.message = outcome.verify.reason;
  const auto catalogueStart = std::chrono::steady_clock::now();
  outcome.catalogueError = Record(catalogue, folder, record);
  outcome.record = record;
  const long long catalogueMs = Since(catalogueStart);
  if (!outcome.catalogueError.empty()) outcome.message = outcome.catalogueError;
  if (outcome.verify.state == TqnVerifyResult::State::Verified)
    log_.LogMessage(Format(Win1251("Резервная копия \"%s\" проверена: восстановлена за %lld мс").c_str(), file.c_str(),
                           outcome.verify.restoreMs));
  else
    log_.LogMessage(Win1251("Резервная копия \"") + file +
                    (proofFailed ? Win1251("\" не прошла проверку: ") : Win1251("\" не проверена: ")) +
                    outcome.verify.reason);
  // Only a run that proved and catalogued its backup may thin out the older ones.
  if (entry.prune && outcome.verify.state == TqnVerifyResult::State::Verified && outcome.catalogueError.empty())
    Prune(entry, catalogue, folder);
  outcome.time = FormatDateTime(kStampFormat, clock_.Now());
  const auto state = std::chrono::steady_clock::now();
  if (observer_) observer_(outcome);
  // Where a proven backup's time goes, for whoever tunes it (debug log).
  log_.LogMessage(Format(Win1251("Время архивации \"%s\": копия %lld мс, проверка %lld мс (восстановление %lld мс, "
                                 "из них индексы %lld мс; подключение %lld мс; удаление копии %lld мс), SHA-256 %lld "
                                 "мс рядом с проверкой, каталог %lld мс, состояние %lld мс, всего %lld мс")
                             .c_str(),
                         file.c_str(), record.durationMs, proofMs, outcome.verify.restoreMs, outcome.verify.indexMs,
                         outcome.verify.checkMs, outcome.verify.dropMs, digest ? digest->Ms() : 0LL, catalogueMs,
                         Since(state), Since(start)),
                  2);
  return outcome;
}

std::vector<TqnRetentionLine> PlanRetention(const TqnBackupEntry& entry, const std::string& folder,
                                            const std::vector<TqnCatalogueRecord>& records, const DateTime& now) {
  storage::FolderStorage place = EntryBackupFolder(folder, entry.id);
  TqnRetentionRules rules = EntryRetentionRules(entry);
  rules.isOwnName = [](const std::string& name, bool* requested) { return IsProgramBackupName(name, requested); };
  return PlanRetention(entry, place, folder, records, now, rules);
}

TqnRetentionRules EntryRetentionRules(const TqnBackupEntry& entry) {
  TqnRetentionRules rules;
  // The entry's reader holds the counts to their limits already.
  rules.policy.rest = entry.rest;
  rules.policy.keepDaily = entry.keepDaily;
  rules.policy.keepWeekly = entry.keepWeekly;
  rules.policy.keepMonthly = entry.keepMonthly;
  rules.policy.keepRequested = entry.keepRequested;
  return rules;
}

std::vector<TqnRetentionLine> PlanRetention(const TqnBackupEntry& entry, storage::Storage& place,
                                            const std::string& folder, const std::vector<TqnCatalogueRecord>& records,
                                            const DateTime& now, const TqnRetentionRules& rules) {
  std::vector<TqnRetentionLine> lines;
  // Files that any other line names are never weighed: only the entry's
  // own backups, by its identity, made by the program under its own name
  // in the place and still there, one line per file (the newest).
  std::set<std::string> others, seen;
  for (const TqnCatalogueRecord& r : records)
    if (!r.raw.empty() || r.entryId.empty() || r.entryId != entry.id) others.insert(CatalogueFilePath(folder, r));
  std::vector<TqnRetentionItem> items;
  std::vector<int64_t> lockedUntil;
  for (size_t i = records.size(); i-- > 0;) {
    const TqnCatalogueRecord& r = records[i];
    const std::string path = CatalogueFilePath(folder, r);
    const bool inPlace = path == folder + r.file;
    bool requested = false;
    TqnRetentionLine line;
    line.record = i;
    if (!RecordOfEntry(r, entry.name, entry.id)) continue;
    storage::ObjectInfo info;
    bool unknown = false;
    if (r.outcome == "ok") {
      try {
        // A file elsewhere is not in the place: looked at only to list it.
        if (inPlace)
          info = place.Info(r.file);
        else
          info.exists = platform::FileExists(path);
      } catch (const std::exception&) {
        unknown = true;  // not known to be gone: listed, never weighed
      }
    }
    // A line of the entry's with an identity has the entry's own.
    if (r.entryId.empty()) {
      line.reason = "older-catalogue";
    } else if (unknown) {
      line.reason = "unknown";
    } else if (r.outcome != "ok" || !info.exists) {
      continue;
    } else if (!inPlace || !rules.isOwnName || !rules.isOwnName(r.file, &requested)) {
      line.reason = "named";
    } else if (others.count(path) || !seen.insert(path).second) {
      line.reason = "shared";
    } else {
      line.weighed = true;
      TqnRetentionItem item;
      item.start = r.start;
      item.requested = requested;
      item.verification = r.verification;
      items.push_back(item);
      lockedUntil.push_back(info.lockedUntilUnix);
    }
    lines.push_back(line);
  }
  // Walked newest first, so that a file's newest line is the one weighed;
  // handed on oldest first.
  std::reverse(items.begin(), items.end());
  std::reverse(lockedUntil.begin(), lockedUntil.end());
  std::reverse(lines.begin(), lines.end());
  const std::vector<std::string> reasons = RetentionReasons(items, rules.policy, FormatDateTime(kStampFormat, now));
  const int64_t nowUnix = rules.nowUnix ? rules.nowUnix : static_cast<int64_t>(std::time(nullptr));
  size_t k = 0;
  for (TqnRetentionLine& line : lines) {
    if (!line.weighed) continue;
    line.reason = reasons[k];
    // The place keeps it until then whatever the policy says: asking
    // earlier only fails, and on a store that counts requests costs.
    if (line.reason.empty() && lockedUntil[k] > nowUnix) line.reason = "locked";
    ++k;
  }
  return lines;
}

int PruneCatalogued(const TqnBackupEntry& entry, storage::Storage& place, const std::string& folder,
                    const DateTime& now, const TqnRetentionRules& rules, TqnLog& log) {
  std::vector<TqnCatalogueRecord> records;
  try {
    records = ReadCatalogue(place);
  } catch (const std::exception&) {
    return 0;  // nothing is deleted on a catalogue that cannot be read
  }
  std::vector<size_t> removed;
  for (const TqnRetentionLine& line : PlanRetention(entry, place, folder, records, now, rules)) {
    if (!line.weighed || !line.reason.empty()) continue;
    const std::string& name = records[line.record].file;
    try {
      place.Remove(name);
      removed.push_back(line.record);
      log.LogMessage(Win1251("Удалена старая резервная копия \"") + place.Describe() + name + "\"");
    } catch (const std::exception& e) {
      log.LogMessage(Win1251("Не удалось удалить старую резервную копию \"") + place.Describe() + name +
                     "\": " + e.what());
    }
  }
  std::sort(removed.begin(), removed.end());
  for (auto it = removed.rbegin(); it != removed.rend(); ++it) records.erase(records.begin() + *it);
  if (!removed.empty()) {
    try {
      WriteCatalogue(place, records);
    } catch (const std::exception& e) {
      log.LogMessage(Win1251("Не удалось записать каталог резервных копий в \"") + place.Describe() +
                     "\": " + e.what());
    }
  }
  return static_cast<int>(removed.size());
}

void TqnBackupKeeper::Prune(const TqnBackupEntry& entry, storage::Storage& place, const std::string& folder) {
  TqnRetentionRules rules = EntryRetentionRules(entry);
  rules.isOwnName = [](const std::string& name, bool* requested) { return IsProgramBackupName(name, requested); };
  PruneCatalogued(entry, place, folder, clock_.Now(), rules, log_);
}

TqnVerifyResult TqnBackupKeeper::VerifyCopy(const TqnBackupEntry& entry, const std::string& file,
                                            const TqnCatalogueRecord& line) {
  TqnOperationLock::Hold operation(runner_.OperationLock());
  const TqnRecordCounts expected = ParseRecordCounts(line.counts);
  return runner_.VerifyBackupHeld(entry, file, &expected);
}

TqnVerifyResult TqnBackupKeeper::VerifyFile(const TqnBackupEntry& entry, std::string& file) {
  TqnOperationLock::Hold operation(runner_.OperationLock());
  const std::string folder = NormalizeBackupFolder(entry.backupFolder);
  const std::vector<TqnCatalogueRecord> records = ReadCatalogueForLooking(folder);
  std::vector<TqnCatalogueRecord> beside;  // the catalogue beside a file kept elsewhere
  const TqnCatalogueRecord* listed = nullptr;
  if (file.empty()) {
    for (auto it = records.rbegin(); it != records.rend() && !listed; ++it)
      if (RecordOfEntry(*it, entry.name, entry.id) && it->outcome == "ok" && it->verification != "failed")
        listed = &*it;
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
      beside = ReadCatalogueForLooking(FolderOf(file));
      listed = FindCatalogued(beside, FolderOf(file), file);
    }
  }
  TqnRecordCounts expected;
  if (listed) {
    expected = ParseRecordCounts(listed->counts);
    if (!listed->sha256.empty() && Local(entry)) {
      std::string actual;
      try {
        storage::FolderStorage place = EntryBackupFolder(platform::ExtractFileDir(file), entry.id);
        actual = storage::HashObject(place, platform::ExtractFileName(file)).sha256Hex;
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
