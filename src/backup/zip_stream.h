// Reading the members of a zip archive (a logical dump) through minizip.
//
// An archive is opened by path; a member is found by its exact name in the
// zip directory. A member is either read whole (a string of the size the
// directory records) or read forward through a member stream. Every failure
// throws qn::Exception with the message text:
//   - "Файл \"<path>\" повреждён": the file cannot be opened as a zip;
//   - "file <name> not found in zipfile": no member of that name;
//   - "bad file info": the directory entry cannot be read;
//   - "error in opening <name> in zipfile": the member cannot be opened;
//   - "error in closing in the unzipfile": closing a member failed (a bad
//     check sum shows here);
//   - "error in closing unzip file \"<path>\"": closing the archive failed.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>

namespace qn {

// The most a member read whole may hold (its directory's claim is checked
// before anything is allocated).
inline constexpr uint64_t kMaxWholeMemberSize = 256ull << 20;

class UclsZipArchive {
 public:
  explicit UclsZipArchive(const std::string& path);
  ~UclsZipArchive();  // closes, ignoring a failure (Close reports it)
  UclsZipArchive(const UclsZipArchive&) = delete;
  UclsZipArchive& operator=(const UclsZipArchive&) = delete;

  const std::string& Path() const { return path_; }
  // The whole member; the archive holds no member open afterwards. A
  // member larger than kMaxWholeMemberSize fails with "member <name> is
  // too large to be read whole (<size> bytes)".
  std::string ReadMember(const std::string& name);
  // Closes the archive; later calls do nothing.
  void Close();

  // The minizip handle (unzFile); for the member stream only.
  void* Handle() const { return handle_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
};

// The stream buffer of one open member, forward only. Seeking to offset 0
// from the end answers the uncompressed size and to offset 0 from the
// start answers 0, neither moving the reading; the current position
// (offset 0 from the current place) answers the bytes read so far. Any
// other positioning, and any resizing (SetSize), throws "Not yet
// implemented". Read failures throw the minizip error text. Reading to the
// end closes the member, and a bad check sum throws there; sync() (the
// reader's end: pubsync) closes the member, and the archive as well when
// CloseArchiveOnSync was asked for, throwing their closing failures.
class UclsZipMemberBuf : public std::streambuf {
 public:
  // Opens the member of the archive; the archive must outlive the buffer.
  UclsZipMemberBuf(UclsZipArchive& archive, const std::string& name);
  ~UclsZipMemberBuf() override;  // closes the member, ignoring failures

  uint64_t Size() const { return size_; }
  uint64_t Position() const { return position_; }
  [[noreturn]] void SetSize(uint64_t size);
  // Closes the member (check sum checked); later calls do nothing.
  void Close();
  void CloseArchiveOnSync() { closeArchive_ = true; }

 protected:
  int_type underflow() override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;
  int sync() override;

 private:
  UclsZipArchive& archive_;
  bool open_ = false;
  bool closeArchive_ = false;
  uint64_t size_ = 0;
  uint64_t position_ = 0;  // bytes handed out (read minus what is buffered)
  char buffer_[16384];
};

// A member stream that owns its archive: what the data loader opens. Its
// buffer's sync closes the member and the archive.
// Exceptions of the buffer reach the reader (badbit is set to throw).
class UclsZipStream : public std::istream {
 public:
  UclsZipStream(const std::string& archivePath, const std::string& member);
  ~UclsZipStream() override;
  UclsZipMemberBuf& Buffer() { return *buffer_; }

 private:
  std::unique_ptr<UclsZipArchive> archive_;
  std::unique_ptr<UclsZipMemberBuf> buffer_;
};

}  // namespace qn
