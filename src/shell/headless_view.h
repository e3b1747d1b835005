// The main view of the program without a display: no window and no tray;
// exiting ends the event loop.
#pragma once

#include <QCoreApplication>

#include "app/main_view.h"

namespace qn {

class TqnHeadlessView : public TqnNoView {
 public:
  void Quit() override { QCoreApplication::quit(); }
};

}  // namespace qn
