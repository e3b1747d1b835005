#include "dump/dump_params.h"

#include "base/error.h"
#include "base/text.h"
#include "dump/dump_text.h"
#include "firebird/fb_api.h"
#include "firebird/fb_statement.h"

namespace qn {

bool IsBlobParam(const TqnFbStatement& statement, int position) {
  return statement.ParamSqlType(position) == fb::SQL_BLOB;
}

void fbSetParamAsVarchar(TqnFbStatement& statement, int position, const std::string& text) {
  int type = statement.ParamSqlType(position);
  switch (type) {
    case fb::SQL_SHORT:
    case fb::SQL_LONG:
    case fb::SQL_INT64:
      // NUMERIC and DECIMAL go as their scaled integer: a double would lose
      // the last digits of an 18-digit amount.
      if (statement.ParamScale(position) < 0)
        statement.SetScaledInt64(position, DumpScaled(text, statement.ParamScale(position)),
                                 statement.ParamScale(position));
      else if (type == fb::SQL_INT64)
        statement.SetInt64(position, DumpInt64(text));
      else
        statement.SetInteger(position, DumpInt32(text));
      return;
    case fb::SQL_FLOAT:
    case fb::SQL_DOUBLE:
    case fb::SQL_D_FLOAT: statement.SetDouble(position, DumpDouble(text)); return;
    case fb::SQL_TEXT:
    case fb::SQL_VARYING:
    case fb::SQL_BLOB: statement.SetString(position, text); return;
    case fb::SQL_TYPE_DATE:
    case fb::SQL_TYPE_TIME:
    case fb::SQL_TIMESTAMP: {
      TqnDumpDateTime t = ClassifyDumpDate(text);
      switch (t.kind) {
        case TqnDumpDateTime::Kind::Date: statement.SetDate(position, t.year, t.month, t.day); break;
        case TqnDumpDateTime::Kind::Timestamp:
          statement.SetTimestamp(position, t.year, t.month, t.day, t.hour, t.minute, t.second, t.msec * 10);
          break;
        case TqnDumpDateTime::Kind::Time: {
          int ms = t.MsecOfDay();
          statement.SetTime(position, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000 * 10);
          break;
        }
      }
      return;
    }
    default: throw Exception(Format("fbSetParamAsVarchar: data type \"%d\" unknown", type));
  }
}

}  // namespace qn
