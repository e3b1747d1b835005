#include "sexpr/sexp_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "base/error.h"

namespace qn {
namespace {

// The message ParseSExp throws for text ("" when it reads).
std::string ParseError(std::string_view text) {
  try {
    ParseSExp(text);
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

// The whole root printed.
std::string Reread(std::string_view text) {
  PqnStringTree root = ParseSExp(text);
  std::string out = "(";
  for (int i = 0; i < root->Count(); ++i) out += root->AsText(i) + " ";
  if (root->Count() > 0) out.pop_back();
  return out + ")";
}

TEST(SExpReader, ReadsNestedListsWithKeys) {
  PqnStringTree root = ParseSExp("(types (T1 a b) (T2 c))");
  ASSERT_EQ(root->Count(), 3);
  EXPECT_EQ(root->Str(0), "types");
  EXPECT_EQ(root->AsText(1), "(T1 a b)");
  TqnStringTree* t2 = root->ByKey("T2", true);
  ASSERT_NE(t2, nullptr);
  EXPECT_EQ(t2->Count(), 2);
  EXPECT_EQ(t2->Str(1), "c");
}

TEST(SExpReader, AnyControlBytesSeparateTokens) {
  PqnStringTree root = ParseSExp(
      " \t\r\n(\x01"
      "a\tb\x1F(c)\r\nd\x7F"
      "e\xC0)");
  ASSERT_EQ(root->Count(), 4);
  EXPECT_EQ(root->Str(0), "a");
  EXPECT_EQ(root->Str(1), "b");
  EXPECT_EQ(root->AsText(2), "(c)");
  EXPECT_EQ(root->Str(3),
            "d\x7F"
            "e\xC0");                                    // 127 and above belong to atoms
  EXPECT_EQ(ParseSExp("(\"a b\" c\\)")->Str(0), "\"a");  // no quoting
}

TEST(SExpReader, RootParenthesisRules) {
  EXPECT_EQ(ParseSExp("()")->Count(), 0);
  EXPECT_EQ(Reread("(a b"), "(a b)");  // the root's ")" may be missing
  EXPECT_EQ(Reread("(x (a (b c) d))"), "(x (a (b c) d))");
  // A last ")" closes nothing, so it cannot close a nested list either.
  EXPECT_EQ(ParseError("(a (b)"), "invalid brace sequence");
  EXPECT_EQ(ParseError("(a (b"), "invalid brace sequence");
  EXPECT_EQ(ParseError("((a)"), "invalid brace sequence");
}

TEST(SExpReader, NothingMayFollowTheRootsClosingParenthesis) {
  for (const char* text : {"(a)\n", "(a) ", "(a)b", "(a))", "(a)(b)", "())"})
    EXPECT_EQ(ParseError(text), "invalid brace sequence") << text;
}

TEST(SExpReader, ByteZeroEndsTheText) {
  std::string text("(a)\0(", 5);
  EXPECT_EQ(Reread(text), "(a)");
  EXPECT_EQ(Reread(std::string("(a\0b c)", 7)), "(a)");
  EXPECT_EQ(ParseError(std::string("\0(a)", 4)), "token required");
}

TEST(SExpReader, FirstTokenMustOpenTheRoot) {
  EXPECT_EQ(ParseError(""), "token required");
  EXPECT_EQ(ParseError(" \r\n\t "), "token required");
  EXPECT_EQ(ParseError("a (b)"), "Require token \"(\", but found \"a\"");
  EXPECT_EQ(ParseError(")"), "Require token \"(\", but found \")\"");
}

TEST(SExpReader, ParsedTreePrintsAndSearchesLikeABuiltOne) {
  PqnStringTree root = ParseSExp("(x (a (b c) d))");
  EXPECT_EQ(root->AsText(1), "(a (b c) d)");
  EXPECT_EQ(root->AsText(0), "x");
  EXPECT_EQ(root->ValueOf("q", "def"), "def");
  EXPECT_EQ(root->TextOf("a"), "(b c)");
  EXPECT_THROW(root->ValueOf("a", "def"), Exception);  // element 1 of the match is a list
  TqnStringTree* a = root->ByKey("a", true);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->TextOf("b"), "c");
  EXPECT_EQ(ParseSExp("(x\\Sy)")->AsText(0), "x y");
}

TEST(SExpDecode, EscapesInOrder) {
  struct Case {
    const char* atom;
    std::string decoded;
  };
  const Case cases[] = {
      {"x\\Sy", "x y"},     {"\\N", "\r\n"}, {"\\BS", " "},  // \B first: its backslash meets S
      {"\\BB", "\\B"},                                       // but a replacement is not looked at again by its own pass
      {"\\BBS", "\\BS"},    {"\\X", "\\X"},  {"a\\", "a\\"}, {"\\F\\C\\L\\D\\K\\O\\P", "/,:.;()"},
      {"\\s\\n", "\\s\\n"},  // letters are upper case only
      {"\\P\\S", ") "},     {"\\BP", ")"},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeAtom(c.atom), c.decoded) << c.atom;
}

TEST(SExpDecode, AtomsAreDecodedWhenRead) {
  PqnStringTree root = ParseSExp("(x\\Sy \\N \\O\\P \\BS \\X)");
  ASSERT_EQ(root->Count(), 5);
  EXPECT_EQ(root->Str(0), "x y");
  EXPECT_EQ(root->Str(1), "\r\n");
  EXPECT_EQ(root->Str(2), "()");
  EXPECT_EQ(root->Str(3), " ");
  EXPECT_EQ(root->Str(4), "\\X");
  EXPECT_TRUE(root->IsString(2));  // decoded parentheses do not open lists
}

TEST(SExpReader, DeepNestingNeedsNoStack) {
  constexpr size_t kDepth = 300000;
  std::string text = "(" + std::string(kDepth, '(') + "x" + std::string(kDepth + 1, ')');
  PqnStringTree root = ParseSExp(text);
  ASSERT_EQ(root->Count(), 1);
  EXPECT_EQ(root->AsText(0).size(), 2 * kDepth + 1);
  EXPECT_EQ(ParseError(text.substr(0, text.size() - 2)), "invalid brace sequence");  // failure frees it too
}

}  // namespace
}  // namespace qn
