// Writes zip archives for the tests with minizip's writer.
#pragma once

#include <minizip/zip.h>

#include <cstdint>
#include <fstream>
#include <iterator>
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

namespace detail {

// Calls change(bytes, headerStart) for each header of the member, local
// ones (signature PK 3 4) and directory ones (PK 1 2).
template <typename Change>
void EachHeader(const std::string& path, const std::string& member, bool local, Change change) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  const std::string signature = local ? std::string("PK\x03\x04", 4) : std::string("PK\x01\x02", 4);
  const size_t lengthAt = local ? 26 : 28, nameAt = local ? 30 : 46;
  for (size_t pos = bytes.find(signature); pos != std::string::npos; pos = bytes.find(signature, pos + 4)) {
    const size_t length = static_cast<unsigned char>(bytes[pos + lengthAt]) |
                          static_cast<size_t>(static_cast<unsigned char>(bytes[pos + lengthAt + 1])) << 8;
    if (length == member.size() && bytes.compare(pos + nameAt, length, member) == 0) change(bytes, pos);
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace detail

// A member whose recorded check sum (in its local header and in the
// directory alike) no longer fits its data, as in a damaged archive.
inline void SpoilCrc(const std::string& path, const std::string& member) {
  detail::EachHeader(path, member, true, [](std::string& b, size_t at) { b[at + 14] ^= 0x5A; });
  detail::EachHeader(path, member, false, [](std::string& b, size_t at) { b[at + 16] ^= 0x5A; });
}

// The directory claims another uncompressed size for the member.
inline void ClaimSize(const std::string& path, const std::string& member, uint32_t size) {
  detail::EachHeader(path, member, false, [size](std::string& b, size_t at) {
    for (int i = 0; i < 4; ++i) b[at + 24 + i] = static_cast<char>(size >> (8 * i));
  });
}

}  // namespace qn::ziptest
