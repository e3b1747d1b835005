#include "backup/destination_copy.h"

#include "backup/backup_keeper.h"
#include "base/error.h"
#include "base/text.h"
#include "storage/folder_storage.h"

namespace qn {

namespace {

// A source that gives up when the run ends, so that a stop never waits for
// an upload (the place's write then leaves nothing under the name).
class TqnStoppableSource : public storage::ByteSource {
 public:
  TqnStoppableSource(std::unique_ptr<storage::ByteSource> inner, const std::atomic<bool>* stop)
      : inner_(std::move(inner)), stop_(stop) {}
  int64_t Size() const override { return inner_->Size(); }
  size_t Read(char* buffer, size_t capacity) override {
    if (stop_ && *stop_) throw Exception(Win1251("копирование прервано: программа завершает работу"));
    return inner_->Read(buffer, capacity);
  }

 private:
  std::unique_ptr<storage::ByteSource> inner_;
  const std::atomic<bool>* stop_;
};

}  // namespace

TqnRetentionRules DestinationRetentionRules(const TqnDestination& destination, const std::string& entryName) {
  TqnRetentionRules rules;
  rules.policy = destination.keep;
  rules.isOwnName = [entryName](const std::string& name, bool* requested) {
    return IsDestinationBackupName(name, entryName, requested);
  };
  return rules;
}

TqnCopyResult CopyToDestination(const TqnCopyJob& job, const DateTime& now, TqnLog& log, const std::atomic<bool>* stop,
                                const TqnSourceHook& hook) {
  TqnCopyResult result;
  result.object = DestinationObjectName(job.entry.name, job.file);
  try {
    std::unique_ptr<storage::Storage> place = OpenDestination(job.destination, TqnDestinationUse::Write);
    // Read first: a catalogue that is there but cannot be read is never
    // replaced by one without its history, so nothing is copied either.
    std::vector<TqnCatalogueRecord> records = ReadCatalogue(*place);
    std::unique_ptr<storage::ByteSource> source = storage::FileSource(job.file);
    if (hook) source = hook(std::move(source));
    TqnStoppableSource stoppable(std::move(source), stop);
    const storage::WrittenObject written = place->Write(result.object, stoppable);
    // What left is what was proven: the local file may have changed since.
    if (!job.record.sha256.empty() && written.sha256Hex != job.record.sha256)
      throw Exception(Format(Win1251("файл \"%s\" изменился после проверки: SHA-256 %s, в каталоге %s").c_str(),
                             job.file.c_str(), written.sha256Hex.c_str(), job.record.sha256.c_str()));
    std::string why;
    if (!place->Check(result.object, written, &why)) throw Exception(why);
    TqnCatalogueRecord line = job.record;
    line.file = result.object;
    line.size = written.size;
    line.sha256 = written.sha256Hex;
    line.raw.clear();
    AddCatalogueRecord(records, "", line);
    WriteCatalogue(*place, records);
    log.LogMessage(Format(Win1251("Резервная копия \"%s\" скопирована в \"%s\" (%s) и проверена").c_str(),
                          job.file.c_str(), job.destination.name.c_str(), place->Describe().c_str()));
    PruneCatalogued(job.entry, *place, "", now, DestinationRetentionRules(job.destination, job.entry.name), log);
    result.ok = true;
  } catch (const std::exception& e) {
    result.message = e.what();
    log.LogMessage(Format(Win1251("Резервная копия \"%s\" не скопирована в \"%s\": %s").c_str(), job.file.c_str(),
                          job.destination.name.c_str(), e.what()));
  }
  return result;
}

}  // namespace qn
