// Where backups are kept: one small interface over a local folder, a folder
// on another disk or share, or an object store. The keeper, the catalogue,
// retention and verification talk to a place only through it, so a second
// place for backups is one more implementation and the rules stay one.
//
// Names are relative to the place's root, plain names without separators
// (a folder's file names, an object key below the place's prefix), in
// Windows-1251 as everywhere in the system. Every call throws
// qn::Exception (or a subclass) with a message that names the place and the
// object when it fails; "not there" is not a failure of Info.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qn::storage {

// What a place knows of one object.
struct ObjectInfo {
  std::string name;
  bool exists = false;
  int64_t size = -1;
  int64_t modifiedUnix = 0;     // seconds, 0 when the place does not say
  std::string storeChecksum;    // the place's own checksum (an S3 ETag), "" when it keeps none
  int64_t lockedUntilUnix = 0;  // an object lock's end, 0 when unlocked or unknown
};

// Bytes read in order, once. Read returns 0 only at the end and throws on an
// error of its source.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The total the source will give, -1 when not known in advance.
  virtual int64_t Size() const = 0;
  virtual size_t Read(char* buffer, size_t capacity) = 0;
};

// A local file as a source (the usual one: copies are made from the local
// backup folder).
std::unique_ptr<ByteSource> FileSource(const std::string& path);

struct WriteOptions {
  // Keep the object from being deleted or overwritten until then (an object
  // store's lock); 0 for none. A place that cannot lock refuses a non-zero
  // value rather than writing an unlocked object.
  int64_t lockUntilUnix = 0;
};

// What a write sent, for checking the object afterwards.
struct WrittenObject {
  int64_t size = 0;
  std::string sha256Hex;      // of the bytes sent
  std::string storeChecksum;  // what the place should now report, "" when it keeps none
};

class Storage {
 public:
  virtual ~Storage() = default;
  Storage() = default;
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;

  // For messages and logs: the folder's path, "s3://bucket/prefix", ...
  virtual std::string Describe() const = 0;

  // The names of the objects at the root.
  virtual std::vector<std::string> List() = 0;
  virtual ObjectInfo Info(const std::string& name) = 0;
  // Hands the object's bytes over piece by piece (it may be larger than
  // memory).
  virtual void Read(const std::string& name, const std::function<void(const char* data, size_t size)>& onChunk) = 0;
  // Writes an object whole: until the call returns, the name holds what it
  // held before (or nothing), never part of the new bytes, even when the
  // process is killed half-way. Replaces an object of that name.
  virtual WrittenObject Write(const std::string& name, ByteSource& source, const WriteOptions& options = {}) = 0;
  // Renames in one step where the place can; throws where it cannot.
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Deletes one object; a locked object stays and the call throws.
  virtual void Remove(const std::string& name) = 0;
  // Reads what the place holds under the name back and compares it with
  // what was written: a folder hashes the copy, a store compares its size
  // and checksum. False with the reason in *why when they differ.
  virtual bool Check(const std::string& name, const WrittenObject& written, std::string* why) = 0;
};

}  // namespace qn::storage
