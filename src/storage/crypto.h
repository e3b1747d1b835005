// The few cryptographic primitives the destinations need: MD5 (the digest
// S3 stores and checks), random bytes and AES-256-GCM on one chunk. OpenSSL's
// libcrypto underneath, the system's CNG on Windows, as for SHA-256.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace qn::storage {

class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;
  void Update(const char* data, size_t size);
  // The 16 raw bytes; the object is spent afterwards.
  std::string Digest();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Bytes from the system's cryptographic generator; throws when it has none.
std::string RandomBytes(size_t count);

// AES-256-GCM with one key over many chunks, each with its own 12-byte nonce
// and 16-byte tag.
class AesGcm {
 public:
  static constexpr size_t kKeySize = 32;
  static constexpr size_t kNonceSize = 12;
  static constexpr size_t kTagSize = 16;

  explicit AesGcm(const std::string& key);  // kKeySize bytes
  ~AesGcm();
  AesGcm(const AesGcm&) = delete;
  AesGcm& operator=(const AesGcm&) = delete;
  // Encrypts size bytes into out (as many bytes) and writes the tag.
  void Seal(const std::string& nonce, const std::string& aad, const char* plain, size_t size, char* out, char* tag);
  // Decrypts and authenticates; false when the tag does not match (out is
  // then not to be used).
  bool Open(const std::string& nonce, const std::string& aad, const char* cipher, size_t size, const char* tag,
            char* out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

std::string HexOf(const std::string& bytes);
std::string Base64Of(const std::string& bytes);

}  // namespace qn::storage
