#include "backup/destination_copy.h"

#include "backup/backup_keeper.h"
#include "base/error.h"
#include "base/text.h"
#include "base/sha256.h"
#include "settings/settings_keys.h"
#include "storage/encryption.h"
#include "storage/folder_storage.h"

namespace qn {

namespace {

// A source that gives up when the run ends, so that a stop never waits for
// an upload (the place's write then leaves nothing under the name).
class TqnStoppableSource : public storage::ByteSource {
 public:
  TqnStoppableSource(storage::ByteSource& inner, const std::atomic<bool>* stop) : inner_(inner), stop_(stop) {}
  int64_t Size() const override { return inner_.Size(); }
  size_t Read(char* buffer, size_t capacity) override {
    if (stop_ && *stop_) throw Exception(Win1251("копирование прервано: программа завершает работу"));
    return inner_.Read(buffer, capacity);
  }

 private:
  storage::ByteSource& inner_;
  const std::atomic<bool>* stop_;
};

// The SHA-256 of an encrypted object's plaintext, read back from the place:
// what is there decrypts, whole, to the proven backup.
std::string PlaintextSha256(storage::Storage& place, const std::string& name, const storage::EncryptionKey& key) {
  TqnSha256 hash;
  storage::Decryptor decryptor(key, [&hash](const char* data, size_t size) { hash.Update(data, size); });
  place.Read(name, [&decryptor](const char* data, size_t size) { decryptor.Write(data, size); });
  decryptor.Finish();
  return hash.HexDigest();
}

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
    bool keyCreated = false;
    const std::optional<storage::EncryptionKey> key =
        DestinationKey(job.destination, TqnDestinationUse::Write, &keyCreated);
    if (keyCreated)
      log.LogMessage(Format(Win1251("Создан ключ шифрования копий для \"%s\": %s. Сохраните его копию вне этого "
                                    "компьютера: без него копии не восстановить")
                                .c_str(),
                            job.destination.name.c_str(), job.destination.values.at(keys::kDestKeyFile.name).c_str()));
    std::unique_ptr<storage::ByteSource> source = storage::FileSource(job.file);
    if (hook) source = hook(std::move(source));
    // Encrypted before it leaves the machine, when the destination has a key.
    std::optional<storage::EncryptingSource> sealed;
    if (key) sealed.emplace(*source, *key);
    TqnStoppableSource stoppable(sealed ? static_cast<storage::ByteSource&>(*sealed) : *source, stop);
    const storage::WrittenObject written = place->Write(result.object, stoppable);
    std::string why;
    if (!place->Check(result.object, written, &why)) throw Exception(why);
    // What is there is what was proven (the local file may have changed
    // since): an encrypted copy is read back and decrypted to tell.
    const std::string sent = key ? PlaintextSha256(*place, result.object, *key) : written.sha256Hex;
    if (!job.record.sha256.empty() && sent != job.record.sha256)
      throw Exception(Format(Win1251("копия \"%s\" не совпадает с проверенной резервной копией: SHA-256 %s, в "
                                     "каталоге %s")
                                 .c_str(),
                             job.file.c_str(), sent.c_str(), job.record.sha256.c_str()));
    TqnCatalogueRecord line = job.record;
    line.file = result.object;
    line.size = key ? job.record.size : written.size;
    line.sha256 = sent;
    line.encryption = key ? EncryptionWord(*key) : std::string();
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
