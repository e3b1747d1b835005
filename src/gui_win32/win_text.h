// The boundary between the core's Windows-1251 text and the wide text of
// the Win32 controls.
#pragma once

#include <string>

#include "app/window_texts.h"

namespace qn {

std::wstring Wide(const std::string& cp1251);
// A character without a Windows-1251 code becomes '?'.
std::string Narrow(const std::wstring& wide);
// Wide() of a UTF-8 literal.
std::wstring WideUtf8(const char* utf8);
// A text of the windows.
inline std::wstring Text(TqnText text) { return Wide(UiText(text)); }

}  // namespace qn
