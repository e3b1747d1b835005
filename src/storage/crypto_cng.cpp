// The same primitives through the system's cryptography (CNG), where no
// OpenSSL is shipped.
#include <windows.h>
#include <bcrypt.h>

#include "base/error.h"
#include "storage/crypto.h"

namespace qn::storage {

namespace {

// Providers are opened once and shared: their use is thread-safe.
BCRYPT_ALG_HANDLE Provider(const wchar_t* algorithm, bool gcm) {
  BCRYPT_ALG_HANDLE h = nullptr;
  if (::BCryptOpenAlgorithmProvider(&h, algorithm, nullptr, 0) != 0) return nullptr;
  if (gcm && ::BCryptSetProperty(h, BCRYPT_CHAINING_MODE,
                                 reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_GCM)),
                                 sizeof BCRYPT_CHAIN_MODE_GCM, 0) != 0) {
    ::BCryptCloseAlgorithmProvider(h, 0);
    return nullptr;
  }
  return h;
}

PUCHAR Bytes(const void* p) { return reinterpret_cast<PUCHAR>(const_cast<void*>(p)); }

}  // namespace

struct Md5::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
};

Md5::Md5() : state_(std::make_unique<State>()) {
  static BCRYPT_ALG_HANDLE algorithm = Provider(BCRYPT_MD5_ALGORITHM, false);
  if (!algorithm || ::BCryptCreateHash(algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0) != 0)
    throw Exception("MD5 is not available from the system");
}

Md5::~Md5() {
  if (state_->hash) ::BCryptDestroyHash(state_->hash);
}

void Md5::Update(const char* data, size_t size) {
  ::BCryptHashData(state_->hash, Bytes(data), static_cast<ULONG>(size), 0);
}

std::string Md5::Digest() {
  unsigned char digest[16] = {};
  if (::BCryptFinishHash(state_->hash, digest, sizeof digest, 0) != 0)
    throw Exception("MD5 is not available from the system");
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

std::string RandomBytes(size_t count) {
  std::string out(count, '\0');
  if (::BCryptGenRandom(nullptr, Bytes(out.data()), static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
    throw Exception("no random bytes from the system");
  return out;
}

struct AesGcm::State {
  BCRYPT_KEY_HANDLE key = nullptr;
};

AesGcm::AesGcm(const std::string& key) : state_(std::make_unique<State>()) {
  if (key.size() != kKeySize) throw Exception("AES-256 needs a key of 32 bytes");
  static BCRYPT_ALG_HANDLE algorithm = Provider(BCRYPT_AES_ALGORITHM, true);
  if (!algorithm || ::BCryptGenerateSymmetricKey(algorithm, &state_->key, nullptr, 0, Bytes(key.data()),
                                                 static_cast<ULONG>(key.size()), 0) != 0)
    throw Exception("AES-256-GCM is not available from the system");
}

AesGcm::~AesGcm() {
  if (state_->key) ::BCryptDestroyKey(state_->key);
}

namespace {

BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO ModeInfo(const std::string& nonce, const std::string& aad, const char* tag) {
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
  BCRYPT_INIT_AUTH_MODE_INFO(info);
  info.pbNonce = Bytes(nonce.data());
  info.cbNonce = static_cast<ULONG>(nonce.size());
  info.pbAuthData = aad.empty() ? nullptr : Bytes(aad.data());
  info.cbAuthData = static_cast<ULONG>(aad.size());
  info.pbTag = Bytes(tag);
  info.cbTag = static_cast<ULONG>(AesGcm::kTagSize);
  return info;
}

}  // namespace

void AesGcm::Seal(const std::string& nonce, const std::string& aad, const char* plain, size_t size, char* out,
                  char* tag) {
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = ModeInfo(nonce, aad, tag);
  ULONG written = 0;
  if (::BCryptEncrypt(state_->key, size ? Bytes(plain) : nullptr, static_cast<ULONG>(size), &info, nullptr, 0,
                      size ? Bytes(out) : nullptr, static_cast<ULONG>(size), &written, 0) != 0)
    throw Exception("AES-256-GCM encryption failed");
}

bool AesGcm::Open(const std::string& nonce, const std::string& aad, const char* cipher, size_t size, const char* tag,
                  char* out) {
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = ModeInfo(nonce, aad, tag);
  ULONG written = 0;
  const NTSTATUS status =
      ::BCryptDecrypt(state_->key, size ? Bytes(cipher) : nullptr, static_cast<ULONG>(size), &info, nullptr, 0,
                      size ? Bytes(out) : nullptr, static_cast<ULONG>(size), &written, 0);
  if (status == static_cast<NTSTATUS>(0xC000A002L)) return false;  // STATUS_AUTH_TAG_MISMATCH
  if (status != 0) throw Exception("AES-256-GCM decryption failed");
  return true;
}

}  // namespace qn::storage
