// The strict reader: what it accepts, and each of its messages.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "base/error.h"
#include "base/text.h"
#include "xml/xml_parser.h"

using namespace qn;

namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n";

std::string ReadError(const std::string& bytes, const std::string& root = "") {
  try {
    XmlLoadStream(bytes, root);
  } catch (const Exception& e) {
    return e.what();
  }
  return "<loaded>";
}

}  // namespace

TEST(XmlReader, ReadsNamesTextsAttributesAndNesting) {
  auto root = XmlLoadStream(kDecl +
                                "<settings>\r\n  top text \r\n"
                                "  <a:2Eb x=\"1\" y = \"say \"\"hi\"\"\" >\t v&amp;&#x3C; </a:2Eb>\r\n"
                                "  <empty  />\r\n"
                                "  < data ><db0001><path>c:\\x.fdb</path></db0001></ data >\r\n"
                                "</settings>\r\n",
                            "settings");
  EXPECT_EQ(root->Name(), "settings");
  EXPECT_EQ(root->Text(), "top text");
  ASSERT_EQ(root->NodeCount(), 3);
  TqnNode* ab = root->Nodes(0);
  EXPECT_EQ(ab->Name(), "a.b");
  EXPECT_EQ(ab->Text(), "v&amp;&#x3C;");  // stored form, as it stands
  EXPECT_EQ(ab->Content().AsString(""), "v&amp;<");
  EXPECT_EQ(ab->Attrs().Attr("x"), "1");
  EXPECT_EQ(ab->Attrs().Attr("y"), "say \"hi\"");
  EXPECT_EQ(root->Nodes(1)->Name(), "empty");
  EXPECT_EQ(root->Nodes(1)->Text(), "");
  EXPECT_EQ(root->FindNode("data")->FindNode("db0001")->FindNode("path")->Text(), "c:\\x.fdb");
}

TEST(XmlReader, DeclarationIsSkippedUnreadAndNulEndsTheText) {
  auto root = XmlLoadStream(std::string("junk <?anything at all?><r>v</r>\r\n") + '\0' + "<<garbage", "r");
  EXPECT_EQ(root->Text(), "v");
  EXPECT_EQ(ReadError(std::string("<?xml?><r>v") + '\0' + "</r>"), "Unexpected end of file");
}

TEST(XmlReader, StreamIsReadFromItsCurrentPosition) {
  // Read from the start, the leading closing tag would fail the root check.
  std::istringstream in("</r>xx" + kDecl + "<r><c/></r>");
  in.seekg(6);
  auto root = XmlLoadStream(in, "r");
  EXPECT_EQ(root->NodeCount(), 1);
}

TEST(XmlReader, RootTagChecksArePlainSubstringSearches) {
  const std::string body = "<settings>v</settings>";
  EXPECT_EQ(ReadError(kDecl + body, "settings"), "<loaded>");
  EXPECT_EQ(ReadError(kDecl + "<settings a=\"1\">v</settings>", "settings"), "Wrong XML file (no opening root tag)");
  EXPECT_EQ(ReadError(kDecl + "<Settings>v</Settings>", "settings"), "Wrong XML file (no opening root tag)");
  EXPECT_EQ(ReadError(kDecl + "<settings>v</settings >", "settings"), "Wrong XML file (no closing root tag)");
  EXPECT_EQ(ReadError(kDecl + "<x></settings><settings></x>", "settings"),
            "Wrong XML file (closing root tag before opening root tag)");
  // Without a root name any root is taken; with one, the root checks come
  // before the declaration check.
  EXPECT_EQ(ReadError(kDecl + "<other>v</other>"), "<loaded>");
  EXPECT_EQ(ReadError(body, "settings"), "Wrong XML file");
  EXPECT_EQ(ReadError("<r>v</r>"), "Wrong XML file");
}

TEST(XmlReader, EmptyFormRootIsRejected) {
  EXPECT_EQ(ReadError(kDecl + "<settings/>\r\n", "settings"), "Wrong XML file (no opening root tag)");
  EXPECT_EQ(ReadError(kDecl + "<settings/>\r\n"), "Unexpected end of file");
}

TEST(XmlReader, ClosingNameIsComparedCaseSensitively) {
  EXPECT_EQ(ReadError(kDecl + "<r><a></A></r>"), "Tag name mismatch");
  EXPECT_EQ(ReadError(kDecl + "<r><a></b></r>"), "Tag name mismatch");
  auto root = XmlLoadStream(kDecl + "<r><a>1</a></r>", "");
  EXPECT_EQ(root->FindNode("A")->Text(), "1");
  // Names are compared after decoding.
  EXPECT_EQ(ReadError(kDecl + "<r><a:2e></a:2E></r>"), "<loaded>");
}

