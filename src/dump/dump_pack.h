// Several values of a block row in one parameter. The server spends about
// as much on receiving each parameter of a block as on storing its row, and
// the same whatever the parameter's type and size; taking a value out of a
// text costs it far less. So the values whose text form the server reads
// back exactly (fixed-width texts, texts without trailing blanks, integers,
// scaled integers, dates and times) travel side by side in one CHAR of the
// row, each at a fixed place, and the block takes each back with a
// substring, trimmed or cast to the column's type.
//
// A NULL travels packed in a column that carries a marker: one byte before
// the value's place, "N" for a NULL and a blank for a value, which the
// block tests before it reads the value. A column gets its marker when the
// first NULL of its section comes, so that columns without any pay nothing.
//
// A value that would not come back the same (a text with trailing blanks or
// longer than its column, a number out of its column's storage, a time
// beyond a day, a value set in another form than its column's, such as a
// time stamp for a time of day) is not packed: the batch then sends that
// row alone.
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
  int width = 0;            // bytes of the value
  std::string castType;     // declaration the text is cast to, for numbers and dates
  bool marked = false;      // a NULL marker byte before the value
  // The bytes the field takes in the packed text.
  int Span() const { return width + (marked ? 1 : 0); }
};

// How a parameter of that described type packs (kind None: it does not);
// offset left 0. Texts must be of a character set of one byte a character
// other than OCTETS, whose padding is not a blank: the caller says so.
TqnPackedField PackableField(int type, int scale, int length, bool singleByteText, std::string castType);

// Appends the value's text (after its marker when the field has one),
// exactly field.Span() bytes; false, appending nothing, when the block
// would not read the same value back (a NULL in a field without a marker).
bool PackValue(const TqnPackedField& field, const TqnFbParamValue& value, std::string& packed);

// The block's expression that reads the field back from the packed
// parameter named param (":k3").
std::string UnpackExpression(const TqnPackedField& field, const std::string& param);

}  // namespace qn
