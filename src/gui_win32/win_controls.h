// Small pieces shared by the Win32 windows: child controls made from code,
// their texts, the window font, the application's icon, and modal dialogs
// built without a resource template.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "app/window_texts.h"

namespace qn {

// The window font: "MS Sans Serif", 11 pixels high, Cyrillic character set.
HFONT WindowFont();
// Gives every child of the window the window font.
void ApplyWindowFont(HWND window);

HWND AddControl(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style, int x, int y, int w,
                int h, int id, DWORD exStyle = 0);
// The pages' titles of a tab control, in order.
void AddTabs(HWND tabs, std::initializer_list<TqnText> titles);
std::wstring ControlText(HWND control);
void SetControlText(HWND control, const std::wstring& text);
// The width of the text in the window font.
int TextWidth(HWND window, const std::wstring& text);
// The text as it fits width pixels in the window's font: whole, or with its
// middle replaced by "...".
std::wstring ElideMiddle(HWND window, const std::wstring& text, int width);
bool IsChecked(HWND button);
void SetChecked(HWND button, bool checked);

// The outer size of a window of the style that gives the client size.
SIZE FrameSizeForClient(HWND window, int clientWidth, int clientHeight);
// Places the window centred on its owner, or on the screen without one.
void CentreOnOwner(HWND window, HWND owner);

// The application's icon (a stack of blue discs), drawn once; and the
// system's warning icon for the tray's alarm.
HICON ApplicationIcon(int size);

// A time field of five places "hh:nn" with ":" fixed in the middle: only
// digits can be typed, each over the place at the caret; a cleared place
// shows as "_".
void MakeTimeField(HWND edit);
// The five places with an unfilled one as a blank.
std::string TimeFieldText(HWND edit);

// Delivers the thread's pending messages (a WM_QUIT is left for the loop).
void PumpMessages();

// A modal dialog without a resource template: the subclass makes its
// controls in OnInit and answers its commands.
class TqnWinDialog {
 public:
  TqnWinDialog(std::wstring caption, int clientWidth, int clientHeight)
      : caption_(std::move(caption)), clientWidth_(clientWidth), clientHeight_(clientHeight) {}
  virtual ~TqnWinDialog() = default;
  TqnWinDialog(const TqnWinDialog&) = delete;
  TqnWinDialog& operator=(const TqnWinDialog&) = delete;

  // Runs the dialog owned by the window; true when ended by "ОК" (IDOK).
  bool RunModal(HWND owner);
  HWND Handle() const { return hwnd_; }

 protected:
  virtual void OnInit() = 0;
  // A command of a control; true when handled.
  virtual bool OnCommand(int id, int code) = 0;
  virtual bool OnNotify(const NMHDR&) { return false; }
  // "ОК": true lets the dialog end.
  virtual bool CanConfirm() { return true; }
  virtual void OnMessage(UINT, WPARAM, LPARAM) {}
  // A control of the dialog or of one of its pages.
  HWND Item(int id) const;
  // Adds a control at dialog coordinates, to the page being built if any.
  HWND Add(const wchar_t* windowClass, const std::wstring& text, DWORD style, int x, int y, int w, int h, int id,
           DWORD exStyle = 0);
  // A page of the tab control: a child dialog over its display area with
  // the tab's background, which the controls added from now on go to (until
  // EndPage). Its controls' commands reach OnCommand and OnNotify.
  HWND BeginPage(HWND tabs);
  void EndPage() { page_ = nullptr; }

 private:
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  HWND page_ = nullptr;
  POINT pageOrigin_{};
  std::vector<HWND> pages_;

  std::wstring caption_;
  int clientWidth_;
  int clientHeight_;
  HWND hwnd_ = nullptr;
};

}  // namespace qn
