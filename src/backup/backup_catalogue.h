// The catalogue of the backups the program made: one file in the backup
// folder, "catalogue.txt", so that it survives a reinstall and travels with
// the folder. A person can read it: a comment line, a header line, then one
// line per backup with tab-separated fields (Windows-1251):
//
//   file  entry  size  sha256  start  duration_ms  outcome  verification
//   restore_ms  counts  message  entry_id
//
// "file" is the name within the folder, or the full name of a backup made
// elsewhere; "start" is "yyyy-mm-dd hh:nn:ss" local time; "outcome" is "ok"
// or "failed"; "verification" is "verified", "unverified" (not checked, the
// message says why) or "failed" (checked and found bad); "counts" are the
// per-table record counts of the backup; "entry_id" is the entry's identity,
// which a new entry never shares with a removed one (empty in lines written
// before it existed). The file is replaced as a whole, so a reader sees the
// old or the new catalogue, never half of one. A line this version cannot
// read is kept as it stands.
#pragma once

#include <string>
#include <vector>

#include "storage/storage.h"

namespace qn {

inline constexpr const char* kCatalogueFileName = "catalogue.txt";

struct TqnCatalogueRecord {
  std::string file;
  std::string entry;
  long long size = -1;
  std::string sha256;
  std::string start;  // "yyyy-mm-dd hh:nn:ss"
  long long durationMs = 0;
  std::string outcome;       // "ok" or "failed"
  std::string verification;  // "verified", "unverified" or "failed"
  long long restoreMs = 0;
  std::string counts;     // FormatRecordCounts
  std::string message;    // why it failed or is not verified
  std::string entryId{};  // the entry's identity, "" in older lines
  // How a copy at a destination is encrypted ("aes-256-gcm KEYID"), "" when
  // it is not: size and SHA-256 are then the plaintext's, the proven backup's.
  std::string encryption{};
  std::string raw{};  // a line that did not parse, written back as it was
};

// The text of a catalogue and back; a line that does not parse becomes a
// record holding only its raw text.
std::string FormatCatalogue(const std::vector<TqnCatalogueRecord>& records);
std::vector<TqnCatalogueRecord> ParseCatalogue(const std::string& text);

// The catalogue of a place where backups are kept; empty when it has none.
// Throws when one is there but cannot be read: a catalogue is never taken
// for empty and then rewritten without its history.
std::vector<TqnCatalogueRecord> ReadCatalogue(storage::Storage& place);
// The same, empty when it cannot be read, for those who only look.
std::vector<TqnCatalogueRecord> ReadCatalogueForLooking(storage::Storage& place);
// Replaces the place's catalogue in one step; throws when it cannot be
// written.
void WriteCatalogue(storage::Storage& place, const std::vector<TqnCatalogueRecord>& records);
// The same for a local folder (normalised, with its separator).
std::vector<TqnCatalogueRecord> ReadCatalogue(const std::string& folder);
std::vector<TqnCatalogueRecord> ReadCatalogueForLooking(const std::string& folder);
void WriteCatalogue(const std::string& folder, const std::vector<TqnCatalogueRecord>& records);

// The full name of a record's file: a bare name lies in the folder.
std::string CatalogueFilePath(const std::string& folder, const TqnCatalogueRecord& record);
// True when the record is one of the entry's: the same identity, or, for a
// line written before identities, the same element name (enough to look at
// it, never enough to delete its file).
bool RecordOfEntry(const TqnCatalogueRecord& record, const std::string& entryName, const std::string& entryId);
// Adds a record; when it is of a backup that took its file's name, an older
// record that names the same file describes a file that is no longer there
// and goes.
void AddCatalogueRecord(std::vector<TqnCatalogueRecord>& records, const std::string& folder,
                        const TqnCatalogueRecord& record);
// The newest record of a backup that took this file's name (not a failed
// run's, nor one whose proof failed), or nullptr.
const TqnCatalogueRecord* FindCatalogued(const std::vector<TqnCatalogueRecord>& records, const std::string& folder,
                                         const std::string& file);

}  // namespace qn
