#include "storage/s3_storage.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <utility>

#include "base/sha256.h"
#include "base/text.h"
#include "storage/crypto.h"
#include "storage/s3_http.h"
#include "storage/s3_text.h"

namespace qn::storage {

using s3::HttpRequest;
using s3::HttpResponse;
using Query = std::vector<std::pair<std::string, std::string>>;

namespace {

int64_t NowUnix() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The store's replies that another try may cure: no reply, the store's own
// trouble, and a body that did not arrive as it was sent.
bool Retryable(const std::string& code, long status) {
  static const char* const kCodes[] = {"RequestTimeout",
                                       "SlowDown",
                                       "InternalError",
                                       "ServiceUnavailable",
                                       "BadDigest",
                                       "InvalidDigest",
                                       "XAmzContentSHA256Mismatch",
                                       "IncompleteBody",
                                       "ETagMismatch"};
  for (const char* c : kCodes)
    if (code == c) return true;
  return status == 0 || status == 408 || status == 429 || status >= 500;
}

// A body of the store's own size: sent from memory, its checksums taken once.
struct Body {
  const char* data = nullptr;
  size_t size = 0;
  std::string sha256;
  std::string md5;  // raw

  void Hash() {
    TqnSha256 sha;
    sha.Update(data, size);
    sha256 = sha.HexDigest();
    Md5 m;
    m.Update(data, size);
    md5 = m.Digest();
  }
};

}  // namespace

struct S3Storage::State {
  S3Config config;
  std::string prefixUtf8;
  std::unique_ptr<s3::HttpClient> http;

  bool slashAsIs = false;

  // The URL with each "%2F" of its query as '/'; false when it has none.
  static bool SlashAsIs(std::string& url) {
    const size_t query = url.find('?');
    bool changed = false;
    for (size_t at = url.find("%2F", query); query != std::string::npos && at != std::string::npos;
         at = url.find("%2F", at)) {
      url.replace(at, 3, "/");
      changed = true;
    }
    return changed;
  }

  std::string Describe() const { return "s3://" + config.bucket + "/" + config.prefix; }

  std::string KeyOf(const std::string& name) const { return prefixUtf8 + Win1251ToUtf8(name); }

  std::string Url(const std::string& key, const Query& query) const {
    std::string endpoint = config.endpoint;
    while (!endpoint.empty() && endpoint.back() == '/') endpoint.pop_back();
    std::string url = endpoint + "/" + s3::UriEncode(config.bucket, false);
    if (!key.empty()) url += "/" + s3::UriEncode(key, true);
    if (!query.empty()) url += "?" + s3::CanonicalQuery(query);
    if (slashAsIs) SlashAsIs(url);
    return url;
  }

  [[noreturn]] void Fail(const std::string& name, const std::string& what, const HttpResponse& r) const {
    std::string code = s3::XmlValue(r.body, "Code");
    std::string detail;
    if (r.status == 0) {
      detail = Win1251("нет ответа: ") + r.transportError;
    } else {
      detail = (code.empty() ? "" : code + " ") + "(HTTP " + std::to_string(r.status) + ")";
      const std::string message = s3::XmlValue(r.body, "Message");
      std::string text;
      if (!message.empty()) detail += ": " + (Utf8ToWin1251(message, text) ? text : message);
    }
    if (code.empty() && r.status == 404) code = "NotFound";
    throw S3Error(Describe() + (name.empty() ? "" : Win1251(", объект \"") + name + "\"") + ": " + what + ": " + detail,
                  code, r.status);
  }

