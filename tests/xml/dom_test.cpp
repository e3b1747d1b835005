// The tree: ownership, the name index and the shared empty node.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "xml/xml_dom.h"

using namespace qn;

namespace {

std::string MessageOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Exception& e) {
    return e.what();
  }
  return "<no exception>";
}

}  // namespace

TEST(XmlTree, NodeCreatesOnceAndFindsAnyCase) {
  TqnNode root("settings");
  TqnNode* data = root.Node("data");
  EXPECT_EQ(root.Node("DATA"), data);
  EXPECT_EQ(root.FindNode("Data"), data);
  EXPECT_EQ(root.NodeCount(), 1);
  EXPECT_FALSE(root.FindNode("missing")->Exists());
  EXPECT_EQ(root.FindNode("missing"), TqnNode::Empty());
  EXPECT_EQ(data->Parent(), &root);

  TqnNode* cyr = root.Node(Win1251("данные"));
  EXPECT_EQ(root.FindNode(Win1251("ДАННЫЕ")), cyr);
  EXPECT_EQ(root.FindNode(Win1251("Данные")), cyr);
}

TEST(XmlTree, NewestChildOfASharedNameIsFoundFirst) {
  TqnNode root("r");
  TqnNode* first = root.AddNode("db");
  root.AddNode("zz");
  TqnNode* second = root.AddNode("DB");
  EXPECT_EQ(root.FindNode("db"), second);
  EXPECT_EQ(root.Node("db"), second);
  EXPECT_EQ(first->Index(), 0);
  EXPECT_EQ(second->Index(), 2);
  delete second;  // freeing a child takes it out of its parent
  EXPECT_EQ(root.NodeCount(), 2);
  EXPECT_EQ(root.FindNode("db"), first);
  EXPECT_EQ(root.Nodes(1)->Name(), "zz");
  EXPECT_EQ(root.Index(), -1);
}

