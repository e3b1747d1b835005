// Text forms of the XML library: element-name encoding and the escaping of
// stored text. All text is Windows-1251 bytes; nothing converts code pages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qn {

// Keeps "-", digits, Latin letters, "_", "{", "}" and the bytes 192..255;
// every other byte becomes ":" and two upper-case hex digits (a.b -> a:2Eb).
std::string XmlEncodeName(std::string_view name);
// Turns ":" plus two hex digits (either case) back into the byte; throws
// Exception("hex digit expected") for a ":" without two hex digits after it.
std::string XmlDecodeName(std::string_view name);

// The stored form of a value: bytes 0..31 and "&", "<", ">" become
// "&#x" + two upper-case hex digits + ";"; all other bytes stay.
std::string XmlEscapeText(std::string_view value);
// The value of a stored text: each well-formed "&#x<hex digits 0-9A-F>;"
// gives the byte of the low eight bits of its number; anything else,
// including an "&" that does not open such an escape, is copied unchanged.
std::string XmlUnescapeText(std::string_view stored);

// A whole text as a 32-bit integer: optional sign and decimal digits, or
// "$" and hex digits (up to $FFFFFFFF, taken as the two's complement value).
// Nothing otherwise, including an empty text or a value out of range.
std::optional<int32_t> XmlParseInteger(std::string_view text);

// Bytes that may make up an element or attribute name in a file.
bool XmlIsNameChar(unsigned char c);

}  // namespace qn