TEST(XmlReader, OnlyBlanksMayFollowTheRoot) {
  EXPECT_EQ(ReadError(kDecl + "<r>v</r> \r\n\t \r\n"), "<loaded>");
  EXPECT_EQ(ReadError(kDecl + "<r>v</r>x"), "Unexpected data at end of file");
  EXPECT_EQ(ReadError(kDecl + "<r>v</r>\r\n<r>v</r>"), "Unexpected data at end of file");
  EXPECT_EQ(ReadError(kDecl + "<r>v</r><!-- c -->"), "Unexpected data at end of file");
}

TEST(XmlReader, ConstructsOutsideTheSubsetAreInvalidSymbols) {
  const char* cases[] = {
      "<!-- c --><r/>",        // comment before the root
      "<r><!-- c --></r>",     // comment inside
      "<r><?pi x?></r>",       // processing instruction
      "<r><![CDATA[x]]></r>",  // CDATA
      "<!DOCTYPE r><r></r>",   // DOCTYPE
      "<r a='1'></r>",         // single quotes
      "<r a=1></r>",           // no quotes
      "<r a></r>",             // attribute without value
      "<r><a/>text</r>",       // text after a child
      "<r/ >",                 // blank inside "/>"
      "<r>< /r>",              // blank before "/"
      "<r><a.b/></r>",         // a name byte outside the set
      "r",                     // no "<"
  };
  for (const char* c : cases) {
    EXPECT_EQ(ReadError(kDecl + c), "Invalid symbol") << c;
  }
}

TEST(XmlReader, EndOfTextInsideADocumentIsReported) {
  EXPECT_EQ(ReadError(kDecl), "Unexpected end of file");
  EXPECT_EQ(ReadError(kDecl + "<r a=\"unclosed></r>"), "Unexpected end of file");
  EXPECT_EQ(ReadError(kDecl + "<r>text"), "Unexpected end of file");
  EXPECT_EQ(ReadError(kDecl + "<r><a></a>"), "Unexpected end of file");
  EXPECT_EQ(ReadError(kDecl + "<r><a/>"), "Unexpected end of file");
  EXPECT_EQ(ReadError(kDecl + "<r></r"), "Unexpected end of file");
  EXPECT_EQ(ReadError(kDecl + "<r><"), "Unexpected end of file");
}

TEST(XmlReader, BadNameEscapesAreReported) {
  EXPECT_EQ(ReadError(kDecl + "<r:zz></r:zz>"), "hex digit expected");
  EXPECT_EQ(ReadError(kDecl + "<r><a:4></a:4></r>"), "hex digit expected");
}

// Every cut of a good document, and random damage to it, ends in a tree or
// one of the reader's messages; nothing else (the byte-level fuzz target
// goes further under the sanitizers).
TEST(XmlReader, DamagedDocumentsFailCleanly) {
  const std::string good = kDecl +
                           "<settings>\r\n  <data>\r\n    <db0001 k=\"v\">\r\n      <path>a&#x26;b</path>\r\n"
                           "      <x:2Ey/>\r\n    </db0001>\r\n  </data>\r\n</settings>\r\n";
  ASSERT_EQ(ReadError(good, "settings"), "<loaded>");
  const size_t complete = good.rfind('>') + 1;
  for (size_t n = 0; n < good.size(); ++n) {
    std::string got = ReadError(good.substr(0, n));
    if (n < complete)
      EXPECT_NE(got, "<loaded>") << "cut at " << n;
    else
      EXPECT_EQ(got, "<loaded>") << "cut at " << n;
  }
  std::mt19937 rng(7);
  const std::string alphabet = "<>/=\"?:& \r\nax2E";
  for (int i = 0; i < 5000; ++i) {
    std::string bad = good;
    for (int k = 0; k < 3; ++k) bad[rng() % bad.size()] = alphabet[rng() % alphabet.size()];
    for (const char* root : {"", "settings"}) {
      try {
        XmlLoadStream(bad, root);
      } catch (const Exception&) {
      }
    }
  }
}

TEST(XmlReader, DeepNestingDoesNotExhaustTheStack) {
  const int depth = 200000;
  std::string doc = kDecl;
  for (int i = 0; i < depth; ++i) doc += "<a>";
  doc += "leaf";
  for (int i = 0; i < depth; ++i) doc += "</a>";
  auto root = XmlLoadStream(doc, "");
  const TqnNode* n = root.get();
  int levels = 0;
  while (n->NodeCount() > 0) {
    n = n->Nodes(0);
    ++levels;
  }
  EXPECT_EQ(levels, depth - 1);
  EXPECT_EQ(n->Text(), "leaf");
}
