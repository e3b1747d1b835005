// Writing the ".pbz" archives of the dump benchmarks: members added whole
// or, for a large data member, in pieces, so that a bench stays small too.
#pragma once

#include <minizip/zip.h>

#include <stdexcept>
#include <string>

namespace qnbench {

class ZipWriter {
 public:
  explicit ZipWriter(const std::string& path) : zip_(zipOpen64(path.c_str(), APPEND_STATUS_CREATE)) {
    if (!zip_) throw std::runtime_error("cannot create " + path);
  }
  ~ZipWriter() {
    if (zip_) zipClose(zip_, nullptr);
  }
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  void Open(const std::string& name) {
    zip_fileinfo info{};
    if (zipOpenNewFileInZip64(zip_, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 1, 1) != ZIP_OK)
      throw std::runtime_error("cannot add " + name);
  }
  void Write(const std::string& text) {
    if (zipWriteInFileInZip(zip_, text.data(), static_cast<unsigned>(text.size())) != ZIP_OK)
      throw std::runtime_error("cannot write to the archive");
  }
  void CloseMember() { zipCloseFileInZip(zip_); }
  void Member(const std::string& name, const std::string& text) {
    Open(name);
    Write(text);
    CloseMember();
  }

 private:
  zipFile zip_;
};

// Collects a member's text and writes it in pieces of about a megabyte.
class ChunkedMember {
 public:
  ChunkedMember(ZipWriter& zip, const std::string& name) : zip_(zip) { zip_.Open(name); }
  std::string& text() { return chunk_; }
  void Emit(bool force = false) {
    if (chunk_.size() >= (1 << 20) || (force && !chunk_.empty())) {
      zip_.Write(chunk_);
      chunk_.clear();
    }
  }
  void Close() {
    Emit(true);
    zip_.CloseMember();
  }

 private:
  ZipWriter& zip_;
  std::string chunk_;
};

}  // namespace qnbench
