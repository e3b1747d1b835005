// Writes zip archives for the tests with minizip's writer.
#pragma once

#include <minizip/zip.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qn::ziptest {

using Members = std::vector<std::pair<std::string, std::string>>;  // name, content

inline void WriteZip(const std::string& path, const Members& members) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip) throw std::runtime_error("cannot create " + path);
  for (const auto& [name, content] : members) {
    zip_fileinfo info{};
    if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                              Z_DEFAULT_COMPRESSION, 1) != ZIP_OK ||
        zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size())) != ZIP_OK ||
        zipCloseFileInZip(zip) != ZIP_OK)
      throw std::runtime_error("cannot write " + name);
  }
  if (zipClose(zip, nullptr) != ZIP_OK) throw std::runtime_error("cannot close " + path);
}

}  // namespace qn::ziptest
