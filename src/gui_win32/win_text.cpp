#include "gui_win32/win_text.h"

#include <windows.h>

namespace qn {

namespace {

constexpr UINT kCyrillic = 1251;

std::wstring ToWide(UINT codePage, const std::string& text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

}  // namespace

std::wstring Wide(const std::string& cp1251) { return ToWide(kCyrillic, cp1251); }

std::wstring WideUtf8(const char* utf8) { return ToWide(CP_UTF8, utf8); }

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(kCyrillic, 0, wide.data(), size, nullptr, 0, "?", nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(kCyrillic, 0, wide.data(), size, out.data(), n, "?", nullptr);
  return out;
}

}  // namespace qn
