#include <gtest/gtest.h>

#include "settings/window_state.h"

using namespace qn;

TEST(WindowState, EachScreenWidthKeepsItsOwnGeometry) {
  TqnNode root("settings");
  WriteWindowState(root, 1280, {false, 100, 50, 622, 416});
  EXPECT_FALSE(ReadWindowState(root, 1920, 1080).has_value());
  auto g = ReadWindowState(root, 1280, 1024);
  ASSERT_TRUE(g.has_value());
  EXPECT_FALSE(g->maximized);
  EXPECT_EQ(g->left, 100);
  EXPECT_EQ(g->bottom, 416);
  WriteWindowState(root, 1280, {true, 0, 0, 0, 0});
  g = ReadWindowState(root, 1280, 1024);
  ASSERT_TRUE(g.has_value());
  EXPECT_TRUE(g->maximized);
  EXPECT_EQ(root.FindNode("visual")->FindNode("main")->FindNode("w1280")->FindNode("bounds")->FindNode("left")->Text(),
            "100")
      << "a maximised window keeps the bounds it had";
}

TEST(WindowState, BoundsOffTheScreenOrIncompleteAreIgnored) {
  TqnNode root("settings");
  WriteWindowState(root, 800, {false, 800, 10, 1300, 300});  // left not less than the width
  EXPECT_FALSE(ReadWindowState(root, 800, 600).has_value());
  WriteWindowState(root, 800, {false, 10, -400, 300, 0});  // bottom not above 0
  EXPECT_FALSE(ReadWindowState(root, 800, 600).has_value());
  WriteWindowState(root, 800, {false, 10, 10, 300, 300});
  delete root.FindNode("visual")->FindNode("main")->FindNode("w800")->FindNode("bounds")->FindNode("top");
  EXPECT_FALSE(ReadWindowState(root, 800, 600).has_value());
}
