// moto's S3 server on loopback with signatures checked: the first three
// calls (unchecked) make an IAM user, its policy and its access key; every
// call after them is checked against that key.
#pragma once

#include <curl/curl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "storage/s3_text.h"
#include "test_support/listening_port.h"

namespace qntest {

class MotoServer {
 public:
  MotoServer() {
    if (std::system("command -v moto_server >/dev/null 2>&1") != 0) {
      error_ = "moto_server is not installed";
      return;
    }
    port_ = ListeningPort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("INITIAL_NO_AUTH_ACTION_COUNT", "3", 1);
      const std::string port = std::to_string(port_);
      ::execlp("moto_server", "moto_server", "-H", "127.0.0.1", "-p", port.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 300 && PortIsFree(SOCK_STREAM, port_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (PortIsFree(SOCK_STREAM, port_)) {
      error_ = "moto_server did not start";
      return;
    }
    const std::string policy =
        "%7B%22Version%22%3A%222012-10-17%22%2C%22Statement%22%3A%5B%7B%22Effect%22%3A%22Allow%22%2C%22Action%22%3A%"
        "22%2A%22%2C%22Resource%22%3A%22%2A%22%7D%5D%7D";
    Iam("Action=CreateUser&UserName=copies&Version=2010-05-08");
    Iam("Action=PutUserPolicy&UserName=copies&PolicyName=all&PolicyDocument=" + policy + "&Version=2010-05-08");
    const std::string key = Iam("Action=CreateAccessKey&UserName=copies&Version=2010-05-08");
    accessKey_ = qn::storage::s3::XmlValue(key, "AccessKeyId");
    secretKey_ = qn::storage::s3::XmlValue(key, "SecretAccessKey");
    if (accessKey_.empty() || secretKey_.empty()) error_ = "moto gave no access key: " + key;
  }
  ~MotoServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  MotoServer(const MotoServer&) = delete;
  MotoServer& operator=(const MotoServer&) = delete;

  const std::string& Error() const { return error_; }
  std::string Endpoint() const { return "http://127.0.0.1:" + std::to_string(port_); }
  const std::string& AccessKey() const { return accessKey_; }
  const std::string& SecretKey() const { return secretKey_; }

 private:
  // An IAM call among the unchecked ones: its credential scope names the
  // service, as moto's single server dispatches by it.
  std::string Iam(const std::string& form) {
    std::string reply;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, (Endpoint() + "/").c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form.c_str());
    curl_slist* headers = curl_slist_append(
        nullptr,
        "Authorization: AWS4-HMAC-SHA256 Credential=setup/20260101/us-east-1/iam/aws4_request, SignedHeaders=host, "
        "Signature=0");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char* d, size_t s, size_t n, void* u) {
          static_cast<std::string*>(u)->append(d, s * n);
          return s * n;
        });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_perform(curl);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return reply;
  }

  uint16_t port_ = 0;
  pid_t pid_ = -1;
  std::string error_;
  std::string accessKey_;
  std::string secretKey_;
};

}  // namespace qntest
