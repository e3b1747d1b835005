#include "base/sha1.h"

#include <openssl/sha.h>

namespace qn {

std::string Sha1Hex(std::string_view bytes) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * SHA_DIGEST_LENGTH);
  for (unsigned char b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

}  // namespace qn
