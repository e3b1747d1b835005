#include "firebird/fb_paths.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/text.h"

namespace qn {
namespace {

using platform::DriveType;

// Drives of a pretend machine: C fixed, R removable, M RAM disk, N network,
// D CD-ROM, U unknown; any other letter has no root directory.
DriveType PretendDrive(const std::string& root) {
  static const std::map<std::string, DriveType> kDrives = {{"C:\\", DriveType::Fixed},   {"R:\\", DriveType::Removable},
                                                           {"M:\\", DriveType::RamDisk}, {"N:\\", DriveType::Remote},
                                                           {"D:\\", DriveType::CdRom},   {"U:\\", DriveType::Unknown},
                                                           {"c:\\", DriveType::Fixed}};
  auto it = kDrives.find(root);
  return it == kDrives.end() ? DriveType::NoRootDir : it->second;
}

std::string Rejection(int rule, const std::string& text) {
  return Win1251("Недопустимое значение пути к базе данных (") + std::to_string(rule) + "): " + text;
}

struct Accepted {
  std::string text;
  TFbProtocol protocol;
  std::string host;
  int32_t port;
  std::string file;
};

TEST(ParseDatabasePath, AcceptedForms) {
  const std::vector<Accepted> cases = {
      {"C:\\Data\\base.fdb", fpLocal, "", 0, "C:\\Data\\base.fdb"},
      {"c:/data/base.fdb", fpLocal, "", 0, "c:/data/base.fdb"},
      {"R:\\x.fdb", fpLocal, "", 0, "R:\\x.fdb"},
      {"M:\\x.fdb", fpLocal, "", 0, "M:\\x.fdb"},
      {"Z:\\x.fdb", fpLocal, "", 0, "Z:\\x.fdb"},  // no root directory: accepted
      {"\\Data\\x.fdb", fpLocal, "", 0, "\\Data\\x.fdb"},
      {"/data/x.fdb", fpLocal, "", 0, "/data/x.fdb"},
      {"server:C:\\Data\\base.fdb", fpTcp, "server", 0, "C:\\Data\\base.fdb"},
      {"server/3051:C:\\x.fdb", fpTcp, "server", 3051, "C:\\x.fdb"},
      {"localhost/53030:C:\\x.fd3", fpTcp, "localhost", 53030, "C:\\x.fd3"},
      {"srv:/opt/db/x.fdb", fpTcp, "srv", 0, "/opt/db/x.fdb"},
      {"ab:x", fpTcp, "ab", 0, "x"},
      {"\\a:b", fpTcp, "\\a", 0, "b"},            // a root path with a colon is read in the classic form
      {"inet://srv", fpTcp, "inet", 0, "//srv"},  // not a URL: no "/" after the host
      {"inet4://srv:53030/C:\\x.fd3", fpInet4, "srv", 53030, "C:\\x.fd3"},
      {"  inet://srv/x", fpInet, "srv", 0, "x"},
      {"INET://srv/x", fpTcp, "INET", 0, "//srv/x"},
      {"inet://srv:123456/x", fpTcp, "inet", 0, "//srv:123456/x"},
  };
  for (const Accepted& c : cases) {
    TFbLocation got = ParseDatabasePath(c.text, PretendDrive);
    EXPECT_EQ(got.protocol, c.protocol) << c.text;
    EXPECT_EQ(got.host, c.host) << c.text;
    EXPECT_EQ(got.port, c.port) << c.text;
    EXPECT_EQ(got.filePath, c.file) << c.text;
  }
}

TEST(ParseDatabasePath, RejectedFormsCarryTheirRuleNumber) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"", 1},
      {"a:\\", 1},
      {"ab:", 1},
      {"\\\\server\\share\\base.fdb", 2},
      {"//server/base.fdb", 2},
      {"\\/x.fdb", 2},
      {"N:\\Data\\base.fdb", 3},
      {"D:\\base.fdb", 3},
      {"U:/base.fdb", 3},
      {"s:C:\\x.fdb", 4},
      {"base.fdb", 4},
      {"\\1abc", 4},  // a root path needs a letter after the slash
      {"server/abc:C:\\x.fdb", 5},
      {"server/0:C:\\x.fdb", 5},
      {"server/:C:\\x.fdb", 5},
      {"server/-1:C:\\x.fdb", 5},
      {"server/99999999999:C:\\x.fdb", 5},
      {"C:\\a:b", 4},  // a drive path with a further colon falls through to the classic form
  };
  for (const auto& [text, rule] : cases) {
    try {
      ParseDatabasePath(text, PretendDrive);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const EqnDNError& e) {
      EXPECT_EQ(std::string(e.what()), Rejection(rule, text));
    }
  }
}

