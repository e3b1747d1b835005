// The S3 destination as the Windows program has it (its own static libcurl,
// Windows' cryptography), run under Wine by windows_s3_test.py against moto
// on loopback, which names the store in the environment; skipped without it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "storage/byte_sources.h"
#include "storage/encryption.h"
#include "storage/s3_storage.h"

namespace qn::storage {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

TEST(S3Windows, AnEncryptedPutAndAMultipartUploadLandCheckAndReadBack) {
  if (Environment("QN_S3_ENDPOINT").empty()) GTEST_SKIP() << "no S3 store named (windows_s3_test.py names one)";
  S3Config c;
  c.endpoint = Environment("QN_S3_ENDPOINT");
  c.region = "us-east-1";
  c.bucket = "windows-copies";
  c.prefix = "office1/";
  c.accessKey = Environment("QN_S3_ACCESS_KEY");
  c.secretKey = Environment("QN_S3_SECRET_KEY");
  c.partSize = S3Storage::kMinPartSize;
  S3Storage s3(c);
  s3.CreateBucket(false);
  std::mt19937 random(7);
  std::string large(2 * S3Storage::kMinPartSize + 999, '\0');
  for (char& ch : large) ch = static_cast<char>(random());

  const WrittenObject multipart = s3.Write("db0000-large.fbk", *TextSource(large));
  EXPECT_EQ(multipart.storeChecksum.substr(multipart.storeChecksum.size() - 2), "-3");
  const EncryptionKey key = KeyFromBytes(std::string(32, '\x5a'));
  const std::string small = large.substr(0, 300000);
  const std::unique_ptr<ByteSource> smallSource = TextSource(small);
  EncryptingSource encrypted(*smallSource, key);
  const WrittenObject put = s3.Write("db0000-small.enc", encrypted);
  std::string why;
  EXPECT_TRUE(s3.Check("db0000-large.fbk", multipart, &why)) << why;
  EXPECT_TRUE(s3.Check("db0000-small.enc", put, &why)) << why;

  std::string back;
  s3.Read("db0000-large.fbk", [&](const char* data, size_t size) { back.append(data, size); });
  EXPECT_TRUE(back == large);
  std::string decrypted;
  Decryptor decryptor(key, [&](const char* data, size_t size) { decrypted.append(data, size); });
  s3.Read("db0000-small.enc", [&](const char* data, size_t size) { decryptor.Write(data, size); });
  decryptor.Finish();
  EXPECT_TRUE(decrypted == small);

  S3Config wrong = c;
  wrong.secretKey = "not-the-secret";
  S3Storage refused(wrong);
  try {
    refused.List();
    FAIL() << "listed with a wrong secret";
  } catch (const S3Error& e) {
    EXPECT_EQ(e.Code(), "SignatureDoesNotMatch") << e.what();
  }
}

}  // namespace
}  // namespace qn::storage
