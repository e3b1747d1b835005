#include "backup/backup_catalogue.h"

#include <cstdlib>

#include "backup/backup_names.h"
#include "base/text.h"
#include "storage/byte_sources.h"
#include "storage/folder_storage.h"

namespace qn {

namespace {

constexpr const char* kHeader =
    "file\tentry\tsize\tsha256\tstart\tduration_ms\toutcome\tverification\trestore_ms\tcounts\tmessage\tentry_id";
// Every header, this one and the shorter one before identities.
constexpr const char* kHeaderStart = "file\tentry\t";

// A field never holds a tab or a line break: they become blanks.
std::string Field(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  return out;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t begin = 0;
  for (;;) {
    const size_t tab = line.find('\t', begin);
    fields.push_back(line.substr(begin, tab == std::string::npos ? std::string::npos : tab - begin));
    if (tab == std::string::npos) return fields;
    begin = tab + 1;
  }
}

}  // namespace

std::string FormatCatalogue(const std::vector<TqnCatalogueRecord>& records) {
  std::string text = Win1251("# Каталог резервных копий Менеджера баз данных; поля разделены табуляцией\r\n");
  text += std::string(kHeader) + "\r\n";
  for (const TqnCatalogueRecord& r : records) {
    if (!r.raw.empty()) {
      text += r.raw + "\r\n";
      continue;
    }
    text += Field(r.file) + "\t" + Field(r.entry) + "\t" + std::to_string(r.size) + "\t" + Field(r.sha256) + "\t" +
            Field(r.start) + "\t" + std::to_string(r.durationMs) + "\t" + Field(r.outcome) + "\t" +
            Field(r.verification) + "\t" + std::to_string(r.restoreMs) + "\t" + Field(r.counts) + "\t" +
            Field(r.message) + "\t" + Field(r.entryId) + (r.encryption.empty() ? "" : "\t" + Field(r.encryption)) +
            "\r\n";
  }
  return text;
}

std::vector<TqnCatalogueRecord> ParseCatalogue(const std::string& text) {
  std::vector<TqnCatalogueRecord> records;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#' || line.rfind(kHeaderStart, 0) == 0) continue;
    const std::vector<std::string> f = SplitTabs(line);
    TqnCatalogueRecord r;
    if (f.size() < 11) {
      r.raw = line;
      records.push_back(r);
      continue;
    }
    r.file = f[0];
    r.entry = f[1];
    r.size = std::strtoll(f[2].c_str(), nullptr, 10);
    r.sha256 = f[3];
    r.start = f[4];
    r.durationMs = std::strtoll(f[5].c_str(), nullptr, 10);
    r.outcome = f[6];
    r.verification = f[7];
    r.restoreMs = std::strtoll(f[8].c_str(), nullptr, 10);
    r.counts = f[9];
    r.message = f[10];
    if (f.size() > 11) r.entryId = f[11];
    if (f.size() > 12) r.encryption = f[12];
    records.push_back(r);
  }
  return records;
}

std::vector<TqnCatalogueRecord> ReadCatalogue(storage::Storage& place) {
  if (!place.Info(kCatalogueFileName).exists) return {};
  std::string text;
  place.Read(kCatalogueFileName, [&](const char* data, size_t size) { text.append(data, size); });
  return ParseCatalogue(text);
}

std::vector<TqnCatalogueRecord> ReadCatalogueForLooking(storage::Storage& place) {
  try {
    return ReadCatalogue(place);
  } catch (const std::exception&) {
    return {};
  }
}

void WriteCatalogue(storage::Storage& place, const std::vector<TqnCatalogueRecord>& records) {
  place.Write(kCatalogueFileName, *storage::TextSource(FormatCatalogue(records)));
}

namespace {

// A folder named by its path alone writes under a prefix of no entry's.
storage::FolderStorage Folder(const std::string& folder) {
  return storage::FolderStorage(folder, std::string(kPartialPrefix) + "-");
}

}  // namespace

std::vector<TqnCatalogueRecord> ReadCatalogue(const std::string& folder) {
  storage::FolderStorage place = Folder(folder);
  return ReadCatalogue(place);
}

std::vector<TqnCatalogueRecord> ReadCatalogueForLooking(const std::string& folder) {
  storage::FolderStorage place = Folder(folder);
  return ReadCatalogueForLooking(place);
}

void WriteCatalogue(const std::string& folder, const std::vector<TqnCatalogueRecord>& records) {
  storage::FolderStorage place = Folder(folder);
  WriteCatalogue(place, records);
}

bool RecordOfEntry(const TqnCatalogueRecord& record, const std::string& entryName, const std::string& entryId) {
  if (!record.raw.empty()) return false;
  if (record.entryId.empty()) return record.entry == entryName;
  return record.entryId == entryId;
}

void AddCatalogueRecord(std::vector<TqnCatalogueRecord>& records, const std::string& folder,
                        const TqnCatalogueRecord& record) {
  const std::string file = CatalogueFilePath(folder, record);
  // Only a backup that took the file's name replaces what was said of it: a
  // failed run, or one whose proof failed, left the file as it was.
  if (record.outcome == "ok" && record.verification != "failed")
    std::erase_if(records,
                  [&](const TqnCatalogueRecord& r) { return r.raw.empty() && CatalogueFilePath(folder, r) == file; });
  records.push_back(record);
}

std::string CatalogueFilePath(const std::string& folder, const TqnCatalogueRecord& record) {
  const bool bare = record.file.find('/') == std::string::npos && record.file.find('\\') == std::string::npos;
  return bare ? folder + record.file : record.file;
}

const TqnCatalogueRecord* FindCatalogued(const std::vector<TqnCatalogueRecord>& records, const std::string& folder,
                                         const std::string& file) {
  for (auto it = records.rbegin(); it != records.rend(); ++it)
    if (it->raw.empty() && it->outcome == "ok" && it->verification != "failed" &&
        CatalogueFilePath(folder, *it) == file)
      return &*it;
  return nullptr;
}

}  // namespace qn