TEST(ParseDatabasePath, DriveRootIsWhatTheQueryIsAsked) {
  std::vector<std::string> asked;
  auto query = [&](const std::string& root) {
    asked.push_back(root);
    return DriveType::Fixed;
  };
  ParseDatabasePath("e:/x.fdb", query);
  ParseDatabasePath("\\Data\\x.fdb", query);  // the root form asks nothing
  ParseDatabasePath("srv:C:\\x.fdb", query);
  EXPECT_EQ(asked, std::vector<std::string>{"e:\\"});
}

TEST(ParseDatabasePath, PlatformAnswerIsUsedWithoutAQuery) {
  // Linux has no drive letters (every letter answers as one without a root);
  // on Windows C: is a fixed disk. Either way the path is local, and a letter
  // with no drive behind it is never refused as a network or CD drive.
  EXPECT_EQ(ParseDatabasePath("C:\\Data\\base.fdb").protocol, fpLocal);
  ASSERT_EQ(platform::GetDriveType("Q:\\"), DriveType::NoRootDir);
  EXPECT_EQ(ParseDatabasePath("Q:\\Data\\base.fdb").filePath, "Q:\\Data\\base.fdb");
}

TEST(ParseFbUrl, StateMachine) {
  struct Case {
    std::string text;
    bool ok;
    TFbProtocol protocol;
    std::string host;
    int32_t port;
    std::string file;
  };
  const std::vector<Case> cases = {
      {"inet://srv/", true, fpInet, "srv", 0, ""},
      {"inet://srv", false, fpLocal, "", 0, ""},
      {"inet4://srv:53030/C:\\x.fd3", true, fpInet4, "srv", 53030, "C:\\x.fd3"},
      {"inet6://h:/f", true, fpInet6, "h", 0, "f"},
      {"inet://:99999/f", true, fpInet, "", 99999, "f"},  // five digits, no range check
      {"inet:///", true, fpInet, "", 0, ""},
      {"\t\x01 inet://h/a:b//c d", true, fpInet, "h", 0, "a:b//c d"},
      {"inet://h o\xC0st/f", true, fpInet, "h o\xC0st", 0, "f"},
      {"inet://srv:123456/x", false, fpLocal, "", 0, ""},
      {"inet://srv:5a/x", false, fpLocal, "", 0, ""},
      {"inet://srv:5", false, fpLocal, "", 0, ""},
      {"INET://srv/x", false, fpLocal, "", 0, ""},
      {"Inet://srv/x", false, fpLocal, "", 0, ""},
      {"inet5://srv/x", false, fpLocal, "", 0, ""},
      {"inet:/srv/x", false, fpLocal, "", 0, ""},
      {"inet\\\\srv/x", false, fpLocal, "", 0, ""},
      {"x inet://srv/x", false, fpLocal, "", 0, ""},
      {"/inet://srv/x", false, fpLocal, "", 0, ""},
      {"", false, fpLocal, "", 0, ""},
  };
  for (const Case& c : cases) {
    TFbLocation got;
    ASSERT_EQ(ParseFbUrl(c.text, got), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(got.protocol, c.protocol) << c.text;
    EXPECT_EQ(got.host, c.host) << c.text;
    EXPECT_EQ(got.port, c.port) << c.text;
    EXPECT_EQ(got.filePath, c.file) << c.text;
  }
}

TEST(ParseFbUrl, ProtocolOrdinalsAreStable) {
  EXPECT_EQ(static_cast<int>(fpLocal), 0);
  EXPECT_EQ(static_cast<int>(fpTcp), 1);
  EXPECT_EQ(static_cast<int>(fpInet), 2);
  EXPECT_EQ(static_cast<int>(fpInet4), 3);
  EXPECT_EQ(static_cast<int>(fpInet6), 4);
}

TEST(IsFb30Database, PortOrExtensionDecides) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"localhost/53030:C:\\x.fdb", true},
      {"localhost:C:\\x.Fd4", true},
      {"localhost:C:\\x.fd3", true},
      {"localhost:C:\\x.fdb", false},
      {"localhost/3050:C:\\x.fdb", false},
      {"C:\\data\\TX.FD3", true},
      {"inet4://srv:53030/x", true},
      {"inet4://srv/x.fd5", false},
      {"srv:fd3", false},
      {"srv:.fd3", true},
      {"srv:x.fd3 ", false},
  };
  for (const auto& [path, fb30] : cases) EXPECT_EQ(IsFb30Database(path, PretendDrive), fb30) << path;
  EXPECT_THROW(IsFb30Database("N:\\x.fd3", PretendDrive), EqnDNError);
  EXPECT_THROW(IsFb30Database("x", PretendDrive), EqnDNError);
}

