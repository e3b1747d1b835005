// The data member's text apart from the database: lines, directives,
// value decoding and clean-up, object identifiers, numbers and dates.
#include "dump/dump_text.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/error.h"

namespace qn {
namespace {

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no failure)";
}

std::vector<std::string> Lines(const std::string& text) {
  std::istringstream stream(text);
  TqnDumpLineReader reader(stream);
  std::vector<std::string> lines;
  std::string line;
  while (reader.ReadLine(line)) lines.push_back(line);
  return lines;
}

// A stream that counts how often it is asked for bytes.
class CountingBuf : public std::stringbuf {
 public:
  using std::stringbuf::stringbuf;
  int reads = 0;

 protected:
  std::streamsize xsgetn(char* s, std::streamsize n) override {
    ++reads;
    return std::stringbuf::xsgetn(s, n);
  }
};

TEST(DumpTextTest, ObjectIdentifiersDecodeInBase64) {
  EXPECT_EQ(DecodeObjectId("00000000000A"), 10);
  EXPECT_EQ(DecodeObjectId("000000000010"), 64);
  EXPECT_EQ(DecodeObjectId("00000000000~"), 63);
  EXPECT_EQ(DecodeObjectId("0000000000_z"), 36 * 64 + 62);
  EXPECT_EQ(DecodeObjectId(kNullObject), 0);
  // Characters outside the alphabet count as 0.
  EXPECT_EQ(DecodeObjectId("00000000001!"), 64);
  // The arithmetic wraps: twelve digits are 72 bits.
  EXPECT_EQ(DecodeObjectId("100000000000"), 0);
  EXPECT_EQ(static_cast<uint64_t>(DecodeObjectId("0~~~~~~~~~~~")), ~uint64_t(0));
  for (uint64_t v : {uint64_t(0), uint64_t(1), uint64_t(4096), uint64_t(1) << 63, ~uint64_t(0) / 3}) {
    EXPECT_EQ(EncodeObjectId(v).size(), 12u);
    EXPECT_EQ(static_cast<uint64_t>(DecodeObjectId(EncodeObjectId(v))), v);
  }
  EXPECT_EQ(ObjectValue("000000000010"), 64);
  EXPECT_EQ(ErrorOf([] { ObjectValue("00000000010"); }), "invalid object value");
  EXPECT_EQ(ErrorOf([] { ObjectValue(""); }), "invalid object value");
  EXPECT_TRUE(IsNullObject("000000000000"));
  EXPECT_FALSE(IsNullObject("00000000000"));
}

