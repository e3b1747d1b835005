// Reader of the parenthesised text form of a string tree.
//
// Tokens: "(" and ")" are one byte each; any other run of bytes without a
// byte 0..32 or a parenthesis is an atom. Bytes 1..32 separate tokens; a
// byte 0 ends the text as its end does. There is no quoting and no comment.
//
// The first token must be "(" and opens the root. A ")" that is the last
// byte of the text is the root's own and closes nothing, so the root's
// closing parenthesis may also be missing; a ")" with anything after it
// closes the innermost open list. The text must therefore end right after
// the root's ")".
//
// Failures throw qn::Exception (no tree is returned):
//   "token required"                            no token at all
//   "Require token \"(\", but found \"<tok>\""  the first token is not "("
//   "invalid brace sequence"                    a nested list is still open
//                                               at the end, or a ")" closes
//                                               more lists than are open
//
// The reader makes one pass over the text and keeps its open lists on an
// explicit stack, so nesting depth is bounded by memory only.
#pragma once

#include <string>
#include <string_view>

#include "sexpr/string_tree.h"

namespace qn {

PqnStringTree ParseSExp(std::string_view text);

// The escapes of an atom, replaced one kind after the other in this order,
// each over the result of the previous: \B -> \, \F -> /, \C -> ",",
// \L -> :, \D -> ., \K -> ;, \S -> blank, \N -> CR LF, \O -> (, \P -> ).
// Since \B goes first, the backslash it yields can start a later escape
// (\BS is a blank). A backslash before any other byte stays as it is.
std::string DecodeAtom(std::string_view atom);

}  // namespace qn
