// The tray icon's Win32 numbers: its identifier, the message its clicks
// come back with (WM_USER + 1), and which mouse messages of that callback
// are the presenter's tray events.
#pragma once

#include <windows.h>

#include <optional>

#include "app/main_presenter.h"

namespace qn {

inline constexpr UINT kTrayIconId = 100500;
inline constexpr UINT kTrayCallbackMessage = WM_USER + 1;

// The primary button's release, the secondary's release and the middle
// button's double click; nullopt for every other message (a button going
// down, a move).
std::optional<TqnTrayEvent> TrayMouseEvent(UINT mouseMessage);

}  // namespace qn
