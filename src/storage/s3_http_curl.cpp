#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "base/error.h"
#include "base/text.h"
#include "storage/curl_transfer.h"
#include "storage/s3_http.h"

namespace qn::storage::s3 {

const char kEmptySha256[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

namespace {

struct Transfer {
  const HttpRequest* request = nullptr;
  HttpResponse* response = nullptr;
  CURL* curl = nullptr;
  size_t sent = 0;
  std::exception_ptr failure;  // the download's own error, passed on whole
};

size_t ReadBody(char* buffer, size_t size, size_t count, void* user) {
  Transfer* t = static_cast<Transfer*>(user);
  const size_t n = std::min(size * count, t->request->bodySize - t->sent);
  if (n) std::memcpy(buffer, t->request->body + t->sent, n);
  t->sent += n;
  return n;
}

// A resent body (after a redirect or an authentication round) starts again.
int SeekBody(void* user, curl_off_t offset, int origin) {
  Transfer* t = static_cast<Transfer*>(user);
  if (origin != SEEK_SET || offset < 0 || static_cast<size_t>(offset) > t->request->bodySize) return CURL_SEEKFUNC_FAIL;
  t->sent = static_cast<size_t>(offset);
  return CURL_SEEKFUNC_OK;
}

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  Transfer* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  long status = 0;
  curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
  if (status >= 200 && status < 300 && t->request->onBody) {
    try {
      t->request->onBody(data, n);
    } catch (...) {
      t->failure = std::current_exception();
      return 0;
    }
  } else if (t->response->body.size() < (1u << 20)) {
    t->response->body.append(data, n);
  }
  return n;
}

size_t WriteHeader(char* data, size_t size, size_t count, void* user) {
  Transfer* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  std::string line(data, n);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  if (line.rfind("HTTP/", 0) == 0) {
    t->response->headers.clear();  // a new reply (after "100 Continue")
  } else if (const size_t colon = line.find(':'); colon != std::string::npos) {
    t->response->headers[LowerCase(line.substr(0, colon))] = TrimBlanks(line.substr(colon + 1));
  }
  return n;
}

}  // namespace

HttpClient::HttpClient(const std::string& region, const std::string& accessKey, const std::string& secretKey,
                       int64_t maxBytesPerSecond)
    : curl_(nullptr),
      sigv4_("aws:amz:" + region + ":s3"),
      accessKey_(accessKey),
      secretKey_(secretKey),
      maxBytesPerSecond_(maxBytesPerSecond) {
  static const CURLcode global = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (global != CURLE_OK) throw Exception(curl_easy_strerror(global));
  curl_ = curl_easy_init();
  if (!curl_) throw Exception("curl_easy_init failed");
}

HttpClient::~HttpClient() { curl_easy_cleanup(static_cast<CURL*>(curl_)); }

HttpResponse HttpClient::Perform(const HttpRequest& request) {
  CURL* curl = static_cast<CURL*>(curl_);
  curl_easy_reset(curl);  // the connection stays open for the next request
  HttpResponse response;
  Transfer transfer{&request, &response, curl, 0, {}};
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_AWS_SIGV4, sigv4_.c_str());
  curl_easy_setopt(curl, CURLOPT_USERNAME, accessKey_.c_str());
  curl_easy_setopt(curl, CURLOPT_PASSWORD, secretKey_.c_str());
  curl_slist* headers = nullptr;
  const std::string sha = "x-amz-content-sha256: " + (request.bodySha256.empty() ? kEmptySha256 : request.bodySha256);
  headers = curl_slist_append(headers, sha.c_str());
  for (const std::string& h : request.headers) headers = curl_slist_append(headers, h.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  if (request.method == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else if (request.method == "PUT" || request.method == "POST") {
    // An upload from memory for both: libcurl then sends the body as given,
    // with its length, and no form content type that the signature misses.
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(request.bodySize));
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadBody);
    curl_easy_setopt(curl, CURLOPT_READDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, SeekBody);
    curl_easy_setopt(curl, CURLOPT_SEEKDATA, &transfer);
    if (request.method == "POST") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "POST");
    curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
    if (maxBytesPerSecond_ > 0)
      curl_easy_setopt(curl, CURLOPT_MAX_SEND_SPEED_LARGE, static_cast<curl_off_t>(maxBytesPerSecond_));
  } else if (request.method != "GET") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, WriteHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  SetCopyPatience(curl);
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  const CURLcode rc = curl_easy_perform(curl);
  curl_slist_free_all(headers);
  if (transfer.failure) std::rethrow_exception(transfer.failure);
  if (rc != CURLE_OK) {
    response.status = 0;
    response.transportError = *error ? error : curl_easy_strerror(rc);
  } else {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
  }
  return response;
}

}  // namespace qn::storage::s3