  // One request, repeated with growing pauses while the failure is one that
  // may pass. A reply that check refuses counts as a failure with its code.
  // before, when given, prepares the request afresh for each attempt.
  HttpResponse Perform(const std::string& name, const std::string& what, HttpRequest request,
                       const std::function<std::string(const HttpResponse&)>& check = {},
                       const std::function<void(HttpRequest&)>& before = {}) {
    int delay = config.retryDelayMs;
    for (int attempt = 1;; ++attempt) {
      if (before) before(request);
      HttpResponse r = http->Perform(request);
      std::string code = s3::XmlValue(r.body, "Code");
      // CompleteMultipartUpload may answer 200 with an error in its body.
      bool ok = r.status >= 200 && r.status < 300 && code.empty();
      if (ok && check) {
        code = check(r);
        ok = code.empty();
        if (!ok)
          r.body = "<Error><Code>" + code + "</Code><Message>" +
                   "хранилище получило не те байты, что были посчитаны и отправлены" + "</Message></Error>";
      }
      if (ok) return r;
      if (r.status == 403 && code == "SignatureDoesNotMatch" && !slashAsIs && SlashAsIs(request.url)) {
        // Stores differ on a '/' in a query value: S3 signs it encoded,
        // moto as it is. Once refused, the other form is used from then on.
        slashAsIs = true;
        --attempt;
        continue;
      }
      if (attempt >= std::max(1, config.attempts) || !Retryable(code, r.status)) Fail(name, what, r);
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
      delay *= 2;
    }
  }

  // Sends a body with its checksums; the test hook, when set, sees a copy of
  // it before each attempt.
  HttpResponse Send(const std::string& name, const std::string& what, HttpRequest request, const Body& body,
                    const std::function<std::string(const HttpResponse&)>& check) {
    request.bodySha256 = body.sha256;
    request.headers.push_back("Content-MD5: " + Base64Of(body.md5));
    request.body = body.data;
    request.bodySize = body.size;
    if (!config.afterHashing) return Perform(name, what, request, check);
    std::string altered;
    return Perform(name, what, request, check, [&](HttpRequest& r) {
      altered.assign(body.data, body.size);
      config.afterHashing(altered);
      r.body = altered.data();
      r.bodySize = altered.size();
    });
  }

  std::vector<std::string> LockHeaders(const WriteOptions& options) const {
    int64_t until = options.lockUntilUnix;
    if (until == 0 && config.lockDays > 0) until = NowUnix() + int64_t{config.lockDays} * 86400;
    if (until == 0) return {};
    return {"x-amz-object-lock-mode: COMPLIANCE", "x-amz-object-lock-retain-until-date: " + s3::FormatIsoTime(until)};
  }

  // The ETag answered for a body must be the MD5 of what was sent; another
  // one means the store holds other bytes.
  static std::function<std::string(const HttpResponse&)> EtagIs(const std::string& md5Hex) {
    return [md5Hex](const HttpResponse& r) -> std::string {
      auto it = r.headers.find("etag");
      if (it == r.headers.end()) return "";  // a store that does not say cannot be checked here; Check will
      return s3::Unquoted(it->second) == md5Hex ? "" : "ETagMismatch";
    };
  }
};

S3Storage::S3Storage(S3Config config) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.config = std::move(config);
  s.config.partSize = std::max(s.config.partSize, kMinPartSize);
  s.prefixUtf8 = Win1251ToUtf8(s.config.prefix);
  const int64_t bytesPerSecond = s.config.maxKbps > 0 ? std::max<int64_t>(1, s.config.maxKbps * 1000 / 8) : 0;
  s.http = std::make_unique<s3::HttpClient>(s.config.region, s.config.accessKey, s.config.secretKey, bytesPerSecond);
}

S3Storage::~S3Storage() = default;

std::string S3Storage::Describe() const { return state_->Describe(); }

std::vector<std::string> S3Storage::List() {
  State& s = *state_;
  std::vector<std::string> names;
  std::string token;
  for (;;) {
    Query query = {{"list-type", "2"}, {"prefix", s.prefixUtf8}};
    if (!token.empty()) query.push_back({"continuation-token", token});
    HttpRequest request;
    request.url = s.Url("", query);
    const HttpResponse r = s.Perform("", Win1251("список объектов"), request);
    for (const std::string& key : s3::XmlValues(r.body, "Key")) {
      if (key.compare(0, s.prefixUtf8.size(), s.prefixUtf8) != 0) continue;
      const std::string rest = key.substr(s.prefixUtf8.size());
      std::string name;
      // Only plain names are the place's own; deeper keys belong to others.
      if (rest.empty() || rest.find('/') != std::string::npos || !Utf8ToWin1251(rest, name)) continue;
      names.push_back(name);
    }
    token = s3::XmlValue(r.body, "NextContinuationToken");
    if (s3::XmlValue(r.body, "IsTruncated") != "true" || token.empty()) break;
  }
  return names;
}

