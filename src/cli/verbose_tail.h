// What a backup or restore is doing now, read from the tail of the named log
// that the Firebird service's verbose output goes to.
#pragma once

#include <algorithm>
#include <fstream>
#include <string>

#include "ipc/log.h"
#include "platform/files.h"
#include "platform/system.h"

namespace qn {

// The latest line the server has written to the named log of backups and
// restores of a program folder since the command began: what the
// operation is doing now ("" until a line comes).
class TqnVerboseTail {
 public:
  explicit TqnVerboseTail(const std::string& programFolder)
      : log_(programFolder, false, clock_, nullptr), file_(Path()), start_(SizeOf(file_)) {}

  std::string Latest() {
    const std::string path = Path();
    if (path != file_) {  // past midnight: a new day's file
      file_ = path;
      start_ = 0;
    }
    std::ifstream in(file_, std::ios::binary);
    if (!in) return "";
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    const std::streamoff from = std::max<std::streamoff>(start_, size - 4096);
    if (size <= from) return "";
    std::string tail(static_cast<size_t>(size - from), '\0');
    in.seekg(from);
    in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    const size_t end = tail.find_last_not_of(" \r\n\t");
    if (end == std::string::npos) return "";
    const size_t newline = tail.find_last_of("\r\n", end);
    const size_t begin = newline == std::string::npos ? 0 : newline + 1;
    return tail.substr(begin, end + 1 - begin);
  }

 private:
  std::string Path() const {
    return platform::JoinPath(log_.LogFolder(), log_.NamedLogFileName("backup", clock_.Now()));
  }
  static std::streamoff SizeOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
  }
  platform::SystemClock clock_;
  TqnLog log_;
  std::string file_;
  std::streamoff start_;
};

}  // namespace qn
