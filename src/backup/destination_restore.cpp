#include "backup/destination_restore.h"

#include <algorithm>

#include "backup/backup_keeper.h"
#include "backup/backup_names.h"
#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "storage/byte_sources.h"
#include "storage/encryption.h"
#include "storage/folder_storage.h"

namespace qn {

bool SplitDestinationFile(const std::string& text, std::string& destination, std::string& name) {
  const size_t colon = text.find(':');
  // One letter before the colon is a Windows drive.
  if (colon == std::string::npos || colon < 2) return false;
  destination = text.substr(0, colon);
  name = text.substr(colon + 1);
  auto plain = [](const std::string& s) { return !s.empty() && s.find_first_of("/\\:") == std::string::npos; };
  return plain(destination) && plain(name);
}

std::vector<TqnOfferedCopy> OfferedCopies(const std::vector<TqnDestination>& destinations, const TqnBackupEntry& entry,
                                          std::vector<std::string>& problems) {
  std::vector<TqnOfferedCopy> copies;
  for (const TqnDestination& d : destinations) {
    try {
      std::unique_ptr<storage::Storage> place = OpenDestination(d, TqnDestinationUse::Read);
      for (const TqnCatalogueRecord& r : ReadCatalogue(*place))
        if (r.outcome == "ok" && !r.sha256.empty() && IsDestinationBackupName(r.file, entry.name, nullptr))
          copies.push_back({d, r});
    } catch (const std::exception& e) {
      problems.push_back(Win1251("Место хранения \"") + d.name + "\": " + e.what());
    }
  }
  // "yyyy-mm-dd hh:nn:ss" sorts as time does.
  std::stable_sort(copies.begin(), copies.end(),
                   [](const TqnOfferedCopy& a, const TqnOfferedCopy& b) { return a.line.start > b.line.start; });
  return copies;
}

std::string OfferedCopyLine(const TqnOfferedCopy& copy) {
  const long long tenths = (copy.line.size * 10 + 524288) / 1048576;
  return Format(Win1251("%s   %s:%s   %lld,%lld МБ").c_str(), copy.line.start.c_str(), copy.destination.name.c_str(),
                copy.line.file.c_str(), tenths / 10, tenths % 10);
}

TqnDownloadedCopy DownloadCopy(const TqnBackupEntry& entry, const TqnDestination& destination, const std::string& name,
                               bool forProof) {
  std::unique_ptr<storage::Storage> place = OpenDestination(destination, TqnDestinationUse::Read);
  const std::vector<TqnCatalogueRecord> records = ReadCatalogue(*place);
  const TqnCatalogueRecord* line = FindCatalogued(records, "", name);
  if (!line || line->sha256.empty())
    throw Exception(Format(Win1251("В каталоге места хранения \"%s\" нет копии \"%s\"").c_str(),
                           destination.name.c_str(), name.c_str()));
  const std::string folder = NormalizeBackupFolder(entry.backupFolder);
  if (!IsUsableBackupFolder(folder))
    throw Exception(Format(Win1251("Путь для резервных копий \"%s\" не доступен").c_str(), folder.c_str()));
  if (!platform::DirectoryExists(folder)) platform::ForceDirectories(folder);
  storage::FolderStorage local = EntryBackupFolder(folder, entry.id);
  TqnDownloadedCopy copy;
  copy.line = *line;
  copy.ownTemporary = forProof;
  const std::string target = forProof ? std::string(kScratchPrefix) + entry.id + "-" + name : name;
  copy.file = local.PathOf(target);
  if (!forProof && local.Info(target).exists) {
    // Never written over: a file of that name is used only when it is the copy.
    if (storage::HashObject(local, target).sha256Hex == line->sha256) return copy;
    throw Exception(Format(Win1251("Файл \"%s\" уже есть и отличается от копии в \"%s\"").c_str(), copy.file.c_str(),
                           destination.name.c_str()));
  }
  storage::WrittenObject written;
  if (!line->encryption.empty()) {
    // Decrypted on the way in: a wrong key or an altered byte fails before
    // anything appears under the name.
    const std::optional<storage::EncryptionKey> key = DestinationKey(destination, TqnDestinationUse::Read);
    if (!key || EncryptionWord(*key) != line->encryption)
      throw Exception(Format(Win1251("Копия \"%s\" в \"%s\" зашифрована другим ключом (%s)").c_str(), name.c_str(),
                             destination.name.c_str(), line->encryption.c_str()));
    storage::DecryptingFileWriter plain(*key, copy.file);
    place->Read(name, [&plain](const char* data, size_t size) { plain.Write(data, size); });
    plain.Commit();
    written = storage::HashObject(local, target);
  } else {
    const storage::ObjectInfo info = place->Info(name);
    std::unique_ptr<storage::ByteSource> source = storage::ObjectSource(*place, name, info.size);
    written = local.Write(target, *source);
  }
  if (written.sha256Hex != line->sha256) {
    try {
      local.Remove(target);
    } catch (const std::exception&) {
    }
    throw Exception(Format(Win1251("Копия \"%s\" в \"%s\" повреждена: SHA-256 %s, в её каталоге %s").c_str(),
                           name.c_str(), destination.name.c_str(), written.sha256Hex.c_str(), line->sha256.c_str()));
  }
  return copy;
}

}  // namespace qn
