#include "base/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace qn {

struct TqnSha256::State {
  EVP_MD_CTX* ctx = nullptr;
};

TqnSha256::TqnSha256() : state_(std::make_unique<State>()) {
  state_->ctx = EVP_MD_CTX_new();
  if (!state_->ctx || EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 is not available");
}

TqnSha256::~TqnSha256() { EVP_MD_CTX_free(state_->ctx); }

void TqnSha256::Update(const char* data, size_t size) { EVP_DigestUpdate(state_->ctx, data, size); }

std::string TqnSha256::HexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(state_->ctx, digest, &length);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}

}  // namespace qn