ObjectInfo S3Storage::Info(const std::string& name) {
  State& s = *state_;
  HttpRequest request;
  request.method = "HEAD";
  request.url = s.Url(s.KeyOf(name), {});
  ObjectInfo info;
  info.name = name;
  HttpResponse r = s.http->Perform(request);
  if (r.status == 404) return info;
  if (r.status != 200) {
    // HEAD carries no error body: a second try for a passing trouble, then
    // the status.
    r = s.Perform(name, Win1251("сведения об объекте"), request);
    if (r.status == 404) return info;
  }
  auto header = [&](const char* n) {
    auto it = r.headers.find(n);
    return it == r.headers.end() ? std::string() : it->second;
  };
  info.exists = true;
  info.size = header("content-length").empty() ? -1 : std::stoll(header("content-length"));
  info.modifiedUnix = s3::ParseHttpDate(header("last-modified"));
  info.storeChecksum = s3::Unquoted(header("etag"));
  info.lockedUntilUnix = s3::ParseIsoTime(header("x-amz-object-lock-retain-until-date"));
  return info;
}

void S3Storage::Read(const std::string& name, const std::function<void(const char* data, size_t size)>& onChunk) {
  State& s = *state_;
  HttpRequest request;
  request.url = s.Url(s.KeyOf(name), {});
  request.onBody = onChunk;
  // Not repeated: part of the object may have been handed on already.
  const HttpResponse r = s.http->Perform(request);
  if (r.status != 200) s.Fail(name, Win1251("чтение объекта"), r);
}

