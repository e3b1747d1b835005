#include <openssl/evp.h>
#include <openssl/rand.h>

#include "base/error.h"
#include "storage/crypto.h"

namespace qn::storage {

struct Md5::State {
  EVP_MD_CTX* ctx = nullptr;
};

Md5::Md5() : state_(std::make_unique<State>()) {
  state_->ctx = EVP_MD_CTX_new();
  if (!state_->ctx || EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr) != 1) throw Exception("MD5 is not available");
}

Md5::~Md5() { EVP_MD_CTX_free(state_->ctx); }

void Md5::Update(const char* data, size_t size) { EVP_DigestUpdate(state_->ctx, data, size); }

std::string Md5::Digest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(state_->ctx, digest, &length);
  return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string RandomBytes(size_t count) {
  std::string out(count, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(count)) != 1)
    throw Exception("no random bytes from the system");
  return out;
}

struct AesGcm::State {
  std::string key;
  EVP_CIPHER_CTX* ctx = nullptr;
};

AesGcm::AesGcm(const std::string& key) : state_(std::make_unique<State>()) {
  if (key.size() != kKeySize) throw Exception("AES-256 needs a key of 32 bytes");
  state_->key = key;
  state_->ctx = EVP_CIPHER_CTX_new();
  if (!state_->ctx) throw Exception("AES-256-GCM is not available");
}

AesGcm::~AesGcm() { EVP_CIPHER_CTX_free(state_->ctx); }

namespace {

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }
const unsigned char* Bytes(const char* p) { return reinterpret_cast<const unsigned char*>(p); }
unsigned char* Bytes(char* p) { return reinterpret_cast<unsigned char*>(p); }

}  // namespace

void AesGcm::Seal(const std::string& nonce, const std::string& aad, const char* plain, size_t size, char* out,
                  char* tag) {
  EVP_CIPHER_CTX* c = state_->ctx;
  int n = 0;
  bool ok = EVP_EncryptInit_ex(c, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(nonce.size()), nullptr) == 1 &&
            EVP_EncryptInit_ex(c, nullptr, nullptr, Bytes(state_->key), Bytes(nonce)) == 1 &&
            EVP_EncryptUpdate(c, nullptr, &n, Bytes(aad), static_cast<int>(aad.size())) == 1 &&
            (size == 0 || EVP_EncryptUpdate(c, Bytes(out), &n, Bytes(plain), static_cast<int>(size)) == 1) &&
            EVP_EncryptFinal_ex(c, Bytes(out) + size, &n) == 1 &&
            EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagSize), tag) == 1;
  if (!ok) throw Exception("AES-256-GCM encryption failed");
}

bool AesGcm::Open(const std::string& nonce, const std::string& aad, const char* cipher, size_t size, const char* tag,
                  char* out) {
  EVP_CIPHER_CTX* c = state_->ctx;
  int n = 0;
  std::string tagCopy(tag, kTagSize);
  bool ok = EVP_DecryptInit_ex(c, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(nonce.size()), nullptr) == 1 &&
            EVP_DecryptInit_ex(c, nullptr, nullptr, Bytes(state_->key), Bytes(nonce)) == 1 &&
            EVP_DecryptUpdate(c, nullptr, &n, Bytes(aad), static_cast<int>(aad.size())) == 1 &&
            (size == 0 || EVP_DecryptUpdate(c, Bytes(out), &n, Bytes(cipher), static_cast<int>(size)) == 1) &&
            EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize), tagCopy.data()) == 1;
  if (!ok) throw Exception("AES-256-GCM decryption failed");
  return EVP_DecryptFinal_ex(c, Bytes(out) + size, &n) == 1;
}

}  // namespace qn::storage
