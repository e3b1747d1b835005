// What the core needs of the main window and the tray icon. The window
// program shows them; the headless program has none and does nothing.
#pragma once

#include <string>

#include "settings/window_state.h"

namespace qn {

class IqnMainView {
 public:
  virtual ~IqnMainView() = default;

  // The list rows or the selection changed (TqnApplication::Rows()).
  virtual void ListChanged() = 0;
  virtual void AddTrayIcon(const std::string& tip) = 0;
  virtual void RemoveTrayIcon() = 0;
  virtual void SetTitle(const std::string& title) = 0;
  // Toggle: hide when shown, else show; otherwise show and bring forward.
  virtual void ShowMainWindow(bool toggle) = 0;
  // Ends the event loop; the core's shutdown runs after it.
  virtual void Quit() = 0;
  // The screen width and the window's geometry, for the saved state.
  virtual int ScreenWidth() const = 0;
  virtual TqnWindowGeometry Geometry() const = 0;
  // Brings the window forward on its messages page (a failed backup check).
  virtual void ShowMessagesPage() = 0;
};

// A view for a program without a window.
class TqnNoView : public IqnMainView {
 public:
  void ListChanged() override {}
  void AddTrayIcon(const std::string&) override {}
  void RemoveTrayIcon() override {}
  void SetTitle(const std::string&) override {}
  void ShowMainWindow(bool) override {}
  void Quit() override {}
  int ScreenWidth() const override { return 0; }
  TqnWindowGeometry Geometry() const override { return {}; }
  void ShowMessagesPage() override {}
};

}  // namespace qn
