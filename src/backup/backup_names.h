// Backup file names and backup folders: how a backup folder is completed
// with its separator, when it is usable, how a backup file is named, and
// the byte substitution that keeps a name safe for the service manager.
// Pure text rules; no file system access.
#pragma once

#include <string>

#include "base/clock.h"

namespace qn {

// The time stamp in backup and moved-aside file names.
inline constexpr const char* kBackupTimeFormat = "yyyy.mm.dd-hh.nn.ss-zzz";
inline constexpr const char* kManualBackupPrefix = "backup-";
inline constexpr const char* kAutoBackupPrefix = "auto-";
inline constexpr const char* kRemoteBackupPrefix = "remote-";

// The folder ready to have a file name appended: empty stays empty; a
// folder holding a "/" gets "/" unless it ends with one; any other gets "\"
// unless it ends with one.
std::string NormalizeBackupFolder(const std::string& folder);

// True when the normalised folder is longer than 3 characters (so "" and
// "C:\" are refused).
bool IsUsableBackupFolder(const std::string& folder);

// ".bk3" for a Firebird 3.0 entry, ".fbk" otherwise.
const char* BackupExtension(bool fb30);

// NormalizeBackupFolder(folder) + prefix + the time stamp + extension.
std::string BackupFileName(const std::string& folder, const std::string& prefix, const DateTime& time, bool fb30);

// True for a name the program gives its own backups: one of the three
// prefixes, the time stamp and ".bk3" or ".fbk"; requested tells a
// workstation's ("remote-"). A name chosen by a person is never one.
bool IsProgramBackupName(const std::string& name, bool* requested = nullptr);

// The name a backup has while the server writes it and while it is proven,
// in the same folder: nothing else uses the prefix, and the entry's
// identity in it tells whose it is. Only a whole, proven backup is renamed
// to its own name.
inline constexpr const char* kPartialPrefix = "qnpartial-";
std::string PartialBackupName(const std::string& file, const std::string& entryId);

// Every byte 0xFF (small ya) replaced by 0xDF (capital ya), nothing else.
std::string ServiceSafeName(const std::string& name);

// The names a backup or restore hands to the service. Where files are named
// in UTF-8 (Linux), a server opens them by their real names, which the
// client passes on untouched; elsewhere the database path is UTF-8 only for
// a Firebird 3.0 client older than 3.0.3.0 and otherwise, like the backup
// file, goes through ServiceSafeName.
std::string ServiceDatabaseName(const std::string& filePath, bool oldClient);
std::string ServiceBackupFileName(const std::string& name);

}  // namespace qn
