// The strict reader of the small XML subset the program writes: one
// declaration (skipped unread), elements with double-quoted attributes, and
// text only before an element's first child. No comments, processing
// instructions, CDATA or DOCTYPE; entity references are stored as they stand.
//
// Failures throw qn::Exception with one of the texts "Invalid symbol",
// "Unexpected end of file", "Unexpected data at end of file",
// "Tag name mismatch", "hex digit expected", "Wrong XML file",
// "Wrong XML file (no opening root tag)", "Wrong XML file (no closing root
// tag)", "Wrong XML file (closing root tag before opening root tag)".
// A failed read returns no tree. The reader never looks past the end of its
// text and keeps no recursion, whatever the input.
#pragma once

#include <istream>
#include <memory>
#include <string>
#include <string_view>

#include "xml/xml_dom.h"

namespace qn {

// Reads a document from its bytes (a NUL byte ends the text). When rootName
// is not empty, the bytes must hold "<rootName>" and, after it,
// "</rootName>" (plain case-sensitive searches). Returns the new root.
std::unique_ptr<TqnNode> XmlLoadStream(std::string_view bytes, const std::string& rootName);
// As above with the bytes from the stream's current position to its end.
std::unique_ptr<TqnNode> XmlLoadStream(std::istream& in, const std::string& rootName);

}  // namespace qn
