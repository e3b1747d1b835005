// Encryption of a copy before it leaves the machine: AES-256-GCM over
// chunks, each sealed with its own nonce and tag, so that a reader checks the
// stream piece by piece and never hands on a byte it has not proven.
//
// The stream: a header ("QNENC", the format version, the chunk size, the
// key's identity, a random nonce prefix), then the chunks, each its
// ciphertext and tag. A chunk's nonce is the prefix, its number and a mark
// of the last chunk, and every chunk authenticates the header: chunks cannot
// be reordered, dropped, cut off at the end or moved to another stream, and
// a changed header fails too. The last chunk is always shorter than the
// chunk size (empty when the plaintext fills the chunks exactly), so its end
// is known without a length in the header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "storage/storage.h"

namespace qn::storage {

struct EncryptionKey {
  std::string bytes;  // 32 bytes
  std::string id;     // 16 hexadecimal digits from the key's SHA-256: names the key, reveals nothing
};

EncryptionKey KeyFromBytes(const std::string& bytes);
// Reads a key file (64 hexadecimal digits), creating it with a new random key
// readable by its owner only when there is none; *created says which.
// Throws Exception naming the file when it cannot be read or is not a key.
EncryptionKey LoadOrCreateKeyFile(const std::string& path, bool* created = nullptr);

constexpr size_t kEncryptionChunkSize = 64 * 1024;
constexpr size_t kEncryptionHeaderSize = 33;
// The encrypted size of that many plaintext bytes.
int64_t EncryptedSize(int64_t plainSize, size_t chunkSize = kEncryptionChunkSize);

// Gives the encrypted stream of another source.
class EncryptingSource : public ByteSource {
 public:
  EncryptingSource(ByteSource& plain, const EncryptionKey& key, size_t chunkSize = kEncryptionChunkSize);
  ~EncryptingSource() override;
  int64_t Size() const override;
  size_t Read(char* buffer, size_t capacity) override;

 private:
  void SealNext();

  struct State;
  std::unique_ptr<State> state_;
};

// Takes an encrypted stream piece by piece and hands on the plaintext of
// each chunk once its tag is proven. Throws Exception on a wrong key, an
// unknown format or any altered byte.
class Decryptor {
 public:
  using Sink = std::function<void(const char* data, size_t size)>;
  Decryptor(const EncryptionKey& key, Sink sink);
  ~Decryptor();
  void Write(const char* data, size_t size);
  // The stream's end: throws when it was cut off.
  void Finish();

 private:
  void OpenChunk(size_t size, bool last);

  struct State;
  std::unique_ptr<State> state_;
};

// Decrypts into a local file that appears under its name only whole and
// proven: the plaintext goes to a new temporary file beside it, renamed into
// place by Commit; a failure or a writer dropped before Commit removes that
// temporary file and leaves the name as it was.
class DecryptingFileWriter {
 public:
  DecryptingFileWriter(const EncryptionKey& key, const std::string& path);
  ~DecryptingFileWriter();
  DecryptingFileWriter(const DecryptingFileWriter&) = delete;
  DecryptingFileWriter& operator=(const DecryptingFileWriter&) = delete;
  void Write(const char* data, size_t size);
  void Commit();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// An encrypted local file to a plaintext one, as DecryptingFileWriter.
void DecryptToFile(const EncryptionKey& key, const std::string& encryptedPath, const std::string& plainPath);

}  // namespace qn::storage
