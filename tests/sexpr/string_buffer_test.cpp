#include "sexpr/string_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace qn {
namespace {

TEST(StringBufferGrowth, EmptyBufferGrowsToSixteenFirst) {
  PqnStringBuffer b = NewStringBuffer(0);
  EXPECT_EQ(b->Capacity(), 0);
  b->AppendChar('x');
  EXPECT_EQ(b->Capacity(), 16);
  b->Append(std::string(15, 'y'));  // exactly full: no growth
  EXPECT_EQ(b->Capacity(), 16);
  b->AppendChar('z');  // needs 17
  EXPECT_EQ(b->Capacity(), 17 * 3 / 2);
  EXPECT_EQ(b->Length(), 17);
}

TEST(StringBufferGrowth, LargeAppendGrowsToHalfAgainTheNeededLength) {
  PqnStringBuffer b = NewStringBuffer(10);
  b->Append(std::string(40, 'a'));
  EXPECT_EQ(b->Capacity(), 60);
  PqnStringBuffer small = NewStringBuffer(4);
  small->Append("abcde");  // needed 5 < 16
  EXPECT_EQ(small->Capacity(), 16);
}

TEST(StringBufferGrowth, NoGrowthWhileTheTextFits) {
  PqnStringBuffer b = NewStringBuffer(48);
  b->Append(std::string(48, 'a'));
  EXPECT_EQ(b->Capacity(), 48);
}

TEST(StringBufferGrowth, CharByCharBuildingReallocatesLogarithmically) {
  PqnStringBuffer b = NewStringBuffer(0);
  int changes = 0;
  int last = b->Capacity();
  std::string expected;
  for (int i = 0; i < 200000; ++i) {
    char c = static_cast<char>('a' + i % 26);
    b->AppendChar(c);
    expected += c;
    if (b->Capacity() != last) {
      ++changes;
      last = b->Capacity();
    }
  }
  EXPECT_LE(changes, 32);
  EXPECT_EQ(b->GetText(), expected);
}

TEST(StringBufferAppend, AppendPartTakesWhatTheSourceHas) {
  struct Case {
    const char* source;
    int start, count;
    const char* appended;
  };
  const Case cases[] = {
      {"abcdef", 5, 10, "ef"}, {"abcdef", 1, 2, "ab"}, {"abcdef", 6, 1, "f"}, {"abc", 4, 1, ""},
      {"abc", 2, 0, ""},       {"abc", 2, -3, ""},     {"abc", 0, 2, "ab"},   {"", 1, 5, ""},
  };
  for (const Case& c : cases) {
    PqnStringBuffer b = NewStringBuffer(2);
    b->Append("<");
    b->AppendPart(c.source, c.start, c.count);
    EXPECT_EQ(b->GetText(), std::string("<") + c.appended) << c.source << " " << c.start << " " << c.count;
  }
}

TEST(StringBufferAppend, LinesEndWithCrLfAndBytesPassUnchanged) {
  PqnStringBuffer b = NewStringBuffer(1);
  b->AppendLine("a");
  b->AppendLine("");
  std::string binary("\xC0\x00\xFF", 3);
  b->Append(binary);
  EXPECT_EQ(b->GetText(), std::string("a\r\n\r\n") + binary);
  EXPECT_EQ(b->Length(), 8);
  EXPECT_EQ(std::string(b->Data(), static_cast<size_t>(b->Length())), b->GetText());
}

TEST(StringBufferReset, NegativeCapacityKeepsStorageOtherwiseResizes) {
  PqnStringBuffer b = NewStringBuffer(0);
  b->Append(std::string(40, 'a'));
  int grown = b->Capacity();
  b->Reset(-1);
  EXPECT_EQ(b->Length(), 0);
  EXPECT_EQ(b->Capacity(), grown);
  EXPECT_EQ(b->GetText(), "");
  b->Append("xyz");
  EXPECT_EQ(b->GetText(), "xyz");
  b->Reset(5);
  EXPECT_EQ(b->Capacity(), 5);
  EXPECT_EQ(b->Length(), 0);
  b->Reset(0);
  EXPECT_EQ(b->Capacity(), 0);
  b->AppendChar('q');
  EXPECT_EQ(b->GetText(), "q");
  EXPECT_EQ(b->Capacity(), 16);
}

}  // namespace
}  // namespace qn
