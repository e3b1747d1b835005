// Reading values from the text of an INI file, the way the Windows
// private-profile functions read them: "[section]" lines open sections,
// "key=value" lines inside them give values. Section and key names are
// compared case-insensitively; names and values are trimmed of blanks and
// control characters, and one pair of matching quotes around a value is
// removed. Lines starting with ";" are comments. Where a section or key
// occurs twice, the first occurrence counts. A UTF-8 byte order mark at the
// start of the text is ignored. Line ends may be CR LF, LF or CR.
#pragma once

#include <string>
#include <string_view>

namespace qn {

// The value of key in section, or def when the key is missing (an empty
// value is returned as "").
std::string ReadIniString(std::string_view text, std::string_view section, std::string_view key,
                          const std::string& def);

// The value read as a 32-bit decimal integer with an optional sign; def when
// the key is missing or its value is not such a number.
int ReadIniInteger(std::string_view text, std::string_view section, std::string_view key, int def);

}  // namespace qn
