// The lexical side of SQL text as this program handles it: named parameters
// and the splitting of a script into statements. Both skip quoted strings
// ('...' and "...", a doubled quote staying inside) and comments (/* ... */
// and -- to the end of the line). Pure functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qn {

// Replaces every parameter ":name" (a name of letters, Windows-1251 letters
// included, digits, "_" and "$")
// outside strings and comments by "?" and lists the names in order of
// position; a name used twice appears twice, and a "?" already in the text
// holds its position with an empty name. Text without names is returned
// unchanged.
std::string TranslateNamedParams(std::string_view sql, std::vector<std::string>& names);

// Splits a script into its statements. The terminator is ";" at first;
// a statement "SET TERM x" (any letter case, terminated by the current
// terminator) makes x the terminator and is not itself returned. A
// terminator inside a string or comment does not end a statement. Each
// statement comes back without its terminator and trimmed of blanks,
// control characters and leading comments; empty ones are dropped; text
// after the last terminator counts as a last statement.
std::vector<std::string> SplitScript(std::string_view script);

// The leading words of a statement, upper-cased and separated by single
// blanks, at most count words (letters, digits, "_" and "$"), skipping
// comments between them. "set  term ^" with 2 gives "SET TERM".
std::string LeadingWords(std::string_view statement, int count);

}  // namespace qn
