#include "settings/window_state.h"

#include <string>

namespace qn {

namespace {
constexpr int kMissing = -10000;
std::string WidthKey(int w) { return "w" + std::to_string(w); }
}  // namespace

std::optional<TqnWindowGeometry> ReadWindowState(const TqnNode& root, int screenWidth, int screenHeight) {
  const TqnNode* w = root.FindNode("visual")->FindNode("main")->FindNode(WidthKey(screenWidth));
  if (!w->Exists()) return std::nullopt;
  TqnWindowGeometry g;
  if (w->FindNode("state")->Text() == "max") {
    g.maximized = true;
    return g;
  }
  const TqnNode* b = w->FindNode("bounds");
  g.left = b->FindNode("left")->Content().AsInteger(kMissing);
  g.top = b->FindNode("top")->Content().AsInteger(kMissing);
  g.right = b->FindNode("right")->Content().AsInteger(kMissing);
  g.bottom = b->FindNode("bottom")->Content().AsInteger(kMissing);
  bool complete = g.left != kMissing && g.top != kMissing && g.right != kMissing && g.bottom != kMissing;
  bool onScreen = g.right > 0 && g.left < screenWidth && g.bottom > 0 && g.top < screenHeight;
  if (!complete || !onScreen) return std::nullopt;
  return g;
}

void WriteWindowState(TqnNode& root, int screenWidth, const TqnWindowGeometry& geometry) {
  TqnNode* w = root.Node("visual")->Node("main")->Node(WidthKey(screenWidth));
  if (geometry.maximized) {
    w->Node("state")->SetText("max");
    return;
  }
  w->Node("state")->SetText("std");
  TqnNode* b = w->Node("bounds");
  b->Node("left")->Content().SetInteger(geometry.left);
  b->Node("top")->Content().SetInteger(geometry.top);
  b->Node("right")->Content().SetInteger(geometry.right);
  b->Node("bottom")->Content().SetInteger(geometry.bottom);
}

}  // namespace qn
