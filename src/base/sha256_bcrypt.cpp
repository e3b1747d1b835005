// SHA-256 through the system's cryptography (CNG), where no OpenSSL is shipped.
#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>

#include "base/sha256.h"

namespace qn {

struct TqnSha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
};

TqnSha256::TqnSha256() : state_(std::make_unique<State>()) {
  // The provider is opened once and shared: hashing with it is thread-safe.
  static BCRYPT_ALG_HANDLE algorithm = [] {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (::BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) h = nullptr;
    return h;
  }();
  if (!algorithm || ::BCryptCreateHash(algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0) != 0)
    throw std::runtime_error("SHA-256 is not available from the system");
}

TqnSha256::~TqnSha256() {
  if (state_->hash) ::BCryptDestroyHash(state_->hash);
}

void TqnSha256::Update(const char* data, size_t size) {
  ::BCryptHashData(state_->hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data)), static_cast<ULONG>(size), 0);
}

std::string TqnSha256::HexDigest() {
  unsigned char digest[32] = {};
  if (::BCryptFinishHash(state_->hash, digest, sizeof digest, 0) != 0)
    throw std::runtime_error("SHA-256 is not available from the system");
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

}  // namespace qn
