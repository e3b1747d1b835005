// One SQL statement on a connection and transaction: prepare, parameters by
// name, execute, fetch, fields by name.
//
// Parameters are written ":name" in the text and become "?" positions
// (TranslateNamedParams); one name may stand at several positions and a
// value set by name goes to all of them. Values are passed in the form they
// are set in (text, 32- or 64-bit integer, double, date, time, time stamp)
// and the server converts them to the parameter's type; a text set on a
// BLOB parameter becomes the blob's content. A parameter that was not set
// is NULL. Values stay set between executions.
//
// Fields are read from the current row: after Fetch returned true. Text
// comes back as the server sends it (CHAR values with their padding).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "firebird/fb_api.h"
#include "firebird/fb_client.h"

namespace qn {

class TqnFbConnection;
class TqnFbTransaction;

// A parameter's value in the form it was set in (not a blob's), kept apart
// from its statement so that it can be set again on a parameter of the
// same described type, of this statement or another.
struct TqnFbParamValue {
  bool null = true;
  int16_t type = 0, scale = 0;  // the form set: SQL_TEXT, SQL_INT64, ...
  std::string data;
};

class TqnFbStatement {
 public:
  // On the connection's default transaction, or on the one given (which
  // must belong to the connection). Both must outlive the statement.
  explicit TqnFbStatement(TqnFbConnection& connection);
  TqnFbStatement(TqnFbConnection& connection, TqnFbTransaction& transaction);
  ~TqnFbStatement();  // frees the statement; never throws
  TqnFbStatement(const TqnFbStatement&) = delete;
  TqnFbStatement& operator=(const TqnFbStatement&) = delete;

  // Whether ":name" is translated (default true). Off for text whose ":x"
  // are not parameters, e.g. a procedure body naming its variables.
  void SetParamCheck(bool on) { paramCheck_ = on; }

  // Prepares the text, starting the transaction when it is not active.
  // Throws EqnFbError; Exception when the connection is not attached.
  void Prepare(const std::string& sql);
  bool Prepared() const { return handle_ != 0; }
  // The isc_info_sql_stmt_* kind of the prepared statement.
  int StatementType() const { return statementType_; }

  // ---- parameters --------------------------------------------------------
  int ParamCount() const { return static_cast<int>(params_.size()); }
  const std::string& ParamName(int index) const;
  // The first position of a name (compared without regard to ASCII case), -1 when none.
  int ParamIndex(const std::string& name) const;
  // The parameter's SQL type as described (SQL_TEXT, SQL_LONG, ... without
  // the NULL bit), its scale and length.
  int ParamSqlType(int index) const;
  int ParamScale(int index) const;
  // Its subtype: the character set (low byte) and collation of a text, the
  // subtype of a blob.
  int ParamSubType(int index) const;
  int ParamLength(int index) const;

  // By position, or by name (all positions of the name; Exception
  // "Parameter \"<name>\" not found" when it has none).
  void SetString(int index, const std::string& value);
  void SetInteger(int index, int32_t value);
  void SetInt64(int index, int64_t value);
  void SetDouble(int index, double value);
  // The integer value * 10^scale, passed exactly (NUMERIC and DECIMAL).
  void SetScaledInt64(int index, int64_t value, int scale);
  void SetDate(int index, int year, int month, int day);
  void SetTime(int index, int hour, int minute, int second, int tenThousandths);
  void SetTimestamp(int index, int year, int month, int day, int hour, int minute, int second, int tenThousandths);
  void SetNull(int index);
  void SetString(const std::string& name, const std::string& value);
  void SetInteger(const std::string& name, int32_t value);
  void SetInt64(const std::string& name, int64_t value);
  void SetDouble(const std::string& name, double value);
  void SetNull(const std::string& name);
  // Makes every parameter NULL again.
  void ClearParams();
  // The value as set; SetParamValue sets it again (a NULL one as NULL).
  TqnFbParamValue ParamValue(int index) const;
  void SetParamValue(int index, const TqnFbParamValue& value);

  // ---- execution ---------------------------------------------------------
  // Runs the prepared statement; a query's cursor is opened (closing an
  // open one first) and its rows come through Fetch. An executed procedure
  // with outputs gives its one row through Fetch. Starts the transaction
  // when it is not active. Throws EqnFbError.
  void Execute();
  // Prepare and Execute.
  void Execute(const std::string& sql);
  // The next row; false at the end (the cursor is closed then).
  bool Fetch();
  // Closes an open cursor; errors are ignored (a commit may have closed it).
  void Close();

  // ---- fields of the current row -------------------------------------------
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  std::string FieldName(int index) const;
  // The field of that name (its alias), exact first, then without regard
  // to ASCII case; -1 when none.
  int FieldIndex(const std::string& name) const;
  bool IsNull(int index) const;
  std::string AsString(int index);
  int32_t AsInteger(int index) const;
  int64_t AsInt64(int index) const;
  double AsDouble(int index) const;
  // By name; Exception "Field \"<name>\" not found" when none.
  bool IsNull(const std::string& name) const;
  std::string AsString(const std::string& name);
  int32_t AsInteger(const std::string& name) const;
  int64_t AsInt64(const std::string& name) const;
  double AsDouble(const std::string& name) const;

 private:
  struct Value {
    std::vector<char> data;
    int16_t indicator = -1;
    int16_t type = 0, scale = 0, subtype = 0, length = 0;  // as described
  };
  class Sqlda {
   public:
    void Resize(int count);
    fb::XSQLDA* Get() { return reinterpret_cast<fb::XSQLDA*>(storage_.data()); }
    const fb::XSQLDA* Get() const { return reinterpret_cast<const fb::XSQLDA*>(storage_.data()); }
    fb::XSQLVAR& Var(int i) { return Get()->sqlvar[i]; }
    const fb::XSQLVAR& Var(int i) const { return Get()->sqlvar[i]; }

   private:
    std::vector<uint64_t> storage_;  // 8-byte aligned room for the area
  };

  void Free();
  void CheckPrepared() const;
  void Describe();
  void BindOutput();
  std::vector<int> Positions(const std::string& name) const;
  int CheckParam(int index) const;
  int CheckField(int index) const;
  int FieldByName(const std::string& name) const;
  void SetRaw(int index, int sqlType, int scale, const void* bytes, size_t size);
  void WriteBlob(int index, const std::string& value);
  std::string ReadBlob(const fb::ISC_QUAD& id);
  int64_t ScaledInt64(int index, int& scale) const;
  std::string TextOf(int index) const;  // a CHAR or VARCHAR field

  TqnFbConnection& connection_;
  TqnFbTransaction& transaction_;
  std::shared_ptr<TqnFbClient> client_;
  bool paramCheck_ = true;
  fb::isc_stmt_handle handle_ = 0;
  uint64_t attachmentSerial_ = 0;
  int statementType_ = 0;
  std::vector<std::string> paramNames_;
  Sqlda in_, out_;
  std::vector<Value> params_, fields_;
  bool cursorOpen_ = false;
  bool singletonPending_ = false;
  bool rowValid_ = false;
};

}  // namespace qn
