// The written form, byte for byte, and round trips through it.
#include <gtest/gtest.h>

#include <sstream>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "test_support/temp_dir.h"
#include "xml/xml_utils.h"

using namespace qn;

TEST(XmlWriter, WritesTheFiveFormsWithIndentAndCrLf) {
  TqnNode root("settings");
  root.Node("empty");
  TqnNode* list = root.Node("list");
  list->Node("one")->SetText("1");
  list->Node("a.b")->SetText("  padded\t");
  TqnNode* texted = root.Node("texted");
  texted->SetText("head");
  texted->Node("child");
  root.Node("multi")->SetText("line1\r\nline2");
  root.Node(Win1251("имя"))->SetText(Win1251("значение"));
  root.Node("\n")->SetText("lf\nonly");

  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n"
      "<settings>\r\n"
      "  <empty/>\r\n"
      "  <list>\r\n"
      "    <one>1</one>\r\n"
      "    <a:2Eb>padded</a:2Eb>\r\n"
      "  </list>\r\n"
      "  <texted>\r\n"
      "head\r\n"
      "    <child/>\r\n"
      "  </texted>\r\n"
      "  <multi>\r\n"
      "line1\r\nline2\r\n"
      "  </multi>\r\n"
      "  <" +
      Win1251("имя") + ">" + Win1251("значение") + "</" + Win1251("имя") +
      ">\r\n"
      "  <:0A>lf\nonly</:0A>\r\n"
      "</settings>\r\n";
  EXPECT_EQ(XmlSaveString(root), expected);

  std::ostringstream out;
  out << "prefix";
  EXPECT_EQ(XmlSaveStream(root, out), expected.size());
  EXPECT_EQ(out.str(), "prefix" + expected);

  // A root with text and no children, and one with nothing.
  TqnNode lone("r");
  EXPECT_EQ(XmlSaveString(lone), "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<r/>\r\n");
  lone.SetText("v");
  EXPECT_EQ(XmlSaveString(lone), "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<r>v</r>\r\n");
}

TEST(XmlWriter, AttributesAreNeverWritten) {
  TqnNode root("r");
  root.Attrs().SetAttr("a", "1");
  root.Node("c")->Attrs().SetAttr("b", "2");
  TqnNode plain("r");
  plain.Node("c");
  EXPECT_EQ(XmlSaveString(root), XmlSaveString(plain));
}

TEST(XmlWriter, FailingStreamIsReported) {
  TqnNode root("r");
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  EXPECT_THROW(XmlSaveStream(root, out), Exception);
}

TEST(XmlRoundTrip, ValuesWithMarkupLineBreaksAndTabsSurviveAFile) {
  TempDir dir;
  const std::string file = platform::JoinPath(dir.path(), "settings.xml");
  const std::vector<std::string> values = {"a<b",      "x&y",       "&#x41;",           "line1\r\nline2",
                                           "one\ntwo", "tab\there", "<tag>&amp;</tag>", Win1251("путь\\к\\базе"),
                                           "q\"uote'", "\t\tlead",  "trail\r\n"};
  TqnNode root("settings");
  TqnNode* data = root.Node("data");
  for (size_t i = 0; i < values.size(); ++i) data->AddNode("v" + std::to_string(i))->Content().SetString(values[i]);
  root.Node("x.y")->Content().SetInteger(-5);
  XmlSaveFile(root, file);

  auto back = XmlLoadFile(file, "settings");
  TqnNode* d = back->FindNode("data");
  ASSERT_EQ(d->NodeCount(), static_cast<int>(values.size()));
  for (size_t i = 0; i < values.size(); ++i)
    EXPECT_EQ(d->FindNode("v" + std::to_string(i))->Content().AsString("?"), values[i]) << i;
  EXPECT_EQ(back->FindNode("x.y")->Content().AsInteger(0), -5);
  EXPECT_EQ(XmlSaveString(*back), XmlSaveString(root));
}

TEST(XmlRoundTrip, OuterBlanksOfAValueDoNotSurviveAFile) {
  TqnNode root("r");
  root.Node("v")->Content().SetString("  padded  ");
  auto back = XmlLoadStream(XmlSaveString(root), "r");
  EXPECT_EQ(back->FindNode("v")->Content().AsString("?"), "padded");
}

TEST(XmlRoundTrip, EmptyRootDoesNotReadBack) {
  TqnNode root("settings");
  const std::string bytes = XmlSaveString(root);
  EXPECT_THROW(XmlLoadStream(bytes, "settings"), Exception);
  try {
    XmlLoadStream(bytes, "");
    ADD_FAILURE() << "empty root read back";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Unexpected end of file");
  }
}

TEST(XmlRoundTrip, DeepTreeIsWrittenAndReadBack) {
  TqnNode root("r");
  TqnNode* n = &root;
  for (int i = 0; i < 2000; ++i) n = n->AddNode("n");
  n->SetText("leaf");
  std::string bytes = XmlSaveString(root);
  auto back = XmlLoadStream(bytes, "r");
  EXPECT_EQ(XmlSaveString(*back), bytes);
}