TEST(XmlTree, PositionsOutsideTheListFailWithTheirIndex) {
  TqnNode root("r");
  root.AddNode("a");
  EXPECT_EQ(MessageOf([&] { root.Nodes(1); }), "List index out of bounds (1)");
  EXPECT_EQ(MessageOf([&] { root.Items(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(MessageOf([&] { root.Insert(3, std::make_unique<TqnNode>("x")); }), "List index out of bounds (3)");
  EXPECT_EQ(root.NodeCount(), 1);
}

TEST(XmlTree, InsertRemoveAndClearKeepIndexAndOrderInStep) {
  TqnNode root("r");
  root.AddNode("b");
  root.Insert(0, std::make_unique<TqnNode>("a"));
  root.Insert(2, std::make_unique<TqnNode>("c"));
  ASSERT_EQ(root.NodeCount(), 3);
  EXPECT_EQ(root.Nodes(0)->Name(), "a");
  EXPECT_EQ(root.Nodes(2)->Name(), "c");

  TqnNode* b = root.FindNode("b");
  b->AddNode("inner");
  std::unique_ptr<TqnItem> taken = root.Remove(b);
  ASSERT_EQ(taken.get(), b);
  EXPECT_EQ(b->Parent(), nullptr);
  EXPECT_FALSE(root.FindNode("b")->Exists());
  EXPECT_EQ(root.NodeCount(), 2);
  EXPECT_EQ(root.Remove(b), nullptr);  // no longer ours

  // The taken node can be adopted elsewhere, with its subtree.
  TqnNode* c = root.FindNode("c");
  c->Add(std::move(taken));
  EXPECT_EQ(c->FindNode("b")->FindNode("inner")->Parent(), b);

  root.Attrs().SetAttr("k", "v");
  root.SetText("kept");
  root.Clear();
  EXPECT_EQ(root.NodeCount(), 0);
  EXPECT_EQ(root.Attrs().Count(), 0);
  EXPECT_FALSE(root.FindNode("a")->Exists());
  EXPECT_EQ(root.Text(), "kept");
}

TEST(XmlTree, RefusesItemsThatDoNotBelong) {
  TqnNode root("r");
  TqnNode* child = root.AddNode("child");
  EXPECT_THROW(root.Add(std::make_unique<TqnAttr>("a", "v")), Exception);
  EXPECT_THROW(root.Attrs().Add(std::make_unique<TqnNode>("n")), Exception);

  // A root put under its own child would own itself.
  auto owner = std::make_unique<TqnNode>("top");
  TqnNode* top = owner.get();
  TqnNode* below = top->AddNode("below");
  EXPECT_THROW(below->Add(std::move(owner)), Exception);
  ASSERT_NE(owner, nullptr);  // ownership not taken on refusal
  EXPECT_EQ(top->NodeCount(), 1);
  EXPECT_THROW(top->Add(std::move(owner)), Exception);  // nor under itself
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(child->Parent(), &root);
}

TEST(XmlTree, AttributesAreSetInPlaceOrAppended) {
  TqnNode root("r");
  root.Attrs().SetAttr("b", "1");
  root.Attrs().SetAttr("a", "2");
  root.Attrs().SetAttr("B", "3");
  ASSERT_EQ(root.Attrs().Count(), 2);
  EXPECT_EQ(root.Attrs().Attr("b"), "3");
  EXPECT_EQ(root.Attrs().Items(0)->Name(), "b");
  EXPECT_EQ(root.Attrs().Owner(), &root);
  EXPECT_EQ(root.Attrs().Attr("none"), "");
}

TEST(XmlEmptyNode, ReadsGiveDefaultsAndWritesAreRefused) {
  TqnNode root("r");
  TqnNode* missing = root.FindNode("a")->FindNode("b");
  ASSERT_EQ(missing, TqnNode::Empty());
  EXPECT_FALSE(missing->Exists());
  EXPECT_EQ(missing->Content().AsString("def"), "def");
  EXPECT_EQ(missing->Content().AsInteger(7), 7);
  EXPECT_TRUE(missing->Content().AsBoolean(true));

  // Node() on the placeholder must not grow children there, or later
  // lookups of unrelated missing nodes would find them.
  EXPECT_EQ(missing->Node("x"), missing);
  EXPECT_EQ(missing->NodeCount(), 0);
  EXPECT_FALSE(TqnNode::Empty()->FindNode("x")->Exists());

  EXPECT_EQ(MessageOf([&] { missing->Content().SetString("v"); }), "setting value for not exists node");
  EXPECT_EQ(MessageOf([&] { missing->Content().SetInteger(1); }), "setting value for not exists node");
  EXPECT_EQ(MessageOf([&] { missing->Content().SetBoolean(true); }), "setting value for not exists node");
  EXPECT_EQ(MessageOf([&] { missing->SetText("v"); }), "setting value for not exists node");
  EXPECT_THROW(missing->Add(std::make_unique<TqnNode>("x")), Exception);
  missing->Attrs().SetAttr("a", "v");
  EXPECT_EQ(missing->Attrs().Count(), 0);
  EXPECT_EQ(missing->Text(), "");
  EXPECT_EQ(missing->Index(), -1);
  EXPECT_EQ(root.NodeCount(), 0);
}

// A chain far deeper than any call stack would take is built and freed.
TEST(XmlTree, VeryDeepTreeIsFreedWithoutExhaustingTheStack) {
  auto root = std::make_unique<TqnNode>("r");
  TqnNode* n = root.get();
  for (int i = 0; i < 300000; ++i) n = n->AddNode("a");
  n->SetText("leaf");
  TqnNode* middle = root->Nodes(0)->Nodes(0);
  delete middle;
  EXPECT_EQ(root->Nodes(0)->NodeCount(), 0);
  for (int i = 0; i < 1000; ++i) root->Nodes(0)->AddNode("b");
  root.reset();
  SUCCEED();
}

// The name index against a plain model: after any mix of additions and
// deletions, lookup gives the newest surviving item of the name.
TEST(XmlTree, NameIndexMatchesAModelUnderRandomChanges) {
  std::mt19937 rng(12345);
  const std::vector<std::string> names = {"a", "A", "b", "B", "ab", "aB", "c", Win1251("я"), Win1251("Я"), ""};
  TqnNode root("r");
  std::vector<TqnNode*> alive;  // in order of addition
  for (int step = 0; step < 3000; ++step) {
    if (alive.empty() || rng() % 3 != 0) {
      const std::string& name = names[rng() % names.size()];
      if (rng() % 2)
        alive.push_back(root.AddNode(name));
      else
        alive.push_back(static_cast<TqnNode*>(
            root.Insert(static_cast<int>(rng() % (root.Count() + 1)), std::make_unique<TqnNode>(name))));
    } else {
      size_t k = rng() % alive.size();
      delete alive[k];
      alive.erase(alive.begin() + static_cast<long>(k));
    }
    ASSERT_EQ(root.NodeCount(), static_cast<int>(alive.size()));
    for (const std::string& name : names) {
      TqnNode* expected = TqnNode::Empty();
      for (TqnNode* n : alive)
        if (CompareTextNoCase(n->Name(), name) == 0) expected = n;
      ASSERT_EQ(root.FindNode(name), expected) << "step " << step << " name " << name;
    }
  }
}
