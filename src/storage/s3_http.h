// One S3 request over libcurl, signed with AWS Signature V4 by libcurl
// itself. The caller gives the URL with its query already in canonical form
// and the body's SHA-256 (libcurl 7.88.1 neither sorts the query nor hashes
// the body). One handle is kept, so requests reuse the connection.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qn::storage::s3 {

struct HttpRequest {
  std::string method = "GET";  // GET, HEAD, PUT, POST, DELETE
  std::string url;
  std::vector<std::string> headers;  // "name: value"
  // The body, sent as is; its SHA-256 goes as x-amz-content-sha256 (that of
  // no bytes when empty).
  const char* body = nullptr;
  size_t bodySize = 0;
  std::string bodySha256;
  // A successful reply's body, handed over as it arrives (a download); an
  // error's body is always kept in HttpResponse::body.
  std::function<void(const char* data, size_t size)> onBody;
};

struct HttpResponse {
  long status = 0;                             // 0 when no reply came
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string transportError;  // libcurl's text when no reply came
};

class HttpClient {
 public:
  // maxBytesPerSecond 0 for no limit on sending.
  HttpClient(const std::string& region, const std::string& accessKey, const std::string& secretKey,
             int64_t maxBytesPerSecond);
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  HttpResponse Perform(const HttpRequest& request);

 private:
  void* curl_;
  std::string sigv4_;
  std::string accessKey_;
  std::string secretKey_;
  int64_t maxBytesPerSecond_;
};

// The SHA-256 of no bytes, the payload hash of a request without a body.
extern const char kEmptySha256[];

}  // namespace qn::storage::s3
