#include <iconv.h>

#include <gtest/gtest.h>

#include "base/clock.h"
#include "base/text.h"

using namespace qn;

namespace {

std::string IconvToUtf8(const std::string& in) {
  iconv_t cd = iconv_open("UTF-8", "WINDOWS-1251");
  std::string out(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return "<error>";
  out.resize(out.size() - dstLeft);
  return out;
}

}  // namespace

TEST(Win1251, EveryByteAgreesWithTheSystemConverter) {
  for (int b = 1; b < 256; ++b) {
    if (b == 0x98) continue;  // no character there; the system converter refuses it
    std::string one(1, static_cast<char>(b));
    std::string utf8 = Win1251ToUtf8(one);
    EXPECT_EQ(utf8, IconvToUtf8(one)) << "byte " << b;
    std::string back;
    EXPECT_TRUE(Utf8ToWin1251(utf8, back)) << "byte " << b;
    EXPECT_EQ(back, one) << "byte " << b;
  }
}

TEST(Win1251, RussianLiteralsBecomeSingleBytes) {
  EXPECT_EQ(Win1251("Ошибка"), "\xCE\xF8\xE8\xE1\xEA\xE0");
  EXPECT_EQ(Win1251("Ёё №"), "\xA8\xB8\x20\xB9");
}

TEST(Win1251, UnmappableAndMalformedInputIsReported) {
  std::string out;
  EXPECT_FALSE(
      Utf8ToWin1251("a\xE4\xB8\xAD"
                    "b",
                    out));  // a CJK character
  EXPECT_EQ(out, "a?b");
  EXPECT_FALSE(Utf8ToWin1251("x\xC3", out));  // truncated sequence
  EXPECT_EQ(out, "x?");
  EXPECT_FALSE(Utf8ToWin1251("\x80z", out));  // stray continuation byte
  EXPECT_EQ(out, "?z");
}

TEST(TextHelpers, CaseFoldingCoversCyrillic) {
  EXPECT_EQ(LowerCase(Win1251("ПрИвЕт ЁЖ Abc")), Win1251("привет ёж abc"));
  EXPECT_EQ(UpperCase(Win1251("привет ёж abc")), Win1251("ПРИВЕТ ЁЖ ABC"));
  EXPECT_EQ(CompareTextNoCase(Win1251("Дата"), Win1251("дАТА")), 0);
  EXPECT_LT(CompareTextNoCase("abc", "ABD"), 0);
  EXPECT_GT(CompareTextNoCase("abcd", "ABC"), 0);
}

TEST(TextHelpers, TrimAndFormat) {
  EXPECT_EQ(TrimControl("\t\r\n a b \x01"), "a b");
  EXPECT_EQ(TrimBlanks("  a\tb  "), "a\tb");
  EXPECT_EQ(Format("%s-%d", "x", 42), "x-42");
  EXPECT_EQ(HexUpper(42, 8), "0000002A");
  EXPECT_EQ(HexUpper(0xFFFFFFFFu, 8), "FFFFFFFF");
}

TEST(Clock, FormatsWithTheProgramsDateCodes) {
  DateTime t;
  t.year = 2026;
  t.month = 12;
  t.day = 6;
  t.hour = 7;
  t.minute = 5;
  t.second = 9;
  t.msec = 42;
  EXPECT_EQ(FormatDateTime("yyyy.mm.dd-hh.nn.ss-zzz", t), "2026.12.06-07.05.09-042");
  EXPECT_EQ(FormatDateTime("yyyy.dd.mm hh.nn.ss: ", t), "2026.06.12 07.05.09: ");
}

#include "base/sha1.h"

TEST(Sha1, KnownDigests) {
  EXPECT_EQ(Sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
}
