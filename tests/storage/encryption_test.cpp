#include "storage/encryption.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstring>
#include <random>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "test_support/temp_dir.h"

namespace qn::storage {
namespace {

class StringSource : public ByteSource {
 public:
  explicit StringSource(std::string bytes, size_t step = 7777) : bytes_(std::move(bytes)), step_(step) {}
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  size_t Read(char* buffer, size_t capacity) override {
    const size_t n = std::min({capacity, step_, bytes_.size() - at_});
    std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::string bytes_;
  size_t step_;
  size_t at_ = 0;
};

std::string RandomText(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

std::string Encrypt(const std::string& plain, const EncryptionKey& key, size_t chunk) {
  StringSource source(plain);
  EncryptingSource encrypting(source, key, chunk);
  std::string out;
  char buffer[5000];
  for (size_t n; (n = encrypting.Read(buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  EXPECT_EQ(static_cast<int64_t>(out.size()), encrypting.Size());
  return out;
}

std::string Decrypt(const std::string& sealed, const EncryptionKey& key) {
  std::string out;
  Decryptor decryptor(key, [&](const char* data, size_t size) { out.append(data, size); });
  for (size_t at = 0; at < sealed.size(); at += 3001)
    decryptor.Write(sealed.data() + at, std::min<size_t>(3001, sealed.size() - at));
  decryptor.Finish();
  return out;
}

TEST(Encryption, RoundTripsAtEverySizeAroundTheChunkAndHidesThePlaintext) {
  const EncryptionKey key = KeyFromBytes(RandomText(32, 1));
  const size_t chunk = 4096;
  for (size_t size : {size_t{0}, size_t{1}, chunk - 1, chunk, chunk + 1, 5 * chunk, 5 * chunk + 17}) {
    const std::string plain = RandomText(size, static_cast<unsigned>(size) + 2);
    const std::string sealed = Encrypt(plain, key, chunk);
    EXPECT_EQ(static_cast<int64_t>(sealed.size()), EncryptedSize(static_cast<int64_t>(size), chunk)) << size;
    EXPECT_EQ(Decrypt(sealed, key), plain) << size;
    if (size >= 64) {
      EXPECT_EQ(sealed.find(plain.substr(0, 64)), std::string::npos);
    }
  }
  // Two encryptions of the same bytes differ (a fresh nonce prefix each).
  EXPECT_NE(Encrypt("same bytes", key, chunk), Encrypt("same bytes", key, chunk));
}

TEST(Encryption, AnyAlteredByteACutOffEndOrAnotherKeyFails) {
  const EncryptionKey key = KeyFromBytes(RandomText(32, 3));
  const size_t chunk = 1024;
  const std::string plain = RandomText(3 * chunk + 100, 4);
  const std::string sealed = Encrypt(plain, key, chunk);
  // A byte of the header, of a first and of the last chunk's ciphertext, and of a tag.
  for (size_t at : {size_t{5}, size_t{30}, kEncryptionHeaderSize + 10, sealed.size() - 20, sealed.size() - 1}) {
    std::string altered = sealed;
    altered[at] ^= 0x01;
    EXPECT_THROW(Decrypt(altered, key), Exception) << at;
  }
  // The stream cut at a chunk's end, and inside one.
  EXPECT_THROW(Decrypt(sealed.substr(0, kEncryptionHeaderSize + chunk + 16), key), Exception);
  EXPECT_THROW(Decrypt(sealed.substr(0, sealed.size() - 5), key), Exception);
  try {
    Decrypt(sealed, KeyFromBytes(RandomText(32, 5)));
    FAIL() << "decrypted with another key";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find(Win1251("другим ключом")), std::string::npos) << e.what();
  }
}

TEST(Encryption, KeyFileIsMadeOnceOwnerOnlyAndADecryptedFileAppearsOnlyWhenProven) {
  TempDir dir;
  const std::string folder = dir.File(Win1251("Ключи и копии"));
  platform::ForceDirectories(folder);
  const std::string keyFile = platform::JoinPath(folder, "cloud.key");
  bool created = false;
  const EncryptionKey key = LoadOrCreateKeyFile(keyFile, &created);
  EXPECT_TRUE(created);
#ifndef _WIN32
  struct stat st {};
  ASSERT_EQ(::stat(platform::KernelFileName(keyFile).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
  const std::string text = platform::ReadFile(keyFile);
  EXPECT_EQ(text.size(), 65u);
  EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), 64u);
  const EncryptionKey again = LoadOrCreateKeyFile(keyFile, &created);
  EXPECT_FALSE(created);
  EXPECT_EQ(again.bytes, key.bytes);
  EXPECT_EQ(platform::ListFiles(folder).size(), 1u);  // no temporary file left beside it

  const std::string plain = RandomText(300000, 6);
  const std::string sealedPath = platform::JoinPath(folder, Win1251("копия.enc"));
  platform::WriteFileReplacing(sealedPath, Encrypt(plain, key, kEncryptionChunkSize));
  const std::string out = platform::JoinPath(folder, Win1251("копия.fbk"));
  DecryptToFile(key, sealedPath, out);
  EXPECT_EQ(platform::ReadFile(out), plain);

  std::string altered = platform::ReadFile(sealedPath);
  altered[altered.size() / 2] ^= 0x40;
  platform::WriteFileReplacing(sealedPath, altered);
  platform::WriteFileReplacing(out, "the previous file");
  EXPECT_THROW(DecryptToFile(key, sealedPath, out), Exception);
  EXPECT_EQ(platform::ReadFile(out), "the previous file");
  EXPECT_EQ(platform::ListFiles(folder).size(), 3u);  // key, sealed copy, previous file: nothing half-written
}

}  // namespace
}  // namespace qn::storage
