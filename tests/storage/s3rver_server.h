// s3rver (from npm, unpacked by bench/storage/fetch-s3rver.sh) on loopback
// for the copy bench: it checks V4 signatures and the payload's SHA-256,
// keeps objects on disk and assembles a multipart upload by streaming its
// parts, as a real store does, where moto does it slowly in memory. Its
// key is its own fixed one.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "test_support/listening_port.h"
#include "test_support/temp_dir.h"

namespace qntest {

class S3rverServer {
 public:
  explicit S3rverServer(const std::string& program) {
    if (program.empty() || ::access(program.c_str(), X_OK) != 0) {
      error_ = "s3rver is not there (bench/storage/fetch-s3rver.sh): " + program;
      return;
    }
    port_ = ListeningPort();
    pid_ = ::fork();
    if (pid_ == 0) {
      const std::string port = std::to_string(port_);
      ::execl(program.c_str(), program.c_str(), "-d", dir_.path().c_str(), "-a", "127.0.0.1", "-p", port.c_str(), "-s",
              "--no-vhost-buckets", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 300 && PortIsFree(SOCK_STREAM, port_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (PortIsFree(SOCK_STREAM, port_)) error_ = "s3rver did not start";
  }
  ~S3rverServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  S3rverServer(const S3rverServer&) = delete;
  S3rverServer& operator=(const S3rverServer&) = delete;

  const std::string& Error() const { return error_; }
  std::string Endpoint() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string AccessKey() const { return "S3RVER"; }
  std::string SecretKey() const { return "S3RVER"; }

 private:
  TempDir dir_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  std::string error_;
};

}  // namespace qntest
