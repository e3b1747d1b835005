// The packet codec: framing, check sum, escaping, the hex reader and the
// word splitter, each against the protocol's own rules.
#include <gtest/gtest.h>

#include "base/sha1.h"
#include "infoserver/info_packet.h"

namespace {

using qn::DecodePacket;
using qn::EncodePacket;

TEST(InfoPacket, FrameIsCheckSumBlankNumberBlankPayload) {
  const std::string packet = EncodePacket("get-active-servers", "JD_LW4", 0x2A);
  const std::string body = "0000002A get-active-servers";
  EXPECT_EQ(packet, qn::Sha1Hex(body + "JD_LW4") + " " + body);
}

TEST(InfoPacket, NegativeNumberIsWrittenAsItsBitPattern) {
  const std::string packet = EncodePacket("x", "k", -2);
  EXPECT_EQ(packet.substr(41, 9), "FFFFFFFE ");
  EXPECT_EQ(DecodePacket(packet, "k").number, -2);
}

TEST(InfoPacket, DecodeGivesNumberAndPayload) {
  const auto decoded = DecodePacket(EncodePacket("get-database-info-by-num 0 V3", "key", 0x2A), "key");
  EXPECT_EQ(decoded.number, 0x2A);
  EXPECT_EQ(decoded.payload, "get-database-info-by-num 0 V3");
}

TEST(InfoPacket, SeparatorsAreNotLookedAt) {
  std::string packet = EncodePacket("cmd", "key", 7);
  packet[40] = 'x';      // the blank after the check sum
  packet[41 + 8] = 'y';  // the blank after the number (part of the summed body)
  const std::string body = packet.substr(41);
  packet.replace(0, 40, qn::Sha1Hex(body + "key"));
  const auto decoded = DecodePacket(packet, "key");
  EXPECT_EQ(decoded.number, 7);
  EXPECT_EQ(decoded.payload, "cmd");
}

TEST(InfoPacket, AnyChangedByteFailsTheCheckSum) {
  const std::string good = EncodePacket("get-active-servers", "key", 0x2A);
  for (size_t i = 0; i < good.size(); ++i) {
    if (i == 40) continue;  // not covered
    std::string bad = good;
    bad[i] = static_cast<char>(bad[i] ^ 0x01);
    const auto decoded = DecodePacket(bad, "key");
    EXPECT_EQ(decoded.number, 0) << "byte " << i;
    EXPECT_EQ(decoded.payload, qn::kCheckSumFail) << "byte " << i;
  }
}

TEST(InfoPacket, WrongKeyFails) {
  EXPECT_EQ(DecodePacket(EncodePacket("x", "key1", 1), "key2").payload, qn::kCheckSumFail);
}

TEST(InfoPacket, UpperCaseCheckSumDigitsFail) {
  std::string packet = EncodePacket("get-active-servers", "key", 1);
  for (size_t i = 0; i < 40; ++i) packet[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(packet[i])));
  ASSERT_NE(packet.substr(0, 40), qn::Sha1Hex(packet.substr(41) + "key"));
  EXPECT_EQ(DecodePacket(packet, "key").payload, qn::kCheckSumFail);
}

TEST(InfoPacket, ShortAndEmptyPacketsFailWithoutTrouble) {
  for (const std::string& p : {std::string(), std::string(40, 'a'), std::string(41, ' '), std::string("x")})
    EXPECT_EQ(DecodePacket(p, "key").payload, qn::kCheckSumFail);
}

TEST(InfoPacket, BodyWithoutPayloadDecodesToEmptyPayload) {
  // Only the number: the check sum covers "0000000A".
  const std::string body = "0000000A";
  const auto decoded = DecodePacket(qn::Sha1Hex(body + "k") + " " + body, "k");
  EXPECT_EQ(decoded.number, 10);
  EXPECT_EQ(decoded.payload, "");
}

