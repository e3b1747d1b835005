// The services of a run around the core: the info servers, the main
// database connection, the Firebird 3.0 server check and the creation of
// new databases. They are plugged into the core's start-up hooks; both the
// window and the headless program own one for the whole run.
#pragma once

#include <atomic>

#include "app/application.h"
#include "app/operation_lock.h"
#include "firebird/fb_connection.h"
#include "infoserver/info_servers.h"

namespace qn {

class TqnRunServices {
 public:
  // runner hands work to the main thread and waits (UDP datagrams and the
  // conversion commands use it).
  TqnRunServices(TqnApplication& app, TqnMainThreadRunner runner);
  // Stops the info servers (see Stop) before the core goes.
  ~TqnRunServices();
  TqnRunServices(const TqnRunServices&) = delete;
  TqnRunServices& operator=(const TqnRunServices&) = delete;

  // Stops the info servers. A connection thread may be waiting for the main
  // thread, which is the caller: pending main-thread work is run while the
  // servers wind down, so that neither waits for the other. Remote backups
  // still waiting for the operation lock fail (an error reply) rather than
  // hold the exit; one that runs is let finish.
  void Stop();

  // The main connection (default transaction trnAuto, fixed parameters).
  TqnFbConnection& Connection() { return connection_; }
  // Held by every user of the main connection for a whole operation.
  TqnOperationLock& OperationLock() { return operationLock_; }
  const TqnInfoServers& InfoServers() const { return servers_; }
  // Runs work on the main thread and waits (directly when called there).
  void OnMainThread(const std::function<void()>& work) { runner_(work); }

  // The info server's remote backup and how the backup feature completes a
  // backup folder; set before start-up (the servers copy them then).
  void SetRemoteBackup(std::function<void(const TqnRemoteBackupRequest&)> perform,
                       std::function<std::string(const std::string&)> normalizeFolder) {
    performBackup_ = std::move(perform);
    normalizeBackupFolder_ = std::move(normalizeFolder);
  }
  // Sends a payload framed with the instance number from the UDP info
  // server to address, reply port; nothing when that server does not run.
  // Main thread (UDP requests are handled there).
  void SendUdpPayload(const std::string& address, const std::string& payload) {
    if (servers_.udp) servers_.udp->SendPayload(address, payload);
  }

 private:
  void StartInfoServers();
  void CreateEntryDatabase(TqnNode& entry);

  TqnApplication& app_;
  TqnMainThreadRunner runner_;
  std::atomic<bool> stopping_{false};
  TqnFbConnection connection_;
  TqnOperationLock operationLock_;
  TqnInfoServers servers_;
  std::function<void(const TqnRemoteBackupRequest&)> performBackup_;
  std::function<std::string(const std::string&)> normalizeBackupFolder_;
};

}  // namespace qn
