// The main view of the program without a display: no window and no tray;
// exiting ends the event loop.
#pragma once

#include "app/main_view.h"
#include "shell/main_thread.h"

namespace qn {

class TqnHeadlessView : public TqnNoView {
 public:
  void Quit() override { QuitMainThreadLoop(); }
};

}  // namespace qn
