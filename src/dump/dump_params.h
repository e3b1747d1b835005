// Setting a statement parameter from a dump value's text according to the
// parameter's SQL type. No parameter is ever set to NULL.
#pragma once

#include <string>

namespace qn {

class TqnFbStatement;

// By the parameter's described type:
//   NUMERIC, DECIMAL (scaled integers): the text as a decimal number with
//     "." as separator, whatever the process locale, passed exactly as the
//     integer of the parameter's scale (DumpScaled), 0 when it is none;
//   FLOAT, DOUBLE PRECISION: the same text as a double, 0 when it is none;
//   CHAR, VARCHAR and BLOB: the text itself (a blob's content);
//   SMALLINT, INTEGER: a 32-bit integer, BIGINT: a 64-bit one, 0 when none;
//   DATE, TIME, TIMESTAMP: classified by ClassifyDumpDate (which fails on
//     a length it does not know) and set as a date, a time stamp or a time;
//   any other: fails with "fbSetParamAsVarchar: data type \"<type>\" unknown".
void fbSetParamAsVarchar(TqnFbStatement& statement, int position, const std::string& text);

// Whether the parameter is a blob, whose values keep their trailing bytes.
bool IsBlobParam(const TqnFbStatement& statement, int position);

}  // namespace qn
