#include "firebird/ini_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qn {
namespace {

TEST(IniFile, NamesIgnoreCaseAndValuesAreTrimmed) {
  const std::string text =
      "; a comment\r\n"
      "top=outside\r\n"
      "[Default]\r\n"
      "  Host  =  my server \t\r\n"
      "quoted=\" padded \"\r\n"
      "single='x'\r\n"
      "lonely=\"\r\n"
      "empty=\r\n"
      "noequals\r\n"
      ";port=1\r\n"
      "port = 3051\r\n"
      "[second]\r\n"
      "host=other\r\n";
  struct Case {
    const char* section;
    const char* key;
    std::string value;
  };
  const std::vector<Case> cases = {
      {"default", "host", "my server"},  {"DEFAULT", "HOST", "my server"}, {" default ", " host", "my server"},
      {"default", "quoted", " padded "}, {"default", "single", "x"},       {"default", "lonely", "\""},
      {"default", "empty", ""},  // present but empty is not the default
      {"default", "noequals", "<def>"},  {"default", "port", "3051"},      {"second", "host", "other"},
      {"second", "port", "<def>"},       {"default", "top", "<def>"},  // keys before any section belong to none
      {"missing", "host", "<def>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ReadIniString(text, c.section, c.key, "<def>"), c.value) << c.section << "/" << c.key;
}

TEST(IniFile, FirstOccurrenceWinsAndAnyLineEndWorks) {
  EXPECT_EQ(ReadIniString("[a]\nk=1\nk=2\n[A]\nk=3", "a", "k", ""), "1");
  EXPECT_EQ(ReadIniString("[a]\nj=1\n[A]\nk=3", "a", "k", ""), "3");
  EXPECT_EQ(ReadIniString("[a]\rk=cr\r", "a", "k", ""), "cr");
  EXPECT_EQ(ReadIniString("\xEF\xBB\xBF[a]\nk=bom", "a", "k", ""), "bom");
  EXPECT_EQ(ReadIniString("[a\nk=open", "a", "k", ""), "open");  // an unclosed section name
  EXPECT_EQ(ReadIniString("", "a", "k", "d"), "d");
}

TEST(IniFile, IntegersAreDecimalOrTheDefault) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"3050", 3050},
      {" 42 ", 42},
      {"+7", 7},
      {"-5", -5},
      {"0", 0},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", -9},
      {"99999999999999999999", -9},
      {"12a", -9},
      {"", -9},
      {"-", -9},
      {"0x10", -9},
      {"1 2", -9},
  };
  for (const auto& [value, number] : cases)
    EXPECT_EQ(ReadIniInteger("[s]\nk=" + value + "\n", "s", "k", -9), number) << value;
  EXPECT_EQ(ReadIniInteger("[s]\n", "s", "k", 77), 77);
}

}  // namespace
}  // namespace qn
