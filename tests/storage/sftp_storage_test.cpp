// A folder on an SSH server as a place for copies, against OpenSSH's server
// on loopback: what a write leaves under a name, how a name written again
// is replaced, and a server with another host key refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/error.h"
#include "base/text.h"
#include "storage/byte_sources.h"
#include "storage/place_checks.h"
#include "storage/sftp_storage.h"
#include "storage/sshd_server.h"
#include "test_support/temp_dir.h"

using namespace qn;
using namespace qn::storage;
using qntest::FailingSource;
using qntest::ReadAll;

namespace {

constexpr const char* kPrefix = "qnpartial-0123456789abcdef0123456789abcdef-";

class Sftp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server_.Error().empty()) GTEST_SKIP() << server_.Error();
    remote_ = server_.Folder() + "/" + "Копии";  // the server's names are UTF-8
    std::filesystem::create_directory(remote_);
    std::filesystem::permissions(remote_, std::filesystem::perms::all);
  }
  SftpConfig Config() const {
    SftpConfig c;
    c.endpoint = server_.Endpoint();
    c.path = Win1251(remote_);
    c.user = server_.User();
    c.privateKeyFile = server_.ClientKey();
    c.hostKeySha256 = server_.HostKey();
    c.unfinishedPrefix = kPrefix;
    return c;
  }
  qntest::SshdServer server_;
  std::string remote_;
};

}  // namespace

TEST_F(Sftp, AWrittenObjectIsThereWholeAndANameWrittenAgainIsReplaced) {
  SftpStorage place(Config());
  const std::string name = Win1251("db0000-копия.bk3");
  const std::string bytes(2 * 1024 * 1024 + 5, 'q');
  const WrittenObject written = place.Write(name, *TextSource(bytes));
  EXPECT_EQ(written.size, static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(ReadAll(place, name), bytes);
  const ObjectInfo info = place.Info(name);
  EXPECT_TRUE(info.exists);
  EXPECT_EQ(info.size, written.size);
  EXPECT_GT(info.modifiedUnix, 0);
  EXPECT_FALSE(place.Info("none.bk3").exists);
  EXPECT_EQ(place.List(), std::vector<std::string>{name});
  std::string why;
  EXPECT_TRUE(place.Check(name, written, &why)) << why;
  {
    std::fstream f(remote_ + "/db0000-копия.bk3", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(1024 * 1024);
    f.put('Q');
  }
  EXPECT_FALSE(place.Check(name, written, &why));
  EXPECT_NE(why.find(written.sha256Hex), std::string::npos) << why;

  // Written again (as the catalogue is), renamed, removed.
  place.Write("catalogue.txt", *TextSource("first"));
  place.Write("catalogue.txt", *TextSource("second"));
  EXPECT_EQ(ReadAll(place, "catalogue.txt"), "second");
  place.Rename(name, "b.bk3");
  EXPECT_FALSE(place.Info(name).exists);
  place.Remove("b.bk3");
  EXPECT_EQ(TempDir::ListDir(remote_), std::vector<std::string>{"catalogue.txt"});
  EXPECT_THROW(place.Write("../out.bk3", *TextSource("x")), Exception);
  WriteOptions locked;
  locked.lockUntilUnix = 4102444800;
  EXPECT_THROW(place.Write("l.bk3", *TextSource("x"), locked), Exception);
}

TEST_F(Sftp, AFailedWriteLeavesTheOldObjectAndAKillBetweenTheStepsLeavesTheNewOneReadable) {
  SftpStorage place(Config());
  place.Write("catalogue.txt", *TextSource("the old catalogue"));
  FailingSource failing;
  EXPECT_THROW(place.Write("catalogue.txt", failing), Exception);
  EXPECT_EQ(ReadAll(place, "catalogue.txt"), "the old catalogue");
  EXPECT_EQ(TempDir::ListDir(remote_), std::vector<std::string>{"catalogue.txt"});

  // As a kill after the old one was removed leaves it: the whole new one
  // under its done name, which reads, lists and is replaced as the name.
  std::filesystem::remove(remote_ + "/catalogue.txt");
  std::ofstream(remote_ + "/" + kPrefix + "done-catalogue.txt") << "the new catalogue";
  EXPECT_EQ(ReadAll(place, "catalogue.txt"), "the new catalogue");
  EXPECT_TRUE(place.Info("catalogue.txt").exists);
  EXPECT_EQ(place.List(), std::vector<std::string>{"catalogue.txt"});
  place.Write("catalogue.txt", *TextSource("the next one"));
  EXPECT_EQ(TempDir::ListDir(remote_), std::vector<std::string>{"catalogue.txt"});
  EXPECT_EQ(ReadAll(place, "catalogue.txt"), "the next one");
}

TEST_F(Sftp, AServerWithAnotherHostKeyIsRefusedBeforeAnythingIsSent) {
  SftpConfig c = Config();
  c.hostKeySha256 = server_.OtherHostKey();
  ASSERT_FALSE(c.hostKeySha256.empty());
  SftpStorage impostor(c);
  EXPECT_THROW(impostor.Write("x.bk3", *TextSource("secret")), Exception);
  EXPECT_THROW(impostor.List(), Exception);
  EXPECT_TRUE(TempDir::ListDir(remote_).empty());
  c.hostKeySha256.clear();
  EXPECT_THROW(SftpStorage{c}, Exception) << "no fingerprint, no server";
}
