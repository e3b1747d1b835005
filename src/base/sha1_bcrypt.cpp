// SHA-1 through the system's cryptography (CNG), where no OpenSSL is shipped.
#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>

#include "base/sha1.h"

namespace qn {

std::string Sha1Hex(std::string_view bytes) {
  unsigned char digest[20] = {};
  // The provider is opened once and shared: hashing with it is thread-safe.
  static BCRYPT_ALG_HANDLE algorithm = [] {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (::BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA1_ALGORITHM, nullptr, 0) != 0) h = nullptr;
    return h;
  }();
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = algorithm && ::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
  ok = ok && ::BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                              static_cast<ULONG>(bytes.size()), 0) == 0;
  ok = ok && ::BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
  if (hash) ::BCryptDestroyHash(hash);
  if (!ok) throw std::runtime_error("SHA-1 is not available from the system");
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * sizeof digest);
  for (unsigned char b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

}  // namespace qn
