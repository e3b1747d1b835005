#include "storage/sftp_storage.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "base/error.h"
#include "base/sha256.h"
#include "base/text.h"
#include "platform/files.h"
#include "storage/curl_transfer.h"
#include "storage/folder_storage.h"

namespace qn::storage {

struct SftpStorage::Transfer {
  std::string url;
  bool head = false;     // no bytes: the object's size and time, or only the commands
  bool listing = false;  // the folder's names
  ByteSource* upload = nullptr;
  TqnSha256* hash = nullptr;
  int64_t sent = 0;
  std::function<void(const char*, size_t)> onBody;
  std::vector<std::string> commands;  // run after the transfer ("rename", "rm")
  std::string names;                  // a listing's text
  std::exception_ptr failure;         // a source's or a receiver's own error, passed on whole
  int64_t size = -1;
  int64_t modified = 0;
};

namespace {

size_t SendBytes(char* buffer, size_t size, size_t count, void* user) {
  auto* t = static_cast<SftpStorage::Transfer*>(user);
  try {
    const size_t n = t->upload->Read(buffer, size * count);
    t->hash->Update(buffer, n);
    t->sent += static_cast<int64_t>(n);
    return n;
  } catch (...) {
    t->failure = std::current_exception();
    return CURL_READFUNC_ABORT;
  }
}

size_t ReceiveBytes(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<SftpStorage::Transfer*>(user);
  const size_t n = size * count;
  if (t->listing) {
    t->names.append(data, n);
    return n;
  }
  try {
    if (t->onBody) t->onBody(data, n);
    return n;
  } catch (...) {
    t->failure = std::current_exception();
    return 0;
  }
}

// A name of the server in its own text (UTF-8), as a URL's part.
std::string Escaped(CURL* curl, const std::string& cp1251) {
  const std::string utf8 = Win1251ToUtf8(cp1251);
  char* e = curl_easy_escape(curl, utf8.c_str(), static_cast<int>(utf8.size()));
  std::string out = e ? e : "";
  curl_free(e);
  return out;
}

// A path in a command: quoted, its quotes and backslashes escaped.
std::string Quoted(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// "SHA256:base64" as ssh-keygen prints it, as libcurl compares it: the
// base64 alone, padded.
std::string HostKeyForCurl(std::string text) {
  text = TrimBlanks(text);
  if (text.rfind("SHA256:", 0) == 0) text = text.substr(7);
  while (text.size() % 4) text += '=';
  return text;
}

}  // namespace

SftpStorage::SftpStorage(SftpConfig config) : config_(std::move(config)), curl_(nullptr) {
  static const CURLcode global = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (global != CURLE_OK) throw Exception(curl_easy_strerror(global));
  bool offered = false;
  for (const char* const* p = curl_version_info(CURLVERSION_NOW)->protocols; p && *p; ++p)
    offered = offered || std::strcmp(*p, "sftp") == 0;
  if (!offered) throw Exception(Win1251("В этой сборке программы нет SFTP: её libcurl собрана без него"));
  if (config_.endpoint.rfind("sftp://", 0) != 0)
    throw Exception(Format(Win1251("Адрес SFTP \"%s\" не начинается с \"sftp://\"").c_str(), config_.endpoint.c_str()));
  if (config_.path.empty() || config_.path[0] != '/')
    throw Exception(
        Format(Win1251("Каталог на сервере SFTP \"%s\" должен быть полным путём").c_str(), config_.path.c_str()));
  // Without the key's fingerprint anybody answering at the address would
  // get the office's copies and could hand back others.
  if (config_.hostKeySha256.empty())
    throw Exception(Win1251("Не указан отпечаток ключа сервера SFTP (\"host_key\", SHA256:... из ssh-keygen -l)"));
  hostKey_ = HostKeyForCurl(config_.hostKeySha256);
  curl_ = curl_easy_init();
  if (!curl_) throw Exception("curl_easy_init failed");
  while (config_.endpoint.size() > 7 && config_.endpoint.back() == '/') config_.endpoint.pop_back();
  while (config_.path.size() > 1 && config_.path.back() == '/') config_.path.pop_back();
  folderUrl_ = config_.endpoint;
  size_t start = 1;
  while (start <= config_.path.size()) {
    const size_t end = std::min(config_.path.find('/', start), config_.path.size());
    if (end > start) folderUrl_ += "/" + Escaped(static_cast<CURL*>(curl_), config_.path.substr(start, end - start));
    start = end + 1;
  }
  folderUrl_ += "/";
}

SftpStorage::~SftpStorage() { curl_easy_cleanup(static_cast<CURL*>(curl_)); }

std::string SftpStorage::Describe() const { return config_.endpoint + config_.path; }

namespace {
// Names stay in the folder.
const std::string& Plain(const std::string& name, const std::string& where) {
  if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos)
    throw Exception(Format(Win1251("Имя \"%s\" не годится для %s").c_str(), name.c_str(), where.c_str()));
  return name;
}
}  // namespace

std::string SftpStorage::Url(const std::string& name) const {
  return folderUrl_ + Escaped(static_cast<CURL*>(curl_), Plain(name, Describe()));
}

std::string SftpStorage::ServerPath(const std::string& name) const {
  return Quoted(Win1251ToUtf8(config_.path + "/" + Plain(name, Describe())));
}

bool SftpStorage::Perform(Transfer& t, bool missingAllowed) {
  CURL* curl = static_cast<CURL*>(curl_);
  curl_easy_reset(curl);  // the SSH session stays open for the next request
  curl_easy_setopt(curl, CURLOPT_URL, t.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "sftp");
  curl_easy_setopt(curl, CURLOPT_SSH_HOST_PUBLIC_KEY_SHA256, hostKey_.c_str());
  curl_easy_setopt(curl, CURLOPT_USERNAME, config_.user.c_str());
  long auth = 0;
  if (!config_.privateKeyFile.empty()) {
    curl_easy_setopt(curl, CURLOPT_SSH_PRIVATE_KEYFILE, platform::KernelFileName(config_.privateKeyFile).c_str());
    auth |= CURLSSH_AUTH_PUBLICKEY;
  }
  if (!config_.password.empty()) {
    curl_easy_setopt(curl, CURLOPT_PASSWORD, config_.password.c_str());
    auth |= CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD;
  }
  curl_easy_setopt(curl, CURLOPT_SSH_AUTH_TYPES, auth ? auth : static_cast<long>(CURLSSH_AUTH_PUBLICKEY));
  curl_slist* commands = nullptr;
  for (const std::string& c : t.commands) commands = curl_slist_append(commands, c.c_str());
  if (commands) curl_easy_setopt(curl, CURLOPT_POSTQUOTE, commands);
  if (t.upload) {
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    if (t.upload->Size() >= 0)
      curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(t.upload->Size()));
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, SendBytes);
    curl_easy_setopt(curl, CURLOPT_READDATA, &t);
    curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
    if (config_.maxKbps > 0)
      curl_easy_setopt(curl, CURLOPT_MAX_SEND_SPEED_LARGE,
                       static_cast<curl_off_t>(std::max<int64_t>(1, config_.maxKbps * 1000 / 8)));
  }
  if (t.head) {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_FILETIME, 1L);
  }
  if (t.listing) curl_easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, ReceiveBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
  SetCopyPatience(curl);
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  const CURLcode rc = curl_easy_perform(curl);
  curl_slist_free_all(commands);
  if (t.failure) std::rethrow_exception(t.failure);
  if (rc == CURLE_REMOTE_FILE_NOT_FOUND && missingAllowed) return false;
  if (rc != CURLE_OK)
    throw Exception(
        Format(Win1251("SFTP %s: %s").c_str(), Describe().c_str(), *error ? error : curl_easy_strerror(rc)));
  curl_off_t size = -1, modified = -1;
  curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
  curl_easy_getinfo(curl, CURLINFO_FILETIME_T, &modified);
  t.size = size;
  t.modified = modified > 0 ? modified : 0;
  return true;
}

