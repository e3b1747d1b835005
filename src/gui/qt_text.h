// The one place where the window converts text: the core holds
// Windows-1251 bytes, Qt holds Unicode.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

namespace qn {

QString ToQString(const std::string& cp1251);
// Characters without a Windows-1251 code become '?'.
std::string FromQString(const QString& text);

// A chooser filter of pairs "Description|*.a;*.b|..." as Qt name filters
// "Description (*.a *.b)". A pattern list in parentheses at the end of a
// description is replaced by the real patterns, so that Qt, which reads the
// patterns from the last parentheses, finds them.
QStringList QtNameFilters(const std::string& filter);

}  // namespace qn
