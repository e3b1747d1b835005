// The main window's geometry, kept per screen width under
// "visual" / "main" / "w<width>".
#pragma once

#include <optional>

#include "xml/xml_dom.h"

namespace qn {

struct TqnWindowGeometry {
  bool maximized = false;
  int left = 0, top = 0, right = 0, bottom = 0;
};

// The geometry saved for this screen width, when there is one to apply:
// "max" gives maximized; bounds are given only when all four are present
// and the window would show on the screen.
std::optional<TqnWindowGeometry> ReadWindowState(const TqnNode& root, int screenWidth, int screenHeight);
// Stores "state" and, unless maximized, the four bounds.
void WriteWindowState(TqnNode& root, int screenWidth, const TqnWindowGeometry& geometry);

}  // namespace qn
