// Typed access to a node's stored text and the escaping behind it.
#include <gtest/gtest.h>

#include "base/error.h"
#include "base/text.h"
#include "xml/xml_dom.h"
#include "xml/xml_text.h"

using namespace qn;

namespace {

TqnNode* WithText(TqnNode& root, const std::string& text) {
  TqnNode* n = root.AddNode("v");
  n->SetText(text);
  return n;
}

}  // namespace

TEST(XmlContent, BooleanIsTrueOnlyForALeadingOne) {
  TqnNode root("r");
  EXPECT_TRUE(WithText(root, "")->Content().AsBoolean(true));
  EXPECT_FALSE(WithText(root, "")->Content().AsBoolean(false));
  EXPECT_FALSE(WithText(root, "true")->Content().AsBoolean(true));
  EXPECT_FALSE(WithText(root, "0")->Content().AsBoolean(true));
  EXPECT_TRUE(WithText(root, "1")->Content().AsBoolean(false));
  EXPECT_TRUE(WithText(root, "1x")->Content().AsBoolean(false));
  TqnNode* n = root.AddNode("b");
  n->Content().SetBoolean(true);
  EXPECT_EQ(n->Text(), "1");
  n->Content().SetBoolean(false);
  EXPECT_EQ(n->Text(), "0");
}

TEST(XmlContent, IntegerNeedsTheWholeTextToConvert) {
  TqnNode root("r");
  auto as = [&](const std::string& text) { return WithText(root, text)->Content().AsInteger(-77); };
  EXPECT_EQ(as("12a"), -77);
  EXPECT_EQ(as(""), -77);
  EXPECT_EQ(as(" 5"), -77);
  EXPECT_EQ(as("5 "), -77);
  EXPECT_EQ(as("-"), -77);
  EXPECT_EQ(as("$"), -77);
  EXPECT_EQ(as("$FG"), -77);
  EXPECT_EQ(as("12"), 12);
  EXPECT_EQ(as("+12"), 12);
  EXPECT_EQ(as("-12"), -12);
  EXPECT_EQ(as("007"), 7);
  EXPECT_EQ(as("$FF"), 255);
  EXPECT_EQ(as("$ff"), 255);
  EXPECT_EQ(as("2147483647"), 2147483647);
  EXPECT_EQ(as("-2147483648"), INT32_MIN);
  // Out of the 32-bit range: the default, not a wrapped value.
  EXPECT_EQ(as("2147483648"), -77);
  EXPECT_EQ(as("-2147483649"), -77);
  EXPECT_EQ(as("99999999999999999999"), -77);
  EXPECT_EQ(as("$FFFFFFFF"), -1);
  EXPECT_EQ(as("$100000000"), -77);

  TqnNode* n = root.AddNode("i");
  for (int32_t v : {0, 1, -1, 2147483647, INT32_MIN, 1234567}) {
    n->Content().SetInteger(v);
    EXPECT_EQ(n->Content().AsInteger(0), v);
  }
  n->Content().SetInteger(-42);
  EXPECT_EQ(n->Text(), "-42");
}

TEST(XmlContent, StringOfAnExistingEmptyNodeIsEmptyNotTheDefault) {
  TqnNode root("r");
  EXPECT_EQ(WithText(root, "")->Content().AsString("def"), "");
  EXPECT_EQ(root.FindNode("none")->Content().AsString("def"), "def");
}

TEST(XmlContent, SetStringEscapesControlsAndMarkupOnly) {
  TqnNode root("r");
  TqnNode* n = root.AddNode("s");
  n->Content().SetString("a<b&c>d\n\t\"'" + Win1251("Ж") + "\x7F\xFF");
  EXPECT_EQ(n->Text(), "a&#x3C;b&#x26;c&#x3E;d&#x0A;&#x09;\"'" + Win1251("Ж") + "\x7F\xFF");
  n->Content().SetString(std::string(1, '\0') + "\x1F");
  EXPECT_EQ(n->Text(), "&#x00;&#x1F;");
}

TEST(XmlContent, EveryByteSurvivesSetStringAndAsString) {
  TqnNode root("r");
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  TqnNode* n = root.AddNode("s");
  n->Content().SetString(all);
  EXPECT_EQ(n->Content().AsString(""), all);
}

// Hand-edited files may hold any "&"; only the writer's own escape form is
// decoded and everything else stays as it stands.
TEST(XmlContent, MalformedEscapesAreCopiedUnchanged) {
  TqnNode root("r");
  auto as = [&](const std::string& text) { return WithText(root, text)->Content().AsString("def"); };
  EXPECT_EQ(as("&#x41;"), "A");
  EXPECT_EQ(as("&#x141;"), "A");  // low eight bits
  EXPECT_EQ(as("x&#x41;&#x42;y"), "xABy");
  for (const char* kept : {"&", "a&", "&#", "&#x", "&#x4", "&#x41", "&#x;", "&#xg;", "&#x0a;", "&amp;", "&lt;", "&#65;",
                           "&x41;", "& #x41;", "&&#x"})
    EXPECT_EQ(as(kept), kept);
  EXPECT_EQ(as("&&#x41;"), "&A");
  EXPECT_EQ(as("&#x4&#x41;"), "&#x4A");
}

TEST(XmlNames, EncodingKeepsNameBytesAndHexesTheRest) {
  EXPECT_EQ(XmlEncodeName("a.b"), "a:2Eb");
  EXPECT_EQ(XmlEncodeName("db0001"), "db0001");
  EXPECT_EQ(XmlEncodeName("-_{}Az9"), "-_{}Az9");
  EXPECT_EQ(XmlEncodeName(Win1251("имя")), Win1251("имя"));
  EXPECT_EQ(XmlEncodeName("a:b c"), "a:3Ab:20c");
  EXPECT_EQ(XmlEncodeName("\xA8\x7F"), ":A8:7F");  // Ё lies below the letters 192..255
  EXPECT_EQ(XmlDecodeName("a:2eb:2E"), "a.b.");
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(XmlDecodeName(XmlEncodeName(all)), all);
}

TEST(XmlNames, DecodingNeedsTwoHexDigitsAfterAColon) {
  for (const char* bad : {":", "a:", "a:2", "a:2G", ":G0", "x::41"}) {
    try {
      XmlDecodeName(bad);
      ADD_FAILURE() << bad << " decoded";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "hex digit expected") << bad;
    }
  }
}
