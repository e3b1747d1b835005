// The application's icon, drawn in code: a database cylinder.
#pragma once

#include <QIcon>

namespace qn {

// The same icon for the windows and the tray, in 16, 24, 32 and 48 pixels.
QIcon ApplicationIcon();

}  // namespace qn
