// The database register: the children of "data" in the settings tree named
// "db" and four digits, one per database, and the values of a new entry.
#pragma once

#include <string>

#include "xml/xml_dom.h"

namespace qn {

constexpr const char* kDefaultUser = "SYSDBA";
constexpr const char* kDefaultPassword = "quillfern";
constexpr const char* kDefaultWeekdays = "1111100";
constexpr int kMaxEntryNumber = 9999;

// The identity of an entry, its child "uid": 32 hexadecimal digits drawn at
// random when the entry is made, never reused by a later entry of the same
// number or folder, and written into the catalogue of each of its backups.
std::string NewEntryId();
// Gives every entry without an identity one; true when any was given (the
// settings must then be saved before the identity is relied on).
bool EnsureEntryIds(TqnNode& root);
// The state moved from beside the program into a folder of its own (the
// Windows installer moves "data", "backup" and "log"): an entry's database
// and backup folder that named them under the old folder name them under the
// new one, host prefix and the rest of the path kept. True when any moved.
bool MoveStatePaths(TqnNode& root, const std::string& oldFolder, const std::string& newFolder);

// True for "db" followed by four decimal digits; number receives their value.
bool ParseEntryName(const std::string& name, int& number);
// "db" and the number with at least four digits ("db0012").
std::string EntryName(int number);

// The register element ("data" under the root), or the empty node.
TqnNode* RegisterOf(const TqnNode& root);
// The entry of that number; throws "База данных с номером %d не найдена".
TqnNode* FindEntry(const TqnNode& root, int number);
// The highest entry number, -1 for none.
int MaxEntryNumber(const TqnNode& root);

// Values that differ between new entries.
struct TqnNewEntry {
  std::string path;        // server address ":" database file
  std::string caption;     // empty, or the first-run caption
  std::string backupPath;  // program folder, "backup", the number in four digits
  std::string password;    // SYSDBA's; empty: the fixed default
};

// Appends "data" / EntryName(number) with the values of a new entry.
TqnNode* AddEntry(TqnNode& root, int number, const TqnNewEntry& values);

// The default backup folder of an entry: <program folder>/backup/<nnnn>.
std::string DefaultBackupFolder(const std::string& programFolder, int number);

}  // namespace qn