TEST(InfoPacket, LowerCaseRequestNumberIsReadWrongly) {
  std::string body = "0000002a get-active-servers";
  const auto decoded = DecodePacket(qn::Sha1Hex(body + "k") + " " + body, "k");
  EXPECT_EQ(decoded.payload, "get-active-servers");
  // 'a' counts 97 - 55 = 42 (0x2A), which overlaps the '2' before it.
  EXPECT_EQ(decoded.number, (2 << 4) | 42);
}

TEST(HexToInt, UpperCaseDigitsGiveTheirValue) {
  EXPECT_EQ(qn::HexToInt("0000002A"), 42);
  EXPECT_EQ(qn::HexToInt("7FFFFFFF"), 2147483647);
  EXPECT_EQ(qn::HexToInt("FFFFFFFF"), -1);
  EXPECT_EQ(qn::HexToInt(""), 0);
}

TEST(HexToInt, LowerCaseLettersSpillIntoTheNextDigit) {
  EXPECT_EQ(qn::HexToInt("a"), 42);
  EXPECT_EQ(qn::HexToInt("1a"), (1 << 4) | 42);
  EXPECT_EQ(qn::HexToInt("f0"), ((102 - 55) << 4) | 0);
}

TEST(HexToInt, CharactersBelowZeroSetTheHighBits) {
  // '!' is 33: 33 - 48 = -15, whose 32-bit pattern is ORed in.
  EXPECT_EQ(qn::HexToInt("!"), -15);
  EXPECT_EQ(qn::HexToInt("1!"), static_cast<int32_t>(0x10u | static_cast<uint32_t>(-15)));
}

TEST(HexToInt, LongAndBinaryTextsKeepTheLastEightDigits) {
  EXPECT_EQ(qn::HexToInt("123456789ABCDEF0"), static_cast<int32_t>(0x9ABCDEF0u));
  std::string binary;
  for (int c = 0; c < 256; ++c) binary += static_cast<char>(c);
  (void)qn::HexToInt(binary);  // only defined behaviour: the fuzz target runs this under UBSan
  EXPECT_EQ(qn::HexToInt(std::string(1, '\xFF') + "00000001"), 1);
}

TEST(EscapeField, BlanksHashesAndControlCodes) {
  EXPECT_EQ(qn::EscapeField("a b#c"), "a#20b#23c");
  EXPECT_EQ(qn::EscapeField("line one\r\nline two"), "line#20one#0D#0Aline#20two");
  EXPECT_EQ(qn::EscapeField(std::string("\0\x1F", 2)), "#00#1F");
  EXPECT_EQ(qn::EscapeField(""), "");
}

TEST(EscapeField, HighBytesAndPrintablesStay) {
  std::string text;
  for (int c = 33; c < 256; ++c)
    if (c != '#') text += static_cast<char>(c);
  EXPECT_EQ(qn::EscapeField(text), text);
}

TEST(SplitWords, BlankSeparatedWords) {
  using V = std::vector<std::string>;
  EXPECT_EQ(qn::SplitWords("get-database-info-by-num 0 V3", " "), (V{"get-database-info-by-num", "0", "V3"}));
  EXPECT_EQ(qn::SplitWords("a  b", " "), (V{"a", "", "b"}));
  EXPECT_EQ(qn::SplitWords(" a", " "), (V{"", "a"}));
  EXPECT_EQ(qn::SplitWords("a ", " "), (V{"a"}));
  EXPECT_EQ(qn::SplitWords(" ", " "), (V{""}));
  EXPECT_EQ(qn::SplitWords("", " "), V{});
  EXPECT_EQ(qn::SplitWords("a\nb", " "), (V{"a\nb"}));
}

TEST(SplitWords, AnyOfSeveralDelimiters) {
  using V = std::vector<std::string>;
  EXPECT_EQ(qn::SplitWords("a,b;c", ",;"), (V{"a", "b", "c"}));
  EXPECT_EQ(qn::SplitWords("abc", ""), (V{"abc"}));
}

}  // namespace
