// A folder on an SSH server (a contractor's server, a NAS) as a place for
// copies, over libcurl's SFTP. The server is known by its host key's
// SHA-256 fingerprint, given beforehand: a server that shows another key is
// refused before any name or byte goes to it. A write goes to a temporary
// name of the program's own and is renamed over its name once whole, so a
// kill half-way never leaves part of a copy under a backup's name. SFTP's
// rename does not replace, so a name written again (the catalogue) is
// replaced in three steps: the whole upload renamed to a "done" name of
// ours, the old object removed, the done one renamed into place; a kill
// between them leaves the done one, which reads as the name until then.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/storage.h"

namespace qn::storage {

struct SftpConfig {
  std::string endpoint;        // "sftp://host[:port]"
  std::string path;            // the folder on the server, absolute
  std::string user;            // the SSH user
  std::string password;        // or
  std::string privateKeyFile;  // a key file of this machine (OpenSSH or PEM format)
  std::string hostKeySha256;   // "SHA256:..." as ssh-keygen -l prints it
  int64_t maxKbps = 0;         // the send limit in kilobits a second, 0 for none
  std::string unfinishedPrefix;
};

class SftpStorage : public Storage {
 public:
  explicit SftpStorage(SftpConfig config);
  ~SftpStorage() override;

  std::string Describe() const override;
  std::vector<std::string> List() override;
  ObjectInfo Info(const std::string& name) override;
  void Read(const std::string& name, const std::function<void(const char* data, size_t size)>& onChunk) override;
  WrittenObject Write(const std::string& name, ByteSource& source, const WriteOptions& options = {}) override;
  void Rename(const std::string& from, const std::string& to) override;
  void Remove(const std::string& name) override;
  // Reads the copy back and compares its SHA-256: the server keeps none.
  bool Check(const std::string& name, const WrittenObject& written, std::string* why) override;

  struct Transfer;  // one request's state, which libcurl's callbacks reach

 private:
  // One request on the kept connection; throws with the reason, except
  // that "no such file" is returned as false when allowed.
  bool Perform(Transfer& t, bool missingAllowed);
  std::string Url(const std::string& name) const;
  std::string ServerPath(const std::string& name) const;
  std::string DoneName(const std::string& name) const { return config_.unfinishedPrefix + "done-" + name; }
  // Commands on the server's folder ("rename", "rm"), nothing transferred.
  void RunCommands(std::vector<std::string> commands);
  // The name, or the done name a kill left in its place.
  std::string Resolved(const std::string& name, ObjectInfo* info);

  SftpConfig config_;
  std::string folderUrl_;  // with its "/"
  std::string hostKey_;    // the fingerprint as libcurl compares it
  void* curl_;
};

}  // namespace qn::storage