std::string SftpStorage::Resolved(const std::string& name, ObjectInfo* info) {
  for (const std::string& candidate : {name, DoneName(name)}) {
    Transfer t;
    t.url = Url(candidate);
    t.head = true;
    if (!Perform(t, true)) continue;
    if (info) {
      info->exists = true;
      info->size = t.size;
      info->modifiedUnix = t.modified;
    }
    return candidate;
  }
  return name;
}

std::vector<std::string> SftpStorage::List() {
  Transfer t;
  t.url = folderUrl_;
  t.listing = true;
  if (!Perform(t, true)) return {};
  std::vector<std::string> names;
  size_t start = 0;
  while (start < t.names.size()) {
    size_t end = t.names.find('\n', start);
    if (end == std::string::npos) end = t.names.size();
    std::string line = t.names.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string name;
    // A name the system's text cannot hold is nobody's copy of ours.
    if (line != "." && line != ".." && !line.empty() && Utf8ToWin1251(line, name)) names.push_back(name);
    start = end + 1;
  }
  // A done name stands for its name while that is missing.
  const std::string done = DoneName("");
  for (std::string& n : names)
    if (n.rfind(done, 0) == 0 && std::find(names.begin(), names.end(), n.substr(done.size())) == names.end())
      n = n.substr(done.size());
  return names;
}

