// The figures monitoring systems chart for each entry with automatic
// backups, beside the health --status gives: when the latest backup and the
// latest verified backup ended (Unix times), how old the verified one is,
// and from the backup folder's catalogue the newest verified backup's size
// and how long its proving restore took (the time to recover).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/clock.h"
#include "settings/backup_state.h"
#include "xml/xml_dom.h"

namespace qn {

struct TqnStatusFigures {
  TqnStatusLine line;
  std::string lastState;            // "verified", "unverified", "failed" or ""
  int64_t lastBackupTime = -1;      // Unix time, -1 when none
  int64_t lastVerifiedTime = -1;    // Unix time, -1 when none
  int64_t verifiedAgeSeconds = -1;  // now minus lastVerifiedTime, -1 when none
  long long sizeBytes = -1;         // the newest verified backup's, -1 when not catalogued
  long long restoreMs = -1;         // its restore's, -1 when not catalogued
  std::string backupFolder;         // where its catalogue lies (normalised)
  std::string entryId;              // the entry's identity, as its catalogue lines carry it
};

struct TqnStatusSnapshot {
  std::vector<TqnStatusFigures> entries;
  int staleHours = kDefaultStaleHours;
  int exitCode = 0;  // as --status: 0 ok, 1 stale, 2 failed
};

// Everything but the catalogues' figures, from the settings tree alone (so
// that a caller holding the settings' lock does no file reads).
TqnStatusSnapshot StatusSnapshot(const TqnNode& root, const DateTime& now);
// Adds the size and restore time of each entry's newest verified backup
// from its folder's catalogue; an unreadable catalogue leaves them -1.
void AddCatalogueFigures(TqnStatusSnapshot& snapshot);

// Both steps, for a reader that owns its tree.
TqnStatusSnapshot ReadStatusFigures(const TqnNode& root, const DateTime& now);

// "yyyy-mm-dd hh:nn:ss" (seconds optional) as a local time as Unix time;
// -1 when it is not one.
int64_t StampUnixTime(const std::string& stamp);

}  // namespace qn
