#include "backup/zip_stream.h"

#include <minizip/unzip.h>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"

namespace qn {

namespace {

unzFile Zip(void* handle) { return static_cast<unzFile>(handle); }

[[noreturn]] void NotImplemented() { throw Exception("Not yet implemented"); }

// Finds the member and tells its uncompressed size; the member is current.
uint64_t LocateMember(unzFile zip, const std::string& name) {
  // Names match exactly: minizip's default (0) ignores case where it is
  // built for Windows and not elsewhere.
  if (unzLocateFile(zip, name.c_str(), 1) != UNZ_OK) throw Exception("file " + name + " not found in zipfile");
  unz_file_info64 info{};
  if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
    throw Exception("bad file info");
  return info.uncompressed_size;
}

void OpenCurrent(unzFile zip, const std::string& name) {
  if (unzOpenCurrentFile(zip) != UNZ_OK) throw Exception("error in opening " + name + " in zipfile");
}

void CloseCurrent(unzFile zip) {
  if (unzCloseCurrentFile(zip) != UNZ_OK) throw Exception("error in closing in the unzipfile");
}

// Reads up to size bytes of the open member; throws on a read error.
int ReadCurrent(unzFile zip, char* buffer, unsigned size) {
  int got = unzReadCurrentFile(zip, buffer, size);
  if (got < 0) throw Exception(Format("error %d with zipfile in unzReadCurrentFile", got));
  return got;
}

}  // namespace

UclsZipArchive::UclsZipArchive(const std::string& path) : path_(path) {
  handle_ = unzOpen64(platform::KernelFileName(path).c_str());
  if (!handle_) {
    static const std::string message = Win1251("Файл \"%s\" повреждён");
    throw Exception(Format(message.c_str(), path.c_str()));
  }
}

UclsZipArchive::~UclsZipArchive() {
  if (handle_) unzClose(Zip(handle_));
}

void UclsZipArchive::Close() {
  if (!handle_) return;
  unzFile zip = Zip(handle_);
  handle_ = nullptr;
  if (unzClose(zip) != UNZ_OK) throw Exception(Format("error in closing unzip file \"%s\"", path_.c_str()));
}

std::string UclsZipArchive::ReadMember(const std::string& name) {
  unzFile zip = Zip(handle_);
  const uint64_t size = LocateMember(zip, name);
  // The size is what the directory claims; a damaged or hostile archive
  // must not make us allocate gigabytes for it.
  if (size > kMaxWholeMemberSize)
    throw Exception(Format("member %s is too large to be read whole (%llu bytes)", name.c_str(),
                           static_cast<unsigned long long>(size)));
  OpenCurrent(zip, name);
  std::string text;
  text.reserve(static_cast<size_t>(size));
  char buffer[65536];
  try {
    while (text.size() < size) {
      const uint64_t left = size - text.size();
      int got = ReadCurrent(zip, buffer, left < sizeof buffer ? static_cast<unsigned>(left) : sizeof buffer);
      if (got == 0) break;
      text.append(buffer, static_cast<size_t>(got));
    }
  } catch (...) {
    unzCloseCurrentFile(zip);
    throw;
  }
  CloseCurrent(zip);
  return text;
}

UclsZipMemberBuf::UclsZipMemberBuf(UclsZipArchive& archive, const std::string& name) : archive_(archive) {
  unzFile zip = Zip(archive_.Handle());
  size_ = LocateMember(zip, name);
  OpenCurrent(zip, name);
  open_ = true;
  setg(buffer_, buffer_, buffer_);
}

UclsZipMemberBuf::~UclsZipMemberBuf() {
  if (open_) unzCloseCurrentFile(Zip(archive_.Handle()));
}

void UclsZipMemberBuf::Close() {
  if (!open_) return;
  open_ = false;
  CloseCurrent(Zip(archive_.Handle()));
}

void UclsZipMemberBuf::SetSize(uint64_t) { NotImplemented(); }

int UclsZipMemberBuf::sync() {
  Close();
  if (closeArchive_) archive_.Close();
  return 0;
}

UclsZipMemberBuf::int_type UclsZipMemberBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  position_ += static_cast<uint64_t>(egptr() - eback());
  setg(buffer_, buffer_, buffer_);
  if (!open_) return traits_type::eof();
  int got = ReadCurrent(Zip(archive_.Handle()), buffer_, sizeof buffer_);
  if (got == 0) {
    // The end of the member: closing it tests its check sum, so that a
    // damaged member fails its reader instead of ending like a whole one.
    Close();
    return traits_type::eof();
  }
  setg(buffer_, buffer_, buffer_ + got);
  return traits_type::to_int_type(*gptr());
}

UclsZipMemberBuf::pos_type UclsZipMemberBuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                                     std::ios_base::openmode) {
  if (off != 0) NotImplemented();
  switch (dir) {
    case std::ios_base::beg: return pos_type(0);
    case std::ios_base::end: return pos_type(static_cast<off_type>(size_));
    case std::ios_base::cur:
      return pos_type(static_cast<off_type>(position_ + static_cast<uint64_t>(gptr() - eback())));
    default: NotImplemented();
  }
}

UclsZipMemberBuf::pos_type UclsZipMemberBuf::seekpos(pos_type pos, std::ios_base::openmode) {
  if (pos != pos_type(0)) NotImplemented();
  return pos_type(0);
}

UclsZipStream::UclsZipStream(const std::string& archivePath, const std::string& member) : std::istream(nullptr) {
  archive_ = std::make_unique<UclsZipArchive>(archivePath);
  buffer_ = std::make_unique<UclsZipMemberBuf>(*archive_, member);
  buffer_->CloseArchiveOnSync();
  rdbuf(buffer_.get());
  exceptions(std::ios_base::badbit);
}

UclsZipStream::~UclsZipStream() {
  exceptions(std::ios_base::goodbit);
  rdbuf(nullptr);
  buffer_.reset();
  archive_.reset();
}

}  // namespace qn
