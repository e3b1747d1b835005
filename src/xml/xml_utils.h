// Writing documents and the file-level reading and writing of trees.
//
// Written form: the line <?xml version="1.0" encoding="Windows-1251"?>,
// then the root at depth 0; a node at depth d is indented by 2*d spaces,
// carries its encoded name and its stored text trimmed of bytes 0..32, and
// takes one of five forms (<N/>; <N> children </N>; <N> text children </N>;
// <N>text</N>; <N> text-with-CR </N>). Lines end with CR LF. Attributes are
// never written.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "xml/xml_dom.h"
#include "xml/xml_parser.h"
#include "xml/xml_text.h"

namespace qn {

// Receives a message for the log; showToUser asks for an error box too.
using XmlLogCallback = std::function<void(const std::string& text, bool showToUser)>;

// The whole written document as bytes.
std::string XmlSaveString(const TqnNode& root);
// Writes the document to the stream; returns the number of bytes written.
// Throws Exception("Cannot write stream") when the stream fails.
size_t XmlSaveStream(const TqnNode& root, std::ostream& out);
// Replaces the file with the document: readers see the old file or the new
// one in full, never a part. On failure the old file stays and the error
// (Exception "Cannot create file <path>" or EqnOsError) propagates.
void XmlSaveFile(const TqnNode& root, const std::string& fileName);

// Reads a document file; throws Exception("Cannot open file <path>") or a
// reader error (see xml_parser.h).
std::unique_ptr<TqnNode> XmlLoadFile(const std::string& fileName, const std::string& rootName);

// Reads the file, falling back to the copy backupName (a bare name in the
// file's folder); never throws for an unreadable file. After a good read of
// the file the copy is refreshed. Lines for the log go to log with
// showToUser false; when neither file can be read, failureMessage (unless
// empty) goes to log once with showToUser true and the result is a new empty
// root named rootName.
std::unique_ptr<TqnNode> XmlLoadFileSafe(const std::string& fileName, const std::string& backupName,
                                         const std::string& rootName, const std::string& failureMessage,
                                         const XmlLogCallback& log);

}  // namespace qn
