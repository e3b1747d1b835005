#include "firebird/connect_string.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "test_support/temp_dir.h"

namespace qn {
namespace {

using platform::DriveType;

// C fixed, D CD-ROM, N network; other letters have no root directory.
DriveType PretendDrive(const std::string& root) {
  if (root == "C:\\") return DriveType::Fixed;
  if (root == "D:\\") return DriveType::CdRom;
  if (root == "N:\\") return DriveType::Remote;
  return DriveType::NoRootDir;
}

TqnAddressContext Office(bool inet6 = false) {
  TqnAddressContext context;
  context.localHostName = "OFFICE1";
  context.forceInet6 = inet6;
  return context;
}

struct Case {
  std::string path;
  bool wantUrl;
  bool inet6;
  std::string address;
};

TEST(BuildConnectString, EveryBranch) {
  const std::vector<Case> cases = {
      // URL addresses of Firebird 3.0 databases
      {"localhost/53030:C:\\x.fdb", true, false, "inet4://OFFICE1:53030/C:\\x.fdb"},
      {"localhost/53030:C:\\x.fdb", true, true, "inet6://OFFICE1:53030/C:\\x.fdb"},
      {"localhost:C:\\x.fd3", true, false, "inet4://OFFICE1/C:\\x.fd3"},
      {"C:\\Data\\tx.fd3", true, false, "inet4://OFFICE1/C:\\Data\\tx.fd3"},
      {"\\Data\\tx.FD4", true, true, "inet6://OFFICE1/\\Data\\tx.FD4"},
      {"127.0.0.1/53030:C:\\x.fd3", true, false, "inet4://OFFICE1:53030/C:\\x.fd3"},
      {"srv/53030:C:\\x.fd3", true, false, "inet4://srv:53030/C:\\x.fd3"},
      {"inet6://srv/C:\\x.fd3", true, false, "inet4://srv/C:\\x.fd3"},
      {"inet://localhost:53030/C:\\x.fdb", true, false, "inet4://OFFICE1:53030/C:\\x.fdb"},
      // classic servers and requesters without URL addresses
      {"localhost:C:\\x.fdb", true, false, "OFFICE1:C:\\x.fdb"},
      {"localhost:C:\\x.fdb", false, true, "OFFICE1:C:\\x.fdb"},
      {" LocalHost :C:\\x.fdb", false, false, "OFFICE1:C:\\x.fdb"},
      {"C:\\Data\\base.fdb", false, false, "OFFICE1:C:\\Data\\base.fdb"},
      {"localhost/3051:C:\\x.fdb", true, false, "OFFICE1/3051:C:\\x.fdb"},
      {"localhost/53030:C:\\x.fd3", false, false, "OFFICE1/53030:C:\\x.fd3"},
      {"inet4://127.0.0.1:53030/C:\\x.fd3", false, false, "OFFICE1/53030:C:\\x.fd3"},
      {"inet4:///C:\\x.fd3", false, false, "OFFICE1:C:\\x.fd3"},
      // remote hosts keep their path, even under this machine's own name
      {"srv:C:\\x.fdb", true, false, "srv:C:\\x.fdb"},
      {"srv/3051:C:\\x.fdb", false, false, "srv/3051:C:\\x.fdb"},
      {"srv/53030:C:\\x.fd3", false, false, "srv/53030:C:\\x.fd3"},
      {"inet4://srv:53030/C:\\x.fd3", false, false, "inet4://srv:53030/C:\\x.fd3"},
      {"OFFICE1:C:\\x.fdb", false, false, "OFFICE1:C:\\x.fdb"},
      // invalid paths come back unchanged
      {"ab", true, false, "ab"},
      {"\\\\srv\\share\\x.fd3", true, false, "\\\\srv\\share\\x.fd3"},
      {"D:\\x.fd3", true, false, "D:\\x.fd3"},
      {"N:\\x.fdb", false, false, "N:\\x.fdb"},
      {"s:C:\\x.fdb", false, false, "s:C:\\x.fdb"},
      {"srv/abc:C:\\x.fd3", true, false, "srv/abc:C:\\x.fd3"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BuildConnectString(Office(c.inet6), c.path, c.wantUrl, PretendDrive), c.address)
        << c.path << " url=" << c.wantUrl << " inet6=" << c.inet6;
}

TEST(GetFb30ServerAddress, FromFbIniOrTheDefault) {
  TqnAddressContext context = Office();
  context.fbIniHost = "srv";
  context.fbIniPort = 3051;
  EXPECT_EQ(GetFb30ServerAddress(context), "localhost/53030");  // fb.ini absent: its values do not count
  context.fbIniPresent = true;
  const std::vector<std::pair<int, std::string>> cases = {
      {3051, "srv/3051"}, {53030, "srv/53030"}, {3050, "srv"}, {0, "srv"}, {-1, "srv/-1"}};
  for (const auto& [port, address] : cases) {
    context.fbIniPort = port;
    EXPECT_EQ(GetFb30ServerAddress(context), address) << port;
  }
}

class FbIniFile : public ::testing::Test {
 protected:
  void Write(const std::string& text) { std::ofstream(dir_.File("fb.ini"), std::ios::binary) << text; }
  TqnAddressContext Read() {
    TqnAddressContext context = Office();
    context.fbIniHost = "stale";
    context.fbIniPort = 1;
    ReadFbIni(dir_.path(), context);
    return context;
  }
  TempDir dir_;
};

TEST_F(FbIniFile, AbsentFileGivesTheDefaults) {
  TqnAddressContext context = Read();
  EXPECT_FALSE(context.fbIniPresent);
  EXPECT_EQ(context.fbIniHost, "localhost");
  EXPECT_EQ(context.fbIniPort, 3050);
  EXPECT_EQ(GetFb30ServerAddress(context), "localhost/53030");
}

TEST_F(FbIniFile, HostAndPortOfTheDefaultSection) {
  Write("[other]\r\nhost=wrong\r\nport=1\r\n\r\n[ Default ]\r\n HOST = fbsrv \r\nPort=53031\r\n");
  TqnAddressContext context = Read();
  EXPECT_TRUE(context.fbIniPresent);
  EXPECT_EQ(context.fbIniHost, "fbsrv");
  EXPECT_EQ(context.fbIniPort, 53031);
  EXPECT_EQ(GetFb30ServerAddress(context), "fbsrv/53031");
}

TEST_F(FbIniFile, MissingOrBadValuesFallBack) {
  Write("[default]\nport=30x50\n");
  TqnAddressContext context = Read();
  EXPECT_TRUE(context.fbIniPresent);
  EXPECT_EQ(context.fbIniHost, "localhost");
  EXPECT_EQ(context.fbIniPort, 3050);
  EXPECT_EQ(GetFb30ServerAddress(context), "localhost");  // present: no port 53030 added

  Write("");
  context = Read();
  EXPECT_TRUE(context.fbIniPresent);
  EXPECT_EQ(context.fbIniPort, 3050);
}

}  // namespace
}  // namespace qn
