// A copy kept at a destination brought back into the entry's local backup
// folder, for a restore or a proof on any machine, the destination's own
// catalogue the only thing it needs: the bytes are checked against the
// SHA-256 it records before anything restores from them.
#pragma once

#include <string>
#include <vector>

#include "backup/backup_catalogue.h"
#include "backup/backup_runner.h"
#include "backup/destinations.h"

namespace qn {

struct TqnDownloadedCopy {
  std::string file;           // the local file
  TqnCatalogueRecord line;    // the copy's line at the destination
  bool ownTemporary = false;  // a name of the program's own, to be removed after use
};

// "nas:db0000-auto-....bk3" as a destination's name and an object's; false
// for anything else (a path, "C:\...").
bool SplitDestinationFile(const std::string& text, std::string& destination, std::string& name);

// A copy of an entry kept at a destination, as the restore dialog offers it.
struct TqnOfferedCopy {
  TqnDestination destination;
  TqnCatalogueRecord line;
};
// The entry's proven copies at these destinations, newest first; each
// destination that cannot be read adds its reason to problems.
std::vector<TqnOfferedCopy> OfferedCopies(const std::vector<TqnDestination>& destinations, const TqnBackupEntry& entry,
                                          std::vector<std::string>& problems);
// "2026-12-09 06:30:00   nas:db0000-backup-....bk3   12,3 MB"
std::string OfferedCopyLine(const TqnOfferedCopy& copy);

// Downloads the copy. For a restore it lands under its own name in the
// backup folder (a file already there is used only when it has the same
// SHA-256); for a proof under a temporary name of the entry's. Throws with
// the reason.
TqnDownloadedCopy DownloadCopy(const TqnBackupEntry& entry, const TqnDestination& destination, const std::string& name,
                               bool forProof);

}  // namespace qn