WrittenObject S3Storage::Write(const std::string& name, ByteSource& source, const WriteOptions& options) {
  State& s = *state_;
  const std::string key = s.KeyOf(name);
  const std::vector<std::string> lock = s.LockHeaders(options);
  const size_t partSize = s.config.partSize;
  // Two parts in memory at most, whatever the object's size: the next one
  // is read and hashed while the current one is on its way.
  struct Part {
    std::unique_ptr<char[]> data;
    size_t size = 0;
    std::string sha256, md5;
  };
  TqnSha256 whole;
  // Most stores answer a multipart upload with the MD5 of the parts' MD5s
  // and their count; some with the MD5 of the whole object: both are kept.
  Md5 wholeMd5;
  auto prepare = [&](Part& part) {
    if (!part.data) part.data.reset(new char[partSize]);
    part.size = 0;
    while (part.size < partSize) {
      const size_t n = source.Read(part.data.get() + part.size, partSize - part.size);
      if (n == 0) break;
      part.size += n;
    }
    Body body{part.data.get(), part.size, {}, {}};
    body.Hash();
    part.sha256 = body.sha256;
    part.md5 = body.md5;
    whole.Update(part.data.get(), part.size);
    wholeMd5.Update(part.data.get(), part.size);
  };
  WrittenObject written;
  Part current, next;
  prepare(current);

  if (current.size < partSize) {
    Body body{current.data.get(), current.size, current.sha256, current.md5};
    HttpRequest request;
    request.method = "PUT";
    request.url = s.Url(key, {});
    request.headers = lock;
    s.Send(name, Win1251("запись объекта"), request, body, State::EtagIs(HexOf(body.md5)));
    written.size = static_cast<int64_t>(current.size);
    written.sha256Hex = body.sha256;
    written.storeChecksum = HexOf(body.md5);
    if (s.config.onStored) s.config.onStored(written.size);
    return written;
  }

  HttpRequest create;
  create.method = "POST";
  create.url = s.Url(key, {{"uploads", ""}});
  create.headers = lock;
  const std::string uploadId =
      s3::XmlValue(s.Perform(name, Win1251("начало загрузки по частям"), create).body, "UploadId");
  if (uploadId.empty())
    throw S3Error(Describe() + Win1251(": хранилище не дало номер загрузки для \"") + name + "\"", "", 200);
  try {
    std::vector<std::string> partMd5s;
    std::string parts;
    while (current.size > 0) {
      const int number = static_cast<int>(partMd5s.size()) + 1;
      if (number > 10000) throw Exception(Describe() + Win1251(": объект больше 10000 частей: \"") + name + "\"");
      // Waited for on every way out, an exception included (the future's
      // destructor joins).
      std::future<void> reading =
          current.size == partSize ? std::async(std::launch::async, [&] { prepare(next); }) : std::future<void>();
      Body body{current.data.get(), current.size, current.sha256, current.md5};
      HttpRequest part;
      part.method = "PUT";
      part.url = s.Url(key, {{"partNumber", std::to_string(number)}, {"uploadId", uploadId}});
      s.Send(name, Win1251("запись части ") + std::to_string(number), part, body, State::EtagIs(HexOf(body.md5)));
      partMd5s.push_back(body.md5);
      parts += "<Part><PartNumber>" + std::to_string(number) + "</PartNumber><ETag>\"" + HexOf(body.md5) +
               "\"</ETag></Part>";
      written.size += static_cast<int64_t>(current.size);
      if (s.config.onStored) s.config.onStored(written.size);
      if (!reading.valid()) break;
      reading.get();
      std::swap(current, next);
    }
    const std::string xml = "<CompleteMultipartUpload>" + parts + "</CompleteMultipartUpload>";
    Body body{xml.data(), xml.size(), {}, {}};
    body.Hash();
    const std::string expected = s3::MultipartEtag(partMd5s);
    HttpRequest complete;
    complete.method = "POST";
    complete.url = s.Url(key, {{"uploadId", uploadId}});
    complete.body = body.data;
    complete.bodySize = body.size;
    complete.bodySha256 = body.sha256;
    complete.headers.push_back("Content-MD5: " + Base64Of(body.md5));
    const HttpResponse r = s.Perform(name, Win1251("завершение загрузки по частям"), complete);
    const std::string etag = s3::Unquoted(s3::XmlValue(r.body, "ETag"));
    const std::string wholeHex = HexOf(wholeMd5.Digest());
    if (!etag.empty() && etag != expected && etag != wholeHex)
      throw S3Error(Describe() + Win1251(", объект \"") + name + Win1251("\": хранилище собрало другой объект (ETag ") +
                        etag + Win1251(", а не ") + expected + ")",
                    "ETagMismatch", r.status);
    written.storeChecksum = etag == wholeHex ? wholeHex : expected;
  } catch (...) {
    // The parts sent are dropped; the name never showed any of them.
    HttpRequest abort;
    abort.method = "DELETE";
    abort.url = s.Url(key, {{"uploadId", uploadId}});
    s.http->Perform(abort);
    throw;
  }
  written.sha256Hex = whole.HexDigest();
  return written;
}

void S3Storage::Rename(const std::string& from, const std::string& to) {
  throw Exception(Describe() + Win1251(": хранилище объектов не переименовывает (\"") + from + "\" -> \"" + to +
                  Win1251("\"); запись в него и так атомарна"));
}

void S3Storage::Remove(const std::string& name) {
  State& s = *state_;
  HttpRequest head;
  head.method = "HEAD";
  head.url = s.Url(s.KeyOf(name), {});
  const HttpResponse h = s.Perform(name, Win1251("удаление объекта"), head);
  auto lock = h.headers.find("x-amz-object-lock-retain-until-date");
  const int64_t until = lock == h.headers.end() ? 0 : s3::ParseIsoTime(lock->second);
  if (until > NowUnix())
    throw S3Error(
        Describe() + Win1251(", объект \"") + name + Win1251("\": защищён от удаления до ") + s3::FormatIsoTime(until),
        "ObjectLocked", 0);
  // With versioning (which Object Lock needs) a plain DELETE only hides the
  // object behind a marker: the version itself is deleted, so that its
  // storage ends too.
  Query query;
  auto version = h.headers.find("x-amz-version-id");
  if (version != h.headers.end() && !version->second.empty() && version->second != "null")
    query.push_back({"versionId", version->second});
  HttpRequest request;
  request.method = "DELETE";
  request.url = s.Url(s.KeyOf(name), query);
  s.Perform(name, Win1251("удаление объекта"), request);
}

