#include "storage/encryption.h"

#include <algorithm>
#include <cstring>

#include "base/error.h"
#include "base/sha256.h"
#include "base/text.h"
#include "storage/crypto.h"

namespace qn::storage {

namespace {

constexpr char kMagic[] = "QNENC";
constexpr unsigned char kVersion = 1;
constexpr size_t kPrefixSize = 7;

std::string BigEndian32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

uint32_t ReadBigEndian32(const char* p) {
  auto b = [&](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(p[i])); };
  return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

std::string Nonce(const std::string& prefix, uint32_t number, bool last) {
  return prefix + BigEndian32(number) + (last ? '\1' : '\0');
}

}  // namespace

EncryptionKey KeyFromBytes(const std::string& bytes) {
  if (bytes.size() != AesGcm::kKeySize) throw Exception(Win1251("ключ шифрования должен быть из 32 байт"));
  TqnSha256 sha;
  sha.Update(bytes.data(), bytes.size());
  return {bytes, sha.HexDigest().substr(0, 16)};
}

int64_t EncryptedSize(int64_t plainSize, size_t chunkSize) {
  const int64_t chunks = plainSize / static_cast<int64_t>(chunkSize) + 1;
  return static_cast<int64_t>(kEncryptionHeaderSize) + plainSize + chunks * static_cast<int64_t>(AesGcm::kTagSize);
}

struct EncryptingSource::State {
  ByteSource* plain = nullptr;
  size_t chunkSize = 0;
  std::unique_ptr<AesGcm> aes;
  std::string header;
  std::string prefix;
  uint32_t number = 0;
  bool sealedLast = false;
  std::string plainChunk;
  std::string out;  // sealed bytes not handed on yet
  size_t outAt = 0;
};

EncryptingSource::EncryptingSource(ByteSource& plain, const EncryptionKey& key, size_t chunkSize)
    : state_(std::make_unique<State>()) {
  if (chunkSize == 0 || chunkSize > (1u << 30)) throw Exception("bad encryption chunk size");
  State& s = *state_;
  s.plain = &plain;
  s.chunkSize = chunkSize;
  s.aes = std::make_unique<AesGcm>(key.bytes);
  s.prefix = RandomBytes(kPrefixSize);
  s.header = std::string(kMagic, 5) + static_cast<char>(kVersion) + BigEndian32(static_cast<uint32_t>(chunkSize)) +
             key.id + s.prefix;
  if (s.header.size() != kEncryptionHeaderSize) throw Exception("bad encryption key identity");
  s.out = s.header;
  s.plainChunk.resize(chunkSize);
}

EncryptingSource::~EncryptingSource() = default;

int64_t EncryptingSource::Size() const {
  const int64_t plain = state_->plain->Size();
  return plain < 0 ? -1 : EncryptedSize(plain, state_->chunkSize);
}

void EncryptingSource::SealNext() {
  State& s = *state_;
  size_t got = 0;
  while (got < s.chunkSize) {
    const size_t n = s.plain->Read(s.plainChunk.data() + got, s.chunkSize - got);
    if (n == 0) break;
    got += n;
  }
  // Only a short chunk ends the stream, so a reader knows the end when it sees it.
  const bool last = got < s.chunkSize;
  s.out.resize(got + AesGcm::kTagSize);
  s.outAt = 0;
  s.aes->Seal(Nonce(s.prefix, s.number, last), s.header, s.plainChunk.data(), got, s.out.data(), s.out.data() + got);
  ++s.number;
  s.sealedLast = last;
}

size_t EncryptingSource::Read(char* buffer, size_t capacity) {
  State& s = *state_;
  if (s.outAt == s.out.size()) {
    if (s.sealedLast) return 0;
    SealNext();
  }
  const size_t n = std::min(capacity, s.out.size() - s.outAt);
  std::memcpy(buffer, s.out.data() + s.outAt, n);
  s.outAt += n;
  return n;
}

struct Decryptor::State {
  EncryptionKey key;
  Sink sink;
  std::unique_ptr<AesGcm> aes;
  std::string header;
  std::string prefix;
  size_t chunkSize = 0;
  uint32_t number = 0;
  bool done = false;
  std::string in;  // received bytes not opened yet
  size_t inAt = 0;
  std::string plain;
};

Decryptor::Decryptor(const EncryptionKey& key, Sink sink) : state_(std::make_unique<State>()) {
  state_->key = key;
  state_->sink = std::move(sink);
  state_->aes = std::make_unique<AesGcm>(key.bytes);
}

Decryptor::~Decryptor() = default;

void Decryptor::OpenChunk(size_t size, bool last) {
  State& s = *state_;
  if (size < AesGcm::kTagSize) throw Exception(Win1251("зашифрованная копия обрезана"));
  const size_t body = size - AesGcm::kTagSize;
  s.plain.resize(body);
  const char* cipher = s.in.data() + s.inAt;
  if (!s.aes->Open(Nonce(s.prefix, s.number, last), s.header, cipher, body, cipher + body, s.plain.data()))
    throw Exception(Win1251("зашифрованная копия изменена: не сходится часть ") + std::to_string(s.number + 1));
  s.inAt += size;
  ++s.number;
  if (body) s.sink(s.plain.data(), body);
}

void Decryptor::Write(const char* data, size_t size) {
  State& s = *state_;
  if (s.done) throw Exception(Win1251("данные после конца зашифрованной копии"));
  if (s.inAt > 0 && s.inAt == s.in.size()) {
    s.in.clear();
    s.inAt = 0;
  }
  s.in.append(data, size);
  if (s.header.empty()) {
    if (s.in.size() < kEncryptionHeaderSize) return;
    const std::string header = s.in.substr(0, kEncryptionHeaderSize);
    if (header.compare(0, 5, kMagic) != 0) throw Exception(Win1251("это не зашифрованная копия программы"));
    if (static_cast<unsigned char>(header[5]) != kVersion)
      throw Exception(Win1251("неизвестная версия шифрования копии: ") +
                      std::to_string(static_cast<unsigned char>(header[5])));
    const std::string keyId = header.substr(10, 16);
    if (keyId != s.key.id)
      throw Exception(Win1251("копия зашифрована другим ключом (") + keyId + Win1251(", а ключ ") + s.key.id + ")");
    s.chunkSize = ReadBigEndian32(header.data() + 6);
    if (s.chunkSize == 0 || s.chunkSize > (1u << 30))
      throw Exception(Win1251("испорчен заголовок зашифрованной копии"));
    s.prefix = header.substr(26, kPrefixSize);
    s.header = header;
    s.inAt = kEncryptionHeaderSize;
  }
  // A whole chunk's length or more buffered means the chunk is not the last.
  const size_t full = s.chunkSize + AesGcm::kTagSize;
  while (s.in.size() - s.inAt >= full) OpenChunk(full, false);
  if (s.inAt > full) {
    s.in.erase(0, s.inAt);
    s.inAt = 0;
  }
}

void Decryptor::Finish() {
  State& s = *state_;
  if (s.done) return;
  if (s.header.empty()) throw Exception(Win1251("зашифрованная копия обрезана"));
  OpenChunk(s.in.size() - s.inAt, true);
  s.done = true;
}

}  // namespace qn::storage
