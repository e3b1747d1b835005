// One copy of a proven backup to one destination: the destination must
// carry its marker; the local file is streamed there under the backup's
// name at the destination, read back and compared, recorded in the
// destination's own catalogue, and the destination's retention then thins
// out the entry's older copies there.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "backup/backup_catalogue.h"
#include "backup/backup_keeper.h"
#include "backup/backup_runner.h"
#include "backup/destinations.h"
#include "base/clock.h"
#include "ipc/log.h"
#include "storage/storage.h"

namespace qn {

struct TqnCopyJob {
  TqnBackupEntry entry;
  std::string file;           // the local backup
  TqnCatalogueRecord record;  // its line in the local catalogue
  TqnDestination destination;
};

struct TqnCopyResult {
  bool ok = false;
  std::string object;   // its name at the destination
  std::string message;  // why it failed
};

// Wraps the copy's source (a test makes a destination slow with it).
using TqnSourceHook = std::function<std::unique_ptr<storage::ByteSource>(std::unique_ptr<storage::ByteSource>)>;

// Never throws: a failure is the result. stop, when set, ends a copy under
// way (it then fails and leaves nothing under the backup's name).
TqnCopyResult CopyToDestination(const TqnCopyJob& job, const DateTime& now, TqnLog& log,
                                const std::atomic<bool>* stop = nullptr, const TqnSourceHook& hook = {});

// The destination's retention rules for an entry's copies.
TqnRetentionRules DestinationRetentionRules(const TqnDestination& destination, const std::string& entryName);

}  // namespace qn
