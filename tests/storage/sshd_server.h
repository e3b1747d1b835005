// OpenSSH's server on loopback for the SFTP tests (the one
// scripts/fetch-sshd.sh unpacks, QN_SSHD): host and client keys made with
// ssh-keygen in a folder of its own, only the SFTP subsystem, only the
// client key. Run as root, it serves as "nobody" (sshd as root wants a
// privilege separation user the machine may not have); otherwise as the
// test's own user. The folder Folder() names is writable by that user.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "test_support/listening_port.h"
#include "test_support/temp_dir.h"

namespace qntest {

class SshdServer {
 public:
  SshdServer() {
#ifdef QN_SSHD
    const std::string sshd = QN_SSHD;
#else
    const std::string sshd;
#endif
    if (sshd.empty() || ::access(sshd.c_str(), X_OK) != 0) {
      error_ = "no OpenSSH server unpacked (scripts/fetch-sshd.sh): " + sshd;
      return;
    }
    ::chmod(dir_.path().c_str(), 0755);
    const bool root = ::geteuid() == 0;
    const passwd* pw = root ? ::getpwnam("nobody") : ::getpwuid(::geteuid());
    if (!pw) {
      error_ = "no user to serve as";
      return;
    }
    user_ = pw->pw_name;
    const std::string keys = "ssh-keygen -q -t ed25519 -N '' -f '" + dir_.File("host_key") + "' && ssh-keygen -q -t " +
                             "ed25519 -N '' -f '" + dir_.File("client_key") + "' && cp '" +
                             dir_.File("client_key.pub") + "' '" + dir_.File("authorized_keys") + "'";
    if (std::system(keys.c_str()) != 0) {
      error_ = "ssh-keygen failed";
      return;
    }
    hostKey_ = Fingerprint(dir_.File("host_key.pub"));
    port_ = ListeningPort();
    std::ofstream(dir_.File("sshd_config"))
        << "Port " << port_ << "\nListenAddress 127.0.0.1\nHostKey " << dir_.File("host_key") << "\nAuthorizedKeysFile "
        << dir_.File("authorized_keys")
        << "\nPidFile none\nStrictModes no\nUsePAM yes\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
           "Subsystem sftp internal-sftp\nForceCommand internal-sftp\nAllowTcpForwarding no\nX11Forwarding no\n"
           "LogLevel ERROR\n";
    folder_ = dir_.File("copies");
    ::mkdir(folder_.c_str(), 0777);
    ::chmod(folder_.c_str(), 0777);
    if (root)
      for (const char* f : {"host_key", "host_key.pub", "authorized_keys", "sshd_config"})
        if (::chown(dir_.File(f).c_str(), pw->pw_uid, pw->pw_gid) != 0) error_ = "chown failed";
    const std::string libs =
        sshd.substr(0, sshd.size() - std::string("/usr/sbin/sshd").size()) + "/usr/lib/x86_64-linux-gnu";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("LD_LIBRARY_PATH", libs.c_str(), 1);
      const std::string config = dir_.File("sshd_config");
      const std::string log = dir_.File("sshd.log");
      std::freopen(log.c_str(), "w", stderr);
      if (root) {
        if (::setgid(pw->pw_gid) != 0 || ::setgroups(0, nullptr) != 0 || ::setuid(pw->pw_uid) != 0) ::_exit(126);
      }
      ::execl(sshd.c_str(), sshd.c_str(), "-D", "-e", "-f", config.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 100 && PortIsFree(SOCK_STREAM, port_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (PortIsFree(SOCK_STREAM, port_)) error_ = "sshd did not start: " + Log();
  }
  ~SshdServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  SshdServer(const SshdServer&) = delete;
  SshdServer& operator=(const SshdServer&) = delete;

  const std::string& Error() const { return error_; }
  std::string Endpoint() const { return "sftp://127.0.0.1:" + std::to_string(port_); }
  const std::string& User() const { return user_; }
  std::string ClientKey() const { return dir_.File("client_key"); }
  // "SHA256:..." of the server's host key, and of a key it does not have.
  const std::string& HostKey() const { return hostKey_; }
  std::string OtherHostKey() {
    if (std::system(("ssh-keygen -q -t ed25519 -N '' -f '" + dir_.File("other") + "'").c_str()) != 0) return "";
    return Fingerprint(dir_.File("other.pub"));
  }
  // The folder the client may write, as the server sees it (and so do we).
  const std::string& Folder() const { return folder_; }
  std::string Log() const {
    std::ifstream in(dir_.File("sshd.log"));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  static std::string Fingerprint(const std::string& publicKey) {
    std::string out;
    if (FILE* p = ::popen(("ssh-keygen -lf '" + publicKey + "'").c_str(), "r")) {
      char line[512] = {};
      if (std::fgets(line, sizeof line, p)) out = line;
      ::pclose(p);
    }
    const size_t start = out.find("SHA256:");
    return start == std::string::npos ? "" : out.substr(start, out.find(' ', start) - start);
  }

  TempDir dir_;
  std::string user_;
  std::string hostKey_;
  std::string folder_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  std::string error_;
};

}  // namespace qntest