bool S3Storage::Check(const std::string& name, const WrittenObject& written, std::string* why) {
  const ObjectInfo info = Info(name);
  std::string reason;
  if (!info.exists)
    reason = Win1251("объекта нет");
  else if (info.size != written.size)
    reason = Win1251("размер ") + std::to_string(info.size) + Win1251(", а записано ") + std::to_string(written.size);
  else if (info.storeChecksum != written.storeChecksum)
    reason = Win1251("ETag ") + info.storeChecksum + Win1251(", а записано ") + written.storeChecksum;
  if (why) *why = reason.empty() ? "" : Describe() + Win1251(", объект \"") + name + "\": " + reason;
  return reason.empty();
}

std::vector<std::string> S3Storage::UnfinishedUploads() {
  State& s = *state_;
  std::vector<std::string> names;
  HttpRequest request;
  request.url = s.Url("", {{"uploads", ""}, {"prefix", s.prefixUtf8}});
  const HttpResponse r = s.Perform("", Win1251("список незавершённых загрузок"), request);
  for (const std::string& upload : s3::XmlValues(r.body, "Upload")) {
    const std::string key = s3::XmlValue(upload, "Key");
    std::string name;
    if (key.compare(0, s.prefixUtf8.size(), s.prefixUtf8) == 0 && Utf8ToWin1251(key.substr(s.prefixUtf8.size()), name))
      names.push_back(name);
  }
  return names;
}

int S3Storage::AbortStaleUploads(int64_t begunBeforeUnix) {
  State& s = *state_;
  HttpRequest request;
  request.url = s.Url("", {{"uploads", ""}, {"prefix", s.prefixUtf8}});
  const HttpResponse r = s.Perform("", Win1251("список незавершённых загрузок"), request);
  int aborted = 0;
  for (const std::string& upload : s3::XmlValues(r.body, "Upload")) {
    const std::string key = s3::XmlValue(upload, "Key");
    const std::string id = s3::XmlValue(upload, "UploadId");
    const std::string rest = key.substr(std::min(key.size(), s.prefixUtf8.size()));
    // Only the program's own kind of upload: a plain name under the prefix.
    if (key.compare(0, s.prefixUtf8.size(), s.prefixUtf8) != 0 || rest.empty() || rest.find('/') != std::string::npos ||
        id.empty())
      continue;
    const int64_t begun = s3::ParseIsoTime(s3::XmlValue(upload, "Initiated"));
    if (begun == 0 || begun >= begunBeforeUnix) continue;
    HttpRequest abort;
    abort.method = "DELETE";
    abort.url = s.Url(key, {{"uploadId", id}});
    s.Perform(rest, Win1251("отмена незавершённой загрузки"), abort);
    ++aborted;
  }
  return aborted;
}

void S3Storage::CreateBucket(bool objectLock) {
  State& s = *state_;
  HttpRequest request;
  request.method = "PUT";
  request.url = s.Url("", {});
  if (objectLock) request.headers.push_back("x-amz-bucket-object-lock-enabled: true");
  if (s.config.region != "us-east-1") {
    static const std::string kOpen = "<CreateBucketConfiguration><LocationConstraint>";
    const std::string xml =
        kOpen + s3::XmlEscape(s.config.region) + "</LocationConstraint></CreateBucketConfiguration>";
    Body body{xml.data(), xml.size(), {}, {}};
    body.Hash();
    request.body = xml.data();
    request.bodySize = xml.size();
    request.bodySha256 = body.sha256;
    s.Perform("", Win1251("создание корзины"), request);
    return;
  }
  s.Perform("", Win1251("создание корзины"), request);
}

}  // namespace qn::storage
