// A folder as a place for backups: the local backup folder, a second disk,
// a mounted share. A write goes to a temporary name of this program's own
// in the same folder, is made durable and then renamed over its name in
// one step, so a kill half-way leaves the old object or nothing under the
// name, never part of a new one.
#pragma once

#include <string>

#include "storage/storage.h"

namespace qn::storage {

class FolderStorage : public Storage {
 public:
  // unfinishedPrefix begins the temporary names of this storage's writes;
  // it carries an identity of the program's own (an entry's or a
  // destination's), so that what a killed write left can be told from
  // anybody else's file and removed without doubt.
  FolderStorage(std::string folder, std::string unfinishedPrefix);

  std::string Describe() const override { return folder_; }
  std::vector<std::string> List() override;
  ObjectInfo Info(const std::string& name) override;
  void Read(const std::string& name, const std::function<void(const char* data, size_t size)>& onChunk) override;
  WrittenObject Write(const std::string& name, ByteSource& source, const WriteOptions& options = {}) override;
  void Rename(const std::string& from, const std::string& to) override;
  void Remove(const std::string& name) override;
  bool Check(const std::string& name, const WrittenObject& written, std::string* why) override;

  // The full path of an object (for the database server, which reads and
  // writes this folder itself).
  std::string PathOf(const std::string& name) const;
  // The temporary name a write of name uses.
  std::string UnfinishedName(const std::string& name) const { return prefix_ + name; }
  // Removes what killed writes left (names under the prefix); how many.
  int RemoveUnfinished();

 private:
  std::string folder_;  // with its separator
  std::string prefix_;
};

// The SHA-256 and size of what a place holds under a name, read back.
WrittenObject HashObject(Storage& storage, const std::string& name);
// Check for a place that keeps no checksum of its own: the bytes read back
// and compared by their size and SHA-256.
bool CheckReadBack(Storage& storage, const std::string& name, const WrittenObject& written, std::string* why);

}  // namespace qn::storage