TEST(IsLocalHost, NamesOfThisMachine) {
  struct Case {
    const char* host;
    const char* own;
    bool local;
  };
  const Case cases[] = {
      {" LocalHost ", "", true},
      {"", "", true},
      {"   ", "", true},
      {"127.0.0.1", "", true},
      {"office1", "OFFICE1", true},
      {" Office1", "office1 ", true},
      {"office1", "", false},
      {"office2", "OFFICE1", false},
      {"127.0.0.2", "", false},
      {"local host", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsLocalHost(c.host, c.own), c.local) << "'" << c.host << "' '" << c.own << "'";
}

TEST(GetCmdOption, FindsTheFirstMatchingLongOption) {
  struct Case {
    std::vector<std::string> args;
    std::string name;
    bool found;
    std::string value;
  };
  const std::vector<Case> cases = {
      {{"--hidden=1"}, "hidden", true, "1"},
      {{"x", "--other=2", "--hidden=0", "--hidden=1"}, "hidden", true, "0"},
      {{"-- hidden =yes"}, "hidden", true, "yes"},
      {{"--hidden=a=b"}, "hidden", true, "a=b"},
      {{"--h="}, "h", true, ""},
      {{"--h"}, "h", false, ""},
      {{"--hidden"}, "hidden", false, ""},
      {{"--Hidden=1"}, "hidden", false, ""},
      {{" --hidden=1", "-hidden=1", "hidden=1"}, "hidden", false, ""},
      {{}, "hidden", false, ""},
  };
  for (const Case& c : cases) {
    std::string value = "stale";
    EXPECT_EQ(GetCmdOption(c.args, c.name, value), c.found) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
  }
}

TEST(GetCmdOption, ProgramNameIsNotAnArgument) {
  const char* argv[] = {"--hidden=9", "--x=1", "--hidden=1"};
  std::string value;
  ASSERT_TRUE(GetCmdOption(3, argv, "hidden", value));
  EXPECT_EQ(value, "1");
  EXPECT_FALSE(GetCmdOption(1, argv, "hidden", value));
  EXPECT_EQ(value, "");
}

TEST(DigitsOnly, TheNumberOfTheDigits) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"db0012", "12"},
      {"db", "0"},
      {"", "0"},
      {"0000", "0"},
      {"a1b0c3", "103"},
      {"db0100", "100"},
      {"\xC0\xB9"
       "7",
       "7"},
  };
  for (const auto& [text, number] : cases) EXPECT_EQ(DigitsOnly(text), number) << text;
  std::string huge(5000, '9');
  EXPECT_EQ(DigitsOnly("db000" + huge), huge);
}

}  // namespace
}  // namespace qn