ObjectInfo SftpStorage::Info(const std::string& name) {
  ObjectInfo info;
  info.name = name;
  Resolved(name, &info);
  return info;
}

void SftpStorage::Read(const std::string& name, const std::function<void(const char* data, size_t size)>& onChunk) {
  // Straight to the name; its done name only when the name is missing.
  for (const std::string& candidate : {name, DoneName(name)}) {
    Transfer t;
    t.url = Url(candidate);
    t.onBody = onChunk;
    if (Perform(t, true)) return;
  }
  throw Exception(Format(Win1251("Нет \"%s\" на сервере SFTP %s").c_str(), name.c_str(), Describe().c_str()));
}

WrittenObject SftpStorage::Write(const std::string& name, ByteSource& source, const WriteOptions& options) {
  if (options.lockUntilUnix != 0)
    throw Exception(Format(Win1251("Сервер SFTP %s не умеет защищать файлы от удаления").c_str(), Describe().c_str()));
  const std::string unfinished = config_.unfinishedPrefix + name;
  TqnSha256 hash;
  Transfer t;
  t.url = Url(unfinished);
  t.upload = &source;
  t.hash = &hash;
  // Run once the upload is whole; see the class's comment.
  t.commands = {"*rm " + ServerPath(DoneName(name)),
                "rename " + ServerPath(unfinished) + " " + ServerPath(DoneName(name)), "*rm " + ServerPath(name),
                "rename " + ServerPath(DoneName(name)) + " " + ServerPath(name)};
  try {
    Perform(t, false);
  } catch (const std::exception&) {
    // What is left under the temporary name is ours; the next write of
    // the name replaces it, and retention never takes it for a copy.
    try {
      RunCommands({"rm " + ServerPath(unfinished)});
    } catch (const std::exception&) {
    }
    throw;
  }
  WrittenObject written;
  written.size = t.sent;
  written.sha256Hex = hash.HexDigest();
  return written;
}

void SftpStorage::RunCommands(std::vector<std::string> commands) {
  Transfer t;
  t.url = folderUrl_;
  t.head = true;
  t.commands = std::move(commands);
  Perform(t, false);
}

void SftpStorage::Rename(const std::string& from, const std::string& to) {
  RunCommands({"*rm " + ServerPath(to), "rename " + ServerPath(Resolved(from, nullptr)) + " " + ServerPath(to)});
}

void SftpStorage::Remove(const std::string& name) { RunCommands({"rm " + ServerPath(Resolved(name, nullptr))}); }

bool SftpStorage::Check(const std::string& name, const WrittenObject& written, std::string* why) {
  return CheckReadBack(*this, name, written, why);
}

}  // namespace qn::storage
