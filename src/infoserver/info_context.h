// What the info server needs from the rest of the program, filled in once at
// start-up by the owner (the main window) and only read afterwards. The
// servers keep their own copy; the objects the pointers and callbacks refer
// to must outlive the servers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "firebird/connect_string.h"
#include "ipc/log.h"
#include "ipc/message_pane.h"
#include "xml/xml_dom.h"

namespace qn {

// A remote backup as the "perform-database-backup" command asks for it.
struct TqnRemoteBackupRequest {
  std::string entryKey;    // the entry's element name, as found in the register
  std::string fileName;    // backup folder + "remote-" + time stamp + ".bk3"/".fbk"
  std::string peer;        // the requester's IP address for UDP, "" for TCP
  uint32_t requestNumber;  // for the progress packets sent to a UDP requester
};

struct TqnInfoContext {
  std::string packetKey;       // the settings value "PIN"
  int32_t instanceNumber = 0;  // the number field of every packet sent
  TqnAddressContext address;   // local host name and the address rules' flags

  TqnLog* log = nullptr;           // null: no log lines
  TqnMessagePane* pane = nullptr;  // null: no pane
  const Clock* clock = nullptr;    // time of backup file names; null: the system clock

  // Runs fn with the settings root under the settings lock: readers share
  // it, the main thread takes it exclusively to change the tree. fn only
  // reads and never calls back into the owner. Required.
  std::function<void(const std::function<void(const TqnNode& root)>& fn)> readSettings;

  // Whether the private Firebird 3.0 server runs; null answers "0".
  std::function<bool()> isFb30Running;
  // The two conversion-lock commands: gets the whole word list (the command
  // first) and returns the reply payload; null gives no reply. Called
  // outside the settings lock, as it hands the work to the main thread.
  std::function<std::string(const std::vector<std::string>& words)> runFb30ConvertCommand;
  // The backup folder as the backup feature normalises it; null leaves the
  // stored folder as it is.
  std::function<std::string(const std::string& folder)> normalizeBackupFolder;
  // Runs a remote backup to its end on the calling thread; throws
  // qn::Exception on failure. Called outside the settings lock. Null: the
  // request is answered with an error.
  std::function<void(const TqnRemoteBackupRequest& request)> performBackup;
};

// Writes a log line when the context has a log (level 0 always, 2 debug).
void InfoLog(const TqnInfoContext& ctx, const std::string& text, int level);

}  // namespace qn
