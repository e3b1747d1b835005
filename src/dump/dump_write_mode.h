// Forced writes off while a database just created is filled, as a server
// restore does: pages are written without waiting for the disk, and the
// flag is set again at the end, failed or not.
//
// The guard switches only when the flag is on and the connection is the
// database's only one (as for a database just created) with no transaction
// active. The connection is detached while the flag changes, so that no
// page is being written when the server reopens the file, and attached
// again: statements prepared on it before are dead afterwards.
#pragma once

namespace qn {

class TqnFbConnection;

class TqnWriteModeGuard {
 public:
  explicit TqnWriteModeGuard(TqnFbConnection& connection);
  ~TqnWriteModeGuard();  // restores; never throws
  TqnWriteModeGuard(const TqnWriteModeGuard&) = delete;
  TqnWriteModeGuard& operator=(const TqnWriteModeGuard&) = delete;
  // Sets the flag again now; throws as the connection does.
  void Restore();

 private:
  bool OtherAttachments();
  void Switch(bool on);

  TqnFbConnection& connection_;
  bool switched_ = false;
};

}  // namespace qn
