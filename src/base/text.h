// Small text helpers shared by every layer. All text is Windows-1251 bytes
// held in std::string; the helpers treat bytes as unsigned.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qn {

// Converts a UTF-8 literal (source files are UTF-8) into Windows-1251 bytes.
// Characters without a Windows-1251 code become '?'. Used for the Russian
// texts of the system so that they are stored and sent as single bytes.
std::string Win1251(std::string_view utf8);

// Windows-1251 bytes to UTF-8, for the user-interface boundary.
std::string Win1251ToUtf8(std::string_view cp1251);

// UTF-8 to Windows-1251; returns false when a character has no code or the
// input is not valid UTF-8 (out then holds '?' for each such character).
bool Utf8ToWin1251(std::string_view utf8, std::string& out);

// printf-style formatting into a std::string. A build whose C library
// formats differently from its compiler's "printf" names the archetype.
#ifndef QN_PRINTF_ARCHETYPE
#define QN_PRINTF_ARCHETYPE printf
#endif
std::string Format(const char* fmt, ...) __attribute__((format(QN_PRINTF_ARCHETYPE, 1, 2)));

// Trims bytes with codes 0..32 at both ends.
std::string TrimControl(std::string_view s);
// Trims blanks (code 32) at both ends.
std::string TrimBlanks(std::string_view s);
// ASCII and Windows-1251 Cyrillic upper/lower case.
std::string LowerCase(std::string_view s);
std::string UpperCase(std::string_view s);
// Case-insensitive comparison of Windows-1251 text (Cyrillic included),
// as a locale-aware comparison under a Russian locale would order it.
int CompareTextNoCase(std::string_view a, std::string_view b);

// Hexadecimal digits of a value, upper case, zero-padded to width.
std::string HexUpper(uint32_t value, int width);

}  // namespace qn
