#include "sexpr/string_tree.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/error.h"

namespace qn {
namespace {

// The message of the qn::Exception that fn throws ("" when it throws none).
std::string Thrown(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

// [meta, [types, t1], [tables, t2]]
std::shared_ptr<TqnStringTree> MetaTree() {
  auto root = NewStringTree();
  root->AddString("meta");
  TqnStringTree& types = root->AddList();
  types.AddString("types");
  types.AddString("t1");
  TqnStringTree& tables = root->AddList();
  tables.AddString("tables");
  tables.AddString("t2");
  return root;
}

TEST(StringTreePrint, ListsInParenthesesElementsByOneBlank) {
  auto root = NewStringTree();
  TqnStringTree& list = root->AddList();
  list.AddString("a");
  TqnStringTree& inner = list.AddList();
  inner.AddString("b");
  inner.AddString("c");
  list.AddString("d");
  root->AddList();
  root->AddString("x y");
  TqnStringTree& nested = root->AddList();
  nested.AddList();
  nested.AddString("(");
  EXPECT_EQ(root->AsText(0), "(a (b c) d)");
  EXPECT_EQ(root->AsText(1), "()");
  EXPECT_EQ(root->AsText(2), "x y");     // no quoting
  EXPECT_EQ(root->AsText(3), "(() ()");  // no escaping either
}

TEST(StringTreeAccess, WrongKindAndRangeFailWithTheirMessages) {
  auto root = MetaTree();
  EXPECT_TRUE(root->IsString(0));
  EXPECT_FALSE(root->IsTree(0));
  EXPECT_TRUE(root->IsTree(1));
  EXPECT_FALSE(root->IsString(1));
  EXPECT_FALSE(root->IsString(-1));
  EXPECT_FALSE(root->IsTree(3));
  EXPECT_EQ(root->Str(0), "meta");
  EXPECT_EQ(root->Sub(2).Str(1), "t2");
  EXPECT_EQ(Thrown([&] { root->Str(1); }), "expected string");
  EXPECT_EQ(Thrown([&] { root->Sub(0); }), "expected tree");
  EXPECT_EQ(Thrown([&] { root->Str(3); }), "Index \"3\" out of range");
  EXPECT_EQ(Thrown([&] { root->Sub(-1); }), "Index \"-1\" out of range");
  EXPECT_EQ(Thrown([&] { root->AsText(7); }), "Index \"7\" out of range");
}

TEST(StringTreeAccess, StrDefNeverFails) {
  auto root = MetaTree();
  EXPECT_EQ(root->StrDef(0, "z"), "meta");
  EXPECT_EQ(root->StrDef(-1, "z"), "z");
  EXPECT_EQ(root->StrDef(1, "z"), "z");
  EXPECT_EQ(root->StrDef(3, "z"), "z");
}

TEST(StringTreeKeys, ByKeySkipsElementZeroIndexOfKeyDoesNot) {
  auto root = MetaTree();
  TqnStringTree* tables = root->ByKey("tables", true);
  ASSERT_NE(tables, nullptr);
  EXPECT_EQ(tables, &root->Sub(2));
  EXPECT_EQ(root->ByKey("meta", false), nullptr);
  EXPECT_EQ(Thrown([&] { root->ByKey("meta", true); }), "node by key \"meta\" not found");
  EXPECT_EQ(Thrown([&] { root->IndexOfKey("tables", false); }), "expected tree");
  EXPECT_EQ(root->Sub(1).Obj().Count(), 2);
}

TEST(StringTreeKeys, IndexOfKeyOverListsOnly) {
  auto root = NewStringTree();
  for (const char* key : {"a", "b", "b"}) {
    TqnStringTree& list = root->AddList();
    list.AddString(key);
  }
  EXPECT_EQ(root->IndexOfKey("a", true), 0);
  EXPECT_EQ(root->IndexOfKey("b", true), 1);    // the first of two
  EXPECT_EQ(root->IndexOfKey("B", false), -1);  // case-sensitive
  EXPECT_EQ(Thrown([&] { root->IndexOfKey("c", true); }), "node by key \"c\" not found");
}

TEST(StringTreeKeys, SearchFailsOnMalformedChildrenBeforeTheMatch) {
  auto emptyChild = NewStringTree();
  emptyChild->AddString("head");
  emptyChild->AddList();
  emptyChild->AddList().AddString("k");
  EXPECT_EQ(Thrown([&] { emptyChild->ByKey("k", false); }), "Index \"0\" out of range");

  auto listHead = NewStringTree();
  listHead->AddString("head");
  listHead->AddList().AddList();
  EXPECT_EQ(Thrown([&] { listHead->ByKey("k", false); }), "expected string");

  // The walk stops at the match, so malformed elements after it do not matter.
  auto matchFirst = NewStringTree();
  matchFirst->AddString("head");
  matchFirst->AddList().AddString("k");
  matchFirst->AddString("loose");
  EXPECT_NE(matchFirst->ByKey("k", true), nullptr);
}

TEST(StringTreeKeys, ValueOfAndTextOfReadElementOne) {
  auto root = NewStringTree();
  root->AddString("head");
  root->AddList().AddString("k");  // [k] alone
  TqnStringTree& name = root->AddList();
  name.AddString("name");
  name.AddString("PERSON");
  TqnStringTree& fields = root->AddList();
  fields.AddString("fields");
  TqnStringTree& id = fields.AddList();
  id.AddString("ID");
  id.AddString("integer");

  EXPECT_EQ(root->ValueOf("missing", "d"), "d");
  EXPECT_EQ(root->TextOf("missing"), "");
  EXPECT_EQ(root->ValueOf("name", "d"), "PERSON");
  EXPECT_EQ(root->TextOf("name"), "PERSON");
  EXPECT_EQ(root->TextOf("fields"), "(ID integer)");
  EXPECT_EQ(Thrown([&] { root->ValueOf("k", "d"); }), "Index \"1\" out of range");
  EXPECT_EQ(Thrown([&] { root->TextOf("k"); }), "Index \"1\" out of range");
  EXPECT_EQ(Thrown([&] { root->ValueOf("fields", "d"); }), "expected string");
}

TEST(StringTreeKeys, HasStringLooksAtOwnStringsOnly) {
  auto root = MetaTree();
  EXPECT_TRUE(root->HasString("meta"));
  EXPECT_FALSE(root->HasString("t1"));  // inside a child
  EXPECT_FALSE(root->HasString("Meta"));
}

TEST(StringTreeBuild, ClearEmptiesTheListAndItCanBeRefilled) {
  auto root = MetaTree();
  TqnStringTree& types = root->Sub(1);
  types.Clear();
  EXPECT_EQ(types.Count(), 0);
  EXPECT_EQ(root->AsText(1), "()");
  root->Clear();
  EXPECT_EQ(root->Count(), 0);
  EXPECT_EQ(Thrown([&] { root->AsText(0); }), "Index \"0\" out of range");
  root->AddString("again");
  EXPECT_EQ(root->Str(0), "again");
}

TEST(StringTreeBuild, DeepTreesPrintAndFreeWithoutRecursion) {
  constexpr int kDepth = 200000;
  auto root = NewStringTree();
  TqnStringTree* list = root.get();
  for (int i = 0; i < kDepth; ++i) list = &list->AddList();
  list->AddString("x");
  EXPECT_EQ(root->AsText(0), std::string(kDepth, '(') + "x" + std::string(kDepth, ')'));
  root->Sub(0).Sub(0).Clear();
  EXPECT_EQ(root->AsText(0), "(())");
  list = &root->Sub(0).Sub(0);  // the cleared list, now rebuilt as deep again
  for (int i = 0; i < kDepth; ++i) list = &list->AddList();
  root.reset();  // must not exhaust the stack
}

}  // namespace
}  // namespace qn
