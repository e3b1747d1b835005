// A bucket of an S3-compatible object store as a place for copies: Amazon
// S3, Yandex Object Storage or any store of that API, over libcurl with
// path-style URLs ("endpoint/bucket/prefix+name").
//
// A write is one PUT, or a multipart upload for objects larger than a part;
// either gives the name the new object in one step, and an upload that does
// not complete leaves no object. Each body goes with its real SHA-256 as the
// signed payload hash and its Content-MD5, so the store refuses bytes
// changed on the way, and the ETag it answers is compared with the MD5 sent.
// A refused or failed part is sent again after a growing pause.
//
// Objects can be locked: COMPLIANCE mode, which nobody can shorten or lift,
// not even an account that may bypass GOVERNANCE. A copy kept against
// ransomware that holds the office's keys must not be removable with those
// keys, and the price of a lock set by mistake is only its days of storage.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/error.h"
#include "storage/storage.h"

namespace qn::storage {

struct S3Config {
  std::string endpoint;  // "https://host[:port]" ("http://" for a store on loopback)
  std::string region;
  std::string bucket;
  std::string prefix;  // put before every name ("office1/"), may be empty
  std::string accessKey;
  std::string secretKey;
  // Each new object locked for that many days unless WriteOptions says
  // otherwise; 0 for none.
  int lockDays = 0;
  // The upload's limit in kilobits per second (1000 bits), 0 for none.
  int64_t maxKbps = 0;
  size_t partSize = 16 * 1024 * 1024;  // at least 5 MiB (the store's own minimum)
  int attempts = 4;                    // per request that may be repeated
  int retryDelayMs = 1000;             // the first pause, doubled each time
  // Told the bytes stored so far after each part (or the whole object) the
  // store has taken, for showing a long copy's progress.
  std::function<void(int64_t storedBytes)> onStored;
  // Tests only: sees a body after its checksums are taken, before it is sent.
  std::function<void(std::string& body)> afterHashing;
};

// A store's refusal: its own error code ("AccessDenied", "BadDigest") or
// the HTTP status when it gave none; the message names the bucket and key.
class S3Error : public Exception {
 public:
  S3Error(const std::string& message, std::string code, long httpStatus)
      : Exception(message), code_(std::move(code)), httpStatus_(httpStatus) {}
  const std::string& Code() const { return code_; }
  long HttpStatus() const { return httpStatus_; }  // 0 when no reply came

 private:
  std::string code_;
  long httpStatus_;
};

class S3Storage : public Storage {
 public:
  static constexpr size_t kMinPartSize = 5 * 1024 * 1024;

  explicit S3Storage(S3Config config);
  ~S3Storage() override;

  std::string Describe() const override;
  std::vector<std::string> List() override;
  ObjectInfo Info(const std::string& name) override;
  void Read(const std::string& name, const std::function<void(const char* data, size_t size)>& onChunk) override;
  WrittenObject Write(const std::string& name, ByteSource& source, const WriteOptions& options = {}) override;
  // An object store has no rename: a copy and a delete would leave both names
  // or a locked original behind. Throws; nothing here needs it, as Write
  // is atomic already.
  void Rename(const std::string& from, const std::string& to) override;
  void Remove(const std::string& name) override;
  bool Check(const std::string& name, const WrittenObject& written, std::string* why) override;

  // The names of unfinished multipart uploads under the prefix.
  std::vector<std::string> UnfinishedUploads();
  // Aborts the unfinished uploads under the prefix begun before that time
  // (those of an earlier run that was stopped or killed), so that their
  // parts do not stay stored; returns how many.
  int AbortStaleUploads(int64_t begunBeforeUnix);
  // Makes the bucket, with Object Lock (and so versioning) when asked.
  void CreateBucket(bool objectLock);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qn::storage
