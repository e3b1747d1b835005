#include "gui_win32/tray_messages.h"

namespace qn {

std::optional<TqnTrayEvent> TrayMouseEvent(UINT mouseMessage) {
  switch (mouseMessage) {
    case WM_LBUTTONUP: return TqnTrayEvent::PrimaryUp;
    case WM_RBUTTONUP: return TqnTrayEvent::SecondaryUp;
    case WM_MBUTTONDBLCLK: return TqnTrayEvent::MiddleDoubleClick;
    default: return std::nullopt;
  }
}

}  // namespace qn
