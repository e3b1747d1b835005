// The services manager of a Firebird server: backup and restore run by the
// server itself, with its verbose output read line by line.
//
// The service is reached as "host[/port]:service_mgr" with a version-2
// parameter block carrying the user name and password. Paths in requests
// are the server's paths, sent as given (any re-encoding is the caller's).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "firebird/fb_api.h"
#include "firebird/fb_client.h"

namespace qn {

// Receives each verbose output line of a service action.
using TqnServiceLineHandler = std::function<void(const std::string& line)>;

struct TqnFbBackupRequest {
  std::string database;    // the server-side database path
  std::string backupFile;  // the server-side backup file
  bool verbose = true;
  uint32_t options = fb::isc_spb_bkp_no_garbage_collect;
};

struct TqnFbRestoreRequest {
  std::string backupFile;  // the server-side backup file
  std::string database;    // the server-side database path
  bool verbose = true;
  uint32_t options = fb::isc_spb_res_create;  // or isc_spb_res_replace
  // The character set of the metadata fix (isc_spb_res_fix_fss_metadata),
  // e.g. "WIN1251"; empty for none.
  std::string fixFssMetadata;
  // The page cache the restore works with (isc_spb_res_buffers), which the
  // restored database also keeps; 0 for the server's default.
  uint32_t pageBuffers = 0;
};

// "host:service_mgr", or "host/port:service_mgr" when port is not 0.
std::string ServiceManagerName(const std::string& host, int port);

// The parameter blocks, as the services API lays them out: attach items
// with a 1-byte length; action items with a 2-byte little-endian length
// (texts) or a 4-byte little-endian value (options). Throw Exception when a
// text is too long for its length field.
std::string ServiceAttachBlock(const std::string& user, const std::string& password);
std::string BackupRequestBlock(const TqnFbBackupRequest& request);
std::string RestoreRequestBlock(const TqnFbRestoreRequest& request);

// Reads the answer to an isc_info_svc_line query: true with the line when
// it begins with isc_info_svc_line (an empty line means the output ended);
// false when it does not.
bool ParseServiceLine(const char* buffer, size_t size, std::string& line);

class TqnFbServices {
 public:
  explicit TqnFbServices(std::shared_ptr<TqnFbClient> client);
  ~TqnFbServices();  // detaches; never throws
  TqnFbServices(const TqnFbServices&) = delete;
  TqnFbServices& operator=(const TqnFbServices&) = delete;

  // Throws EqnFbError (e.g. isc_login); detaches first when attached.
  void Attach(const std::string& host, int port, const std::string& user, const std::string& password);
  // Throws EqnFbError; the service counts as detached all the same.
  void Detach();
  bool Attached() const { return handle_ != 0; }

  // Starts an action given by its request block. Throws EqnFbError.
  void Start(const std::string& requestBlock);
  // Queries isc_info_svc_line into a 1024-byte buffer until the service
  // returns an empty line, handing each line to the handler (which may
  // throw to stop). Throws EqnFbError, or Exception "Unexpected service
  // answer <byte>" for a result that does not begin with isc_info_svc_line.
  void ReadLines(const TqnServiceLineHandler& onLine);

  // One whole action: attach, start, read the lines when verbose, and
  // detach in every case, also when the handler throws.
  void Run(const std::string& host, int port, const std::string& user, const std::string& password,
           const std::string& requestBlock, bool verbose, const TqnServiceLineHandler& onLine);
  void Backup(const std::string& host, int port, const std::string& user, const std::string& password,
              const TqnFbBackupRequest& request, const TqnServiceLineHandler& onLine);
  void Restore(const std::string& host, int port, const std::string& user, const std::string& password,
               const TqnFbRestoreRequest& request, const TqnServiceLineHandler& onLine);

 private:
  std::shared_ptr<TqnFbClient> client_;
  fb::isc_svc_handle handle_ = 0;
};

}  // namespace qn