TEST(DumpTextTest, LinesEndWithCrLfOrBothAndEmptyOnesAreSkipped) {
  EXPECT_EQ(Lines("a\r\nb\nc\rd\r\n\r\n\ne\n"), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  // Text after the last line end is not handed out.
  EXPECT_EQ(Lines("a\nunended"), std::vector<std::string>{"a"});
  EXPECT_TRUE(Lines("").empty());
  EXPECT_EQ(Lines("\t\n"), std::vector<std::string>{"\t"});
}

TEST(DumpTextTest, LinesAcrossBlockBoundaries) {
  std::string longLine(TqnReadBuffer::kBlockSize + 100, 'x');
  std::string text = "first\n" + longLine + "\r\nlast\n";
  EXPECT_EQ(Lines(text), (std::vector<std::string>{"first", longLine, "last"}));
  // A line end exactly at the end of a full block.
  std::string exact(TqnReadBuffer::kBlockSize - 1, 'y');
  EXPECT_EQ(Lines(exact + "\n"), std::vector<std::string>{exact});
}

TEST(DumpTextTest, ReadBufferStopsAfterAShortBlock) {
  CountingBuf buf(std::string(TqnReadBuffer::kBlockSize + 5, 'z'));
  std::istream stream(&buf);
  TqnReadBuffer reader(stream);
  size_t count = 0;
  char c;
  while (reader.Next(c)) ++count;
  EXPECT_EQ(count, TqnReadBuffer::kBlockSize + 5);
  EXPECT_FALSE(reader.Next(c));
  EXPECT_EQ(buf.reads, 2);  // a full block, a short one, and no further ask
}

TEST(DumpTextTest, LineKindsAndVersionDirectives) {
  EXPECT_EQ(DumpLineKind("#x"), TqnDumpLineKind::Directive);
  EXPECT_EQ(DumpLineKind("&T\tA"), TqnDumpLineKind::Header);
  EXPECT_EQ(DumpLineKind("a&b"), TqnDumpLineKind::Row);
  struct Case {
    const char* text;
    bool isVersion;
    const char* version;
  } cases[] = {
      {"VERSION 0.1.0.0", true, "0.1.0.0"},
      {"  version   0.1.0.0  ", true, "0.1.0.0"},
      {"Version", true, ""},
      {"VERSION:2", true, ":2"},
      {"comment VERSION 1", false, ""},
  };
  for (const Case& c : cases) {
    std::string version;
    EXPECT_EQ(ParseVersionDirective(c.text, version), c.isVersion) << c.text;
    if (c.isVersion) {
      EXPECT_EQ(version, c.version) << c.text;
    }
  }
  std::string version;
  // At most 50 characters from the 8th on, the blank after the word included.
  ASSERT_TRUE(ParseVersionDirective("VERSION" + std::string(60, '9'), version));
  EXPECT_EQ(version.size(), 50u);
  ASSERT_TRUE(ParseVersionDirective("VERSION " + std::string(60, '9'), version));
  EXPECT_EQ(version.size(), 49u);
  EXPECT_EQ(EscapeForVersion("0.1.0.0"), '~');
  EXPECT_EQ(EscapeForVersion("0.2"), kDefaultEscape);
  EXPECT_EQ(static_cast<unsigned char>(kDefaultEscape), 0xA4);
}

TEST(DumpTextTest, TabsSplitValues) {
  EXPECT_EQ(SplitTabs("a\tb\t\tc"), (std::vector<std::string>{"a", "b", "", "c"}));
  EXPECT_EQ(SplitTabs("a\t"), (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(SplitTabs(""), std::vector<std::string>{""});
}

TEST(DumpTextTest, ValuesDecodeTheirEscapes) {
  // Under the tilde escape, a tilde and 09 is a TAB; the default escape is then ordinary.
  EXPECT_EQ(DecodeDumpValue("a~09b", '~'), "a\tb");
  EXPECT_EQ(DecodeDumpValue("~7e~7E~41", '~'), "~~A");
  EXPECT_EQ(DecodeDumpValue("x\xA4"
                            "09",
                            '~'),
            "x\xA4"
            "09");
  // Under the default escape, the byte 0xA4 and 09 is a TAB and a tilde is ordinary.
  EXPECT_EQ(DecodeDumpValue("a\xA4"
                            "09b~09",
                            kDefaultEscape),
            "a\tb~09");
  EXPECT_EQ(DecodeDumpValue("\xA4"
                            "A4\xA4"
                            "c8",
                            kDefaultEscape),
            "\xA4\xC8");
  EXPECT_EQ(ErrorOf([] { DecodeDumpValue("a~Ag", '~'); }), "invalid hexadecimal digit \"g\"");
  EXPECT_EQ(ErrorOf([] { DecodeDumpValue("~x1", '~'); }), "invalid hexadecimal digit \"x\"");
  EXPECT_EQ(ErrorOf([] { DecodeDumpValue("ab~1", '~'); }), "invalid hexadecimal number \"1\"");
  EXPECT_EQ(ErrorOf([] { DecodeDumpValue("ab~", '~'); }), "invalid hexadecimal number \"\"");
}

TEST(DumpTextTest, ValuesAreCutAndCleanedForTheirParameters) {
  // A reference field takes at most 12 characters.
  EXPECT_EQ(PrepareDumpValue("0123456789ABCDEF", 12, false), "0123456789AB");
  EXPECT_EQ(PrepareDumpValue("short", 12, false), "short");
  EXPECT_EQ(PrepareDumpValue("no limit", 0, false), "no limit");
  // Trailing blanks and control bytes go; some control bytes become blanks.
  EXPECT_EQ(PrepareDumpValue("a\tb\x0b\x0c\x0e\x1f"
                             "c \r\n\t ",
                             0, false),
            "a b    c");
  EXPECT_EQ(PrepareDumpValue("a\rb\nc\x0f", 0, false), "a\rb\nc");
  // Cut first, then trimmed.
  EXPECT_EQ(PrepareDumpValue("ab   cd", 4, false), "ab");
  // Blobs keep their bytes.
  EXPECT_EQ(PrepareDumpValue("a\tb \r\n", 0, true), "a\tb \r\n");
  EXPECT_EQ(PrepareDumpValue("a\tb \r\n", 3, true), "a\tb");
}

TEST(DumpTextTest, NumbersAreZeroWhenNotNumbers) {
  EXPECT_EQ(DumpInt32("42"), 42);
  EXPECT_EQ(DumpInt32("-7"), -7);
  EXPECT_EQ(DumpInt32(" 5 "), 5);
  EXPECT_EQ(DumpInt32(""), 0);
  EXPECT_EQ(DumpInt32("12x"), 0);
  EXPECT_EQ(DumpInt32("3000000000"), 0);
  EXPECT_EQ(DumpInt64("3000000000"), 3000000000LL);
  EXPECT_EQ(DumpInt64("abc"), 0);
  EXPECT_DOUBLE_EQ(DumpDouble("12.25"), 12.25);
  EXPECT_DOUBLE_EQ(DumpDouble("-0.5"), -0.5);
  EXPECT_DOUBLE_EQ(DumpDouble("12,25"), 0);
  EXPECT_DOUBLE_EQ(DumpDouble(""), 0);
}

TEST(DumpTextTest, DecimalsAreExactScaledIntegers) {
  // 18 digits survive to the last one (a double keeps about 16).
  EXPECT_EQ(DumpScaled("1234567890123456.78", -2), 123456789012345678LL);
  EXPECT_EQ(DumpScaled(" -12.5 ", -2), -1250);
  EXPECT_EQ(DumpScaled("+.5", -1), 5);
  EXPECT_EQ(DumpScaled("7", -3), 7000);
  EXPECT_EQ(DumpScaled("1.5e2", -2), 15000);
  // More fraction digits than the scale: half away from zero.
  EXPECT_EQ(DumpScaled("0.125", -2), 13);
  EXPECT_EQ(DumpScaled("-0.125", -2), -13);
  EXPECT_EQ(DumpScaled("0.1249999", -2), 12);
  EXPECT_EQ(DumpScaled("0.004", -2), 0);
  EXPECT_EQ(DumpScaled("5e-3", -2), 1);
  EXPECT_EQ(DumpScaled("4e-9", -2), 0);
  // The 64-bit range, and texts that are no numbers.
  EXPECT_EQ(DumpScaled("-92233720368547758.08", -2), INT64_MIN);
  EXPECT_EQ(DumpScaled("92233720368547758.08", -2), 0);
  EXPECT_EQ(DumpScaled("92233720368547758.075", -2), 0);
  for (const char* text : {"", "12,50", "1.2.3", ".", "-", "1e", "0x10", "nan", "1 2"})
    EXPECT_EQ(DumpScaled(text, -2), 0) << text;
}

TEST(DumpTextTest, DatesAreClassifiedByLength) {
  using K = TqnDumpDateTime::Kind;
  struct Case {
    const char* text;
    K kind;
    int y, mo, d, h, mi, s, ms;
  } cases[] = {
      {"2024-02-29", K::Date, 2024, 2, 29, 0, 0, 0, 0},
      {"2023-02-29", K::Date, 1899, 12, 30, 0, 0, 0, 0},  // no such day
      {"20x4-01-01", K::Date, 1899, 12, 30, 0, 0, 0, 0},
      {"2021-07-15 13:45:30.1239", K::Timestamp, 2021, 7, 15, 13, 45, 30, 123},
      {"2021-07-15 24:00:00.0000", K::Timestamp, 1899, 12, 30, 0, 0, 0, 0},
      {"2021-13-15 10:00:00.0000", K::Timestamp, 1899, 12, 30, 0, 0, 0, 0},
      {"08:30:15.5000", K::Time, 1899, 12, 30, 8, 30, 15, 500},
      {"08:61:15.5000", K::Time, 1899, 12, 30, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    TqnDumpDateTime t = ClassifyDumpDate(c.text);
    EXPECT_EQ(t.kind, c.kind) << c.text;
    EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second, t.msec}),
              std::vector<int>({c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms}))
        << c.text;
  }
  EXPECT_EQ(ClassifyDumpDate("08:30:15.5000").MsecOfDay(), (8 * 3600 + 30 * 60 + 15) * 1000 + 500);
  EXPECT_EQ(ErrorOf([] { ClassifyDumpDate(""); }), "can not classify date str \"\"");
  EXPECT_EQ(ErrorOf([] { ClassifyDumpDate("2021-07-15 13:45"); }), "can not classify date str \"2021-07-15 13:45\"");
}

TEST(DumpTextTest, RowContextIsLimitedTo1000Characters) {
  EXPECT_EQ(DumpRowContext("Doc", {"a", "", "b"}), "Doc: a; ; b;");
  EXPECT_EQ(DumpRowContext("Doc", {}), "Doc:");
  std::vector<std::string> many(400, "abcdef");
  std::string context = DumpRowContext("T", many);
  EXPECT_EQ(context.size(), 1000u);
  EXPECT_EQ(context.substr(0, 12), "T: abcdef; a");
}

}  // namespace
}  // namespace qn
