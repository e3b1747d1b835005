// Reading archive members: whole members, the forward member stream with
// its position and size answers, and the failures with their texts.
#include "backup/zip_stream.h"

#include <gtest/gtest.h>

#include <functional>

#include "backup/zip_writer.h"
#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "test_support/temp_dir.h"

namespace qn {
namespace {

std::string FailureOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.what();
  }
  return "<no failure>";
}

// Bytes that do not compress much, so that the stream needs several reads.
std::string LongText(size_t size) {
  std::string text;
  uint32_t x = 12345;
  while (text.size() < size) {
    x = x * 1103515245u + 12345u;
    text += static_cast<char>(x >> 24);
  }
  return text;
}

class ZipStream : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("a.pbz");
    ziptest::WriteZip(path_, {{"one.txt", Win1251("первый\r\n")}, {"empty.txt", ""}, {"long.bin", long_}});
  }
  TempDir dir_;
  std::string path_;
  const std::string long_ = LongText(100000);
};

TEST_F(ZipStream, ReadsMembersWholeByNameInAnyOrder) {
  UclsZipArchive archive(path_);
  EXPECT_EQ(archive.ReadMember("long.bin"), long_);
  EXPECT_EQ(archive.ReadMember("one.txt"), Win1251("первый\r\n"));
  EXPECT_EQ(archive.ReadMember("empty.txt"), "");
  EXPECT_EQ(archive.ReadMember("one.txt"), Win1251("первый\r\n"));
  archive.Close();
  archive.Close();
}

TEST_F(ZipStream, MissingMembersAndDamagedFilesAreNamed) {
  UclsZipArchive archive(path_);
  EXPECT_EQ(FailureOf([&] { archive.ReadMember("One.txt"); }), "file One.txt not found in zipfile");
  EXPECT_EQ(FailureOf([&] { UclsZipMemberBuf buf(archive, "none"); }), "file none not found in zipfile");

  const std::string damaged = dir_.File("damaged.pbz");
  platform::WriteFileReplacing(damaged, "PK this is no zip file at all");
  EXPECT_EQ(FailureOf([&] { UclsZipArchive a(damaged); }),
            Format(Win1251("Файл \"%s\" повреждён").c_str(), damaged.c_str()));
  EXPECT_EQ(FailureOf([&] { UclsZipStream s(dir_.File("absent.pbz"), "one.txt"); }),
            Format(Win1251("Файл \"%s\" повреждён").c_str(), dir_.File("absent.pbz").c_str()));
}

TEST_F(ZipStream, ACorruptedMemberFailsWhenRead) {
  // Flip bytes inside the compressed data of the long member: the
  // directory still reads, the data do not.
  std::string bytes = platform::ReadFile(path_);
  size_t at = bytes.find("long.bin");
  ASSERT_NE(at, std::string::npos);
  for (size_t i = at + 200; i < at + 400; ++i) bytes[i] = static_cast<char>(~bytes[i]);
  platform::WriteFileReplacing(path_, bytes);
  UclsZipArchive archive(path_);
  EXPECT_NE(FailureOf([&] { archive.ReadMember("long.bin"); }), "<no failure>");
  EXPECT_EQ(archive.ReadMember("one.txt"), Win1251("первый\r\n"));
}

TEST_F(ZipStream, MemberStreamReadsForwardAndAnswersPositionAndSize) {
  UclsZipStream stream(path_, "long.bin");
  EXPECT_EQ(stream.Buffer().Size(), long_.size());
  EXPECT_EQ(static_cast<int64_t>(stream.tellg()), 0);

  std::string head(1000, '\0');
  stream.read(head.data(), 1000);
  EXPECT_EQ(head, long_.substr(0, 1000));
  EXPECT_EQ(static_cast<int64_t>(stream.tellg()), 1000);

  // Asking for the size or the start does not move the reading.
  EXPECT_EQ(static_cast<int64_t>(stream.rdbuf()->pubseekoff(0, std::ios_base::end)),
            static_cast<int64_t>(long_.size()));
  EXPECT_EQ(static_cast<int64_t>(stream.rdbuf()->pubseekoff(0, std::ios_base::beg)), 0);
  EXPECT_EQ(static_cast<int64_t>(stream.rdbuf()->pubseekpos(0)), 0);
  EXPECT_EQ(static_cast<int64_t>(stream.tellg()), 1000);

  std::string rest((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  EXPECT_EQ(rest, long_.substr(1000));
  EXPECT_EQ(stream.Buffer().Position(), long_.size());
  stream.Buffer().Close();
}

TEST_F(ZipStream, OtherPositioningAndResizingAreNotImplemented) {
  UclsZipStream stream(path_, "one.txt");
  std::string line;
  std::getline(stream, line);
  EXPECT_EQ(FailureOf([&] { stream.rdbuf()->pubseekoff(1, std::ios_base::beg); }), "Not yet implemented");
  EXPECT_EQ(FailureOf([&] { stream.rdbuf()->pubseekoff(-1, std::ios_base::end); }), "Not yet implemented");
  EXPECT_EQ(FailureOf([&] { stream.rdbuf()->pubseekpos(3); }), "Not yet implemented");
  EXPECT_EQ(FailureOf([&] { stream.Buffer().SetSize(3); }), "Not yet implemented");
  // Through the stream the failure reaches the reader as well.
  EXPECT_EQ(FailureOf([&] { stream.seekg(2); }), "Not yet implemented");
}

TEST_F(ZipStream, AMemberClaimingGigabytesIsRefusedBeforeItIsRead) {
  ziptest::ClaimSize(path_, "one.txt", 0xC0000000u);
  UclsZipArchive archive(path_);
  EXPECT_EQ(FailureOf([&] { archive.ReadMember("one.txt"); }),
            "member one.txt is too large to be read whole (3221225472 bytes)");
  EXPECT_EQ(archive.ReadMember("long.bin"), long_) << "the archive stays usable";
}

}  // namespace
}  // namespace qn
