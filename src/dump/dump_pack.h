// Several values of a block row in one parameter. The server spends about
// as much on receiving each parameter of a block as on storing its row, and
// the same whatever the parameter's type and size; taking a value out of a
// text costs it far less. So the values whose text form the server reads
// back exactly (fixed-width texts, texts without trailing blanks, integers,
// scaled integers, dates and times) travel side by side in one CHAR of the
// row, each at a fixed place, and the block takes each back with a
// substring, trimmed or cast to the column's type.
//
// A value that would not come back the same (a NULL, a text with trailing
// blanks or longer than its column, a number out of its column's range, a
// date the server's text form cannot hold) is not packed: the batch then
// sends that column as a parameter of its own for the rest of the section.
#pragma once

#include <string>

#include "firebird/fb_statement.h"

namespace qn {

enum class TqnPackKind { None, Char, Varchar, Integer, Date, Time, Timestamp };

// Where one insert parameter's value lies in the row's packed text.
struct TqnPackedField {
  TqnPackKind kind = TqnPackKind::None;
  int type = 0, scale = 0;  // the parameter's SQL type (without the NULL bit) and scale
  int offset = 0;           // 0-based
  int width = 0;            // bytes
  std::string castType;     // declaration the text is cast to, for numbers and dates
};

// How a parameter of that described type packs (kind None: it does not);
// offset left 0. Texts must be of a character set of one byte a character
// other than OCTETS, whose padding is not a blank: the caller says so.
TqnPackedField PackableField(int type, int scale, int length, bool singleByteText, std::string castType);

// Appends the value's text, exactly field.width bytes; false, appending
// nothing, when the block would not read the same value back.
bool PackValue(const TqnPackedField& field, const TqnFbParamValue& value, std::string& packed);

// The block's expression that reads the field back from the packed
// parameter named param (":k3").
std::string UnpackExpression(const TqnPackedField& field, const std::string& param);

}  // namespace qn
