#include "firebird/fb_statement.h"

#include <algorithm>
#include <cstring>

#include "base/error.h"
#include "base/text.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_error.h"
#include "firebird/fb_sql_text.h"
#include "firebird/fb_values.h"

namespace qn {

namespace {

bool IsTextType(int type) { return type == fb::SQL_TEXT || type == fb::SQL_VARYING; }

// Room a value of the described type needs in a row buffer.
size_t BufferSize(int type, int length) {
  switch (type) {
    case fb::SQL_VARYING: return static_cast<size_t>(length) + 2;
    case fb::SQL_TEXT: return static_cast<size_t>(length);
    case fb::SQL_SHORT: return 2;
    case fb::SQL_LONG:
    case fb::SQL_FLOAT:
    case fb::SQL_TYPE_DATE:
    case fb::SQL_TYPE_TIME: return 4;
    case fb::SQL_INT64:
    case fb::SQL_DOUBLE:
    case fb::SQL_D_FLOAT:
    case fb::SQL_TIMESTAMP:
    case fb::SQL_BLOB:
    case fb::SQL_QUAD:
    case fb::SQL_ARRAY: return 8;
    case fb::SQL_BOOLEAN: return 1;
    default: return length > 0 ? static_cast<size_t>(length) : 0;
  }
}

template <typename T>
T Read(const std::vector<char>& data) {
  T value;
  std::memcpy(&value, data.data(), sizeof value);
  return value;
}

int64_t PowerOf10(int n) {
  int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

}  // namespace

void TqnFbStatement::Sqlda::Resize(int count) {
  if (count < 1) count = 1;
  storage_.assign((fb::XsqldaLength(count) + 7) / 8, 0);
  Get()->version = fb::kSqldaVersion1;
  Get()->sqln = static_cast<fb::ISC_SHORT>(count);
}

TqnFbStatement::TqnFbStatement(TqnFbConnection& connection)
    : TqnFbStatement(connection, connection.DefaultTransaction()) {}

TqnFbStatement::TqnFbStatement(TqnFbConnection& connection, TqnFbTransaction& transaction)
    : connection_(connection), transaction_(transaction) {}

TqnFbStatement::~TqnFbStatement() {
  try {
    Free();
  } catch (...) {
  }
}

void TqnFbStatement::Free() {
  bool live = handle_ && connection_.Attached() && connection_.AttachmentSerial() == attachmentSerial_;
  if (live) {
    fb::ISC_STATUS_ARRAY status = {};
    client_->Api().isc_dsql_free_statement(status, &handle_, fb::DSQL_drop);
  }
  handle_ = 0;
  cursorOpen_ = singletonPending_ = rowValid_ = false;
  params_.clear();
  fields_.clear();
  paramNames_.clear();
  statementType_ = 0;
}

void TqnFbStatement::CheckPrepared() const {
  if (!handle_ || !connection_.Attached() || connection_.AttachmentSerial() != attachmentSerial_)
    throw Exception("Statement is not prepared");
}

void TqnFbStatement::Prepare(const std::string& sql) {
  Free();
  const fb::TqnFbApi& api = connection_.Api();
  client_ = connection_.Client();
  transaction_.EnsureStarted();
  std::string text = paramCheck_ ? TranslateNamedParams(sql, paramNames_) : sql;
  if (!paramCheck_) paramNames_.clear();
  std::vector<std::string> names = std::move(paramNames_);

  fb::ISC_STATUS_ARRAY status = {};
  api.isc_dsql_allocate_statement(status, connection_.Handle(), &handle_);
  CheckStatus(api, status);
  attachmentSerial_ = connection_.AttachmentSerial();
  try {
    out_.Resize(1);
    api.isc_dsql_prepare(status, transaction_.Handle(), &handle_, 0, text.c_str(), fb::kSqlDialect3, out_.Get());
    CheckStatus(api, status);

    const char items[] = {fb::isc_info_sql_stmt_type, fb::isc_info_end};
    char info[32] = {};
    api.isc_dsql_sql_info(status, &handle_, sizeof items, items, sizeof info, info);
    CheckStatus(api, status);
    if (info[0] == fb::isc_info_sql_stmt_type) {
      int length = static_cast<unsigned char>(info[1]) | (static_cast<unsigned char>(info[2]) << 8);
      int type = 0;
      for (int i = 0; i < length && i < 4; ++i) type |= static_cast<unsigned char>(info[3 + i]) << (8 * i);
      statementType_ = type;
    }
    Describe();
  } catch (...) {
    Free();
    throw;
  }
  paramNames_ = std::move(names);
  paramNames_.resize(params_.size());
}

void TqnFbStatement::Describe() {
  const fb::TqnFbApi& api = client_->Api();
  fb::ISC_STATUS_ARRAY status = {};
  int outputs = out_.Get()->sqld;
  if (outputs > out_.Get()->sqln) {
    out_.Resize(outputs);
    api.isc_dsql_describe(status, &handle_, fb::kSqldaVersion1, out_.Get());
    CheckStatus(api, status);
  }
  BindOutput();

  in_.Resize(1);
  api.isc_dsql_describe_bind(status, &handle_, fb::kSqldaVersion1, in_.Get());
  CheckStatus(api, status);
  int inputs = in_.Get()->sqld;
  if (inputs > in_.Get()->sqln) {
    in_.Resize(inputs);
    api.isc_dsql_describe_bind(status, &handle_, fb::kSqldaVersion1, in_.Get());
    CheckStatus(api, status);
  }
  params_.assign(inputs, Value{});
  for (int i = 0; i < inputs; ++i) {
    const fb::XSQLVAR& v = in_.Var(i);
    Value& p = params_[i];
    p.type = static_cast<int16_t>(v.sqltype & ~1);
    p.scale = v.sqlscale;
    p.subtype = v.sqlsubtype;
    p.length = v.sqllen;
    SetNull(i);
  }
}

void TqnFbStatement::BindOutput() {
  int count = out_.Get()->sqld;
  fields_.assign(count, Value{});
  for (int i = 0; i < count; ++i) {
    fb::XSQLVAR& v = out_.Var(i);
    Value& f = fields_[i];
    f.type = static_cast<int16_t>(v.sqltype & ~1);
    f.scale = v.sqlscale;
    f.subtype = v.sqlsubtype;
    f.length = v.sqllen;
    f.data.assign(std::max<size_t>(BufferSize(f.type, v.sqllen), 1), 0);
    v.sqldata = f.data.data();
    v.sqlind = &f.indicator;
  }
}

// ---- parameters ------------------------------------------------------------

int TqnFbStatement::CheckParam(int index) const {
  CheckPrepared();
  if (index < 0 || index >= ParamCount()) throw Exception(Format("Parameter index %d out of range", index));
  return index;
}

const std::string& TqnFbStatement::ParamName(int index) const { return paramNames_[CheckParam(index)]; }

int TqnFbStatement::ParamIndex(const std::string& name) const {
  for (int i = 0; i < static_cast<int>(paramNames_.size()); ++i)
    if (!paramNames_[i].empty() && CompareTextNoCase(paramNames_[i], name) == 0) return i;
  return -1;
}

std::vector<int> TqnFbStatement::Positions(const std::string& name) const {
  CheckPrepared();
  std::vector<int> positions;
  for (int i = 0; i < static_cast<int>(paramNames_.size()); ++i)
    if (!paramNames_[i].empty() && CompareTextNoCase(paramNames_[i], name) == 0) positions.push_back(i);
  if (positions.empty()) throw Exception(Format("Parameter \"%s\" not found", name.c_str()));
  return positions;
}

int TqnFbStatement::ParamSqlType(int index) const { return params_[CheckParam(index)].type; }
int TqnFbStatement::ParamScale(int index) const { return params_[CheckParam(index)].scale; }
int TqnFbStatement::ParamSubType(int index) const { return params_[CheckParam(index)].subtype; }
int TqnFbStatement::ParamLength(int index) const { return params_[CheckParam(index)].length; }

void TqnFbStatement::SetRaw(int index, int sqlType, int scale, const void* bytes, size_t size) {
  Value& p = params_[CheckParam(index)];
  fb::XSQLVAR& v = in_.Var(index);
  const char* b = static_cast<const char*>(bytes);
  p.data.assign(b, b + size);
  if (p.data.empty()) p.data.push_back(0);  // the area needs an address even for an empty text
  v.sqltype = static_cast<fb::ISC_SHORT>(sqlType | 1);
  v.sqlscale = static_cast<fb::ISC_SHORT>(scale);
  v.sqllen = static_cast<fb::ISC_SHORT>(size);
  // Text keeps the character set of a text parameter; other conversions go from plain bytes.
  bool keepSubtype = sqlType == p.type || (IsTextType(sqlType) && IsTextType(p.type));
  v.sqlsubtype = keepSubtype ? p.subtype : 0;
  v.sqldata = p.data.data();
  v.sqlind = &p.indicator;
  p.indicator = 0;
}

void TqnFbStatement::SetString(int index, const std::string& value) {
  if (ParamSqlType(index) == fb::SQL_BLOB) return WriteBlob(index, value);
  if (value.size() > 32767)
    throw Exception(Format("Text of %zu bytes is too long for parameter %d", value.size(), index));
  SetRaw(index, fb::SQL_TEXT, 0, value.data(), value.size());
}

void TqnFbStatement::SetInteger(int index, int32_t value) { SetRaw(index, fb::SQL_LONG, 0, &value, sizeof value); }
void TqnFbStatement::SetInt64(int index, int64_t value) { SetRaw(index, fb::SQL_INT64, 0, &value, sizeof value); }
void TqnFbStatement::SetDouble(int index, double value) { SetRaw(index, fb::SQL_DOUBLE, 0, &value, sizeof value); }
void TqnFbStatement::SetScaledInt64(int index, int64_t value, int scale) {
  SetRaw(index, fb::SQL_INT64, scale, &value, sizeof value);
}

TqnFbParamValue TqnFbStatement::ParamValue(int index) const {
  const Value& p = params_[CheckParam(index)];
  const fb::XSQLVAR& v = in_.Var(index);
  TqnFbParamValue value;
  value.null = p.indicator < 0;
  if (value.null) return value;
  value.type = static_cast<int16_t>(v.sqltype & ~1);
  value.scale = v.sqlscale;
  value.data.assign(p.data.data(), static_cast<size_t>(v.sqllen));
  return value;
}

void TqnFbStatement::SetParamValue(int index, const TqnFbParamValue& value) {
  if (value.null) return SetNull(index);
  SetRaw(index, value.type, value.scale, value.data.data(), value.data.size());
}

void TqnFbStatement::SetDate(int index, int year, int month, int day) {
  fb::ISC_DATE date = EncodeIscDate(year, month, day);
  SetRaw(index, fb::SQL_TYPE_DATE, 0, &date, sizeof date);
}

void TqnFbStatement::SetTime(int index, int hour, int minute, int second, int tenThousandths) {
  fb::ISC_TIME time = EncodeIscTime(hour, minute, second, tenThousandths);
  SetRaw(index, fb::SQL_TYPE_TIME, 0, &time, sizeof time);
}

void TqnFbStatement::SetTimestamp(int index, int year, int month, int day, int hour, int minute, int second,
                                  int tenThousandths) {
  fb::ISC_TIMESTAMP stamp{EncodeIscDate(year, month, day), EncodeIscTime(hour, minute, second, tenThousandths)};
  SetRaw(index, fb::SQL_TIMESTAMP, 0, &stamp, sizeof stamp);
}

void TqnFbStatement::SetNull(int index) {
  Value& p = params_[CheckParam(index)];
  fb::XSQLVAR& v = in_.Var(index);
  p.data.assign(std::max<size_t>(BufferSize(p.type, p.length), 1), 0);
  v.sqltype = static_cast<fb::ISC_SHORT>(p.type | 1);
  v.sqlscale = p.scale;
  v.sqlsubtype = p.subtype;
  v.sqllen = p.length;
  v.sqldata = p.data.data();
  v.sqlind = &p.indicator;
  p.indicator = -1;
}

void TqnFbStatement::SetString(const std::string& name, const std::string& value) {
  for (int i : Positions(name)) SetString(i, value);
}
void TqnFbStatement::SetInteger(const std::string& name, int32_t value) {
  for (int i : Positions(name)) SetInteger(i, value);
}
void TqnFbStatement::SetInt64(const std::string& name, int64_t value) {
  for (int i : Positions(name)) SetInt64(i, value);
}
void TqnFbStatement::SetDouble(const std::string& name, double value) {
  for (int i : Positions(name)) SetDouble(i, value);
}
void TqnFbStatement::SetNull(const std::string& name) {
  for (int i : Positions(name)) SetNull(i);
}

void TqnFbStatement::ClearParams() {
  for (int i = 0; i < ParamCount(); ++i) SetNull(i);
}

void TqnFbStatement::WriteBlob(int index, const std::string& value) {
  const fb::TqnFbApi& api = client_->Api();
  transaction_.EnsureStarted();
  fb::ISC_STATUS_ARRAY status = {};
  fb::isc_blob_handle blob = 0;
  fb::ISC_QUAD id{};
  api.isc_create_blob2(status, connection_.Handle(), transaction_.Handle(), &blob, &id, 0, nullptr);
  CheckStatus(api, status);
  for (size_t done = 0; done < value.size();) {
    size_t part = std::min<size_t>(value.size() - done, fb::kBlobSegmentMax);
    api.isc_put_segment(status, &blob, static_cast<unsigned short>(part), value.data() + done);
    if (StatusFailed(status)) {
      fb::ISC_STATUS_ARRAY ignored = {};
      api.isc_cancel_blob(ignored, &blob);
      CheckStatus(api, status);
    }
    done += part;
  }
  api.isc_close_blob(status, &blob);
  CheckStatus(api, status);
  SetRaw(index, fb::SQL_BLOB, 0, &id, sizeof id);
}

std::string TqnFbStatement::ReadBlob(const fb::ISC_QUAD& id) {
  const fb::TqnFbApi& api = client_->Api();
  fb::ISC_STATUS_ARRAY status = {};
  fb::isc_blob_handle blob = 0;
  fb::ISC_QUAD blobId = id;
  api.isc_open_blob2(status, connection_.Handle(), transaction_.Handle(), &blob, &blobId, 0, nullptr);
  CheckStatus(api, status);
  std::string content;
  std::vector<char> buffer(fb::kBlobSegmentMax);
  for (;;) {
    unsigned short got = 0;
    api.isc_get_segment(status, &blob, &got, static_cast<unsigned short>(buffer.size()), buffer.data());
    long code = FirstErrorCode(status);
    if (code == 0 || code == fb::isc_segment) {  // a whole segment, or the part that fitted
      content.append(buffer.data(), got);
      continue;
    }
    if (code == fb::isc_segstr_eof) break;
    fb::ISC_STATUS_ARRAY ignored = {};
    api.isc_close_blob(ignored, &blob);
    CheckStatus(api, status);
  }
  api.isc_close_blob(status, &blob);
  CheckStatus(api, status);
  return content;
}

// ---- execution ---------------------------------------------------------------

void TqnFbStatement::Execute() {
  CheckPrepared();
  Close();
  singletonPending_ = false;
  transaction_.EnsureStarted();
  const fb::TqnFbApi& api = client_->Api();
  fb::ISC_STATUS_ARRAY status = {};
  const fb::XSQLDA* in = ParamCount() > 0 ? in_.Get() : nullptr;
  if (statementType_ == fb::isc_info_sql_stmt_select || statementType_ == fb::isc_info_sql_stmt_select_for_upd) {
    api.isc_dsql_execute(status, transaction_.Handle(), &handle_, fb::kSqldaVersion1, in);
    CheckStatus(api, status);
    cursorOpen_ = true;
  } else if (statementType_ == fb::isc_info_sql_stmt_exec_procedure && FieldCount() > 0) {
    api.isc_dsql_execute2(status, transaction_.Handle(), &handle_, fb::kSqldaVersion1, in, out_.Get());
    CheckStatus(api, status);
    singletonPending_ = true;
  } else {
    api.isc_dsql_execute(status, transaction_.Handle(), &handle_, fb::kSqldaVersion1, in);
    CheckStatus(api, status);
  }
}

void TqnFbStatement::Execute(const std::string& sql) {
  Prepare(sql);
  Execute();
}

bool TqnFbStatement::Fetch() {
  if (singletonPending_) {
    singletonPending_ = false;
    rowValid_ = true;
    return true;
  }
  rowValid_ = false;
  if (!cursorOpen_) return false;
  CheckPrepared();
  const fb::TqnFbApi& api = client_->Api();
  fb::ISC_STATUS_ARRAY status = {};
  fb::ISC_STATUS rc = api.isc_dsql_fetch(status, &handle_, fb::kSqldaVersion1, out_.Get());
  if (rc == 100) {
    Close();
    return false;
  }
  CheckStatus(api, status);
  rowValid_ = true;
  return true;
}

void TqnFbStatement::Close() {
  rowValid_ = false;
  if (!cursorOpen_) return;
  cursorOpen_ = false;
  if (!connection_.Attached() || connection_.AttachmentSerial() != attachmentSerial_) return;
  fb::ISC_STATUS_ARRAY status = {};
  client_->Api().isc_dsql_free_statement(status, &handle_, fb::DSQL_close);
}

// ---- fields --------------------------------------------------------------------

int TqnFbStatement::CheckField(int index) const {
  if (index < 0 || index >= FieldCount()) throw Exception(Format("Field index %d out of range", index));
  if (!rowValid_) throw Exception("No current row");
  return index;
}

std::string TqnFbStatement::FieldName(int index) const {
  if (index < 0 || index >= FieldCount()) throw Exception(Format("Field index %d out of range", index));
  const fb::XSQLVAR& v = out_.Var(index);
  return std::string(v.aliasname, std::clamp<int>(v.aliasname_length, 0, sizeof v.aliasname));
}

int TqnFbStatement::FieldIndex(const std::string& name) const {
  for (int i = 0; i < FieldCount(); ++i)
    if (FieldName(i) == name) return i;
  for (int i = 0; i < FieldCount(); ++i)
    if (CompareTextNoCase(FieldName(i), name) == 0) return i;
  return -1;
}

int TqnFbStatement::FieldByName(const std::string& name) const {
  int index = FieldIndex(name);
  if (index < 0) throw Exception(Format("Field \"%s\" not found", name.c_str()));
  return index;
}

bool TqnFbStatement::IsNull(int index) const {
  const fb::XSQLVAR& v = out_.Var(CheckField(index));
  return (v.sqltype & 1) && fields_[index].indicator < 0;
}

int64_t TqnFbStatement::ScaledInt64(int index, int& scale) const {
  const Value& f = fields_[index];
  scale = f.scale;
  switch (f.type) {
    case fb::SQL_SHORT: return Read<int16_t>(f.data);
    case fb::SQL_LONG: return Read<int32_t>(f.data);
    default: return Read<int64_t>(f.data);
  }
}

std::string TqnFbStatement::TextOf(int index) const {
  const Value& f = fields_[index];
  if (f.type == fb::SQL_TEXT) return std::string(f.data.data(), f.length);
  uint16_t length = Read<uint16_t>(f.data);
  return std::string(f.data.data() + 2, std::min<size_t>(length, f.length));
}

std::string TqnFbStatement::AsString(int index) {
  if (IsNull(index)) return {};
  const Value& f = fields_[index];
  int scale = 0;
  switch (f.type) {
    case fb::SQL_TEXT:
    case fb::SQL_VARYING: return TextOf(index);
    case fb::SQL_SHORT:
    case fb::SQL_LONG:
    case fb::SQL_INT64: {
      int64_t value = ScaledInt64(index, scale);
      return ScaledIntegerText(value, scale);
    }
    // "%g" would follow the process locale's decimal separator.
    case fb::SQL_FLOAT: return DoubleText(static_cast<double>(Read<float>(f.data)), 7);
    case fb::SQL_DOUBLE:
    case fb::SQL_D_FLOAT: return DoubleText(Read<double>(f.data), 15);
    case fb::SQL_TYPE_DATE: return FormatIscDate(Read<fb::ISC_DATE>(f.data));
    case fb::SQL_TYPE_TIME: return FormatIscTime(Read<fb::ISC_TIME>(f.data));
    case fb::SQL_TIMESTAMP: return FormatIscTimestamp(Read<fb::ISC_TIMESTAMP>(f.data));
    case fb::SQL_BOOLEAN: return f.data[0] ? "TRUE" : "FALSE";
    case fb::SQL_BLOB: return ReadBlob(Read<fb::ISC_QUAD>(f.data));
    default: throw Exception(Format("Field \"%s\" has the unsupported type %d", FieldName(index).c_str(), f.type));
  }
}

int64_t TqnFbStatement::AsInt64(int index) const {
  if (IsNull(index)) return 0;
  const Value& f = fields_[index];
  switch (f.type) {
    case fb::SQL_SHORT:
    case fb::SQL_LONG:
    case fb::SQL_INT64: {
      int scale = 0;
      int64_t value = ScaledInt64(index, scale);
      return scale < 0 ? value / PowerOf10(-scale) : value * PowerOf10(scale);
    }
    case fb::SQL_FLOAT: return static_cast<int64_t>(Read<float>(f.data));
    case fb::SQL_DOUBLE:
    case fb::SQL_D_FLOAT: return static_cast<int64_t>(Read<double>(f.data));
    case fb::SQL_BOOLEAN: return f.data[0] ? 1 : 0;
    case fb::SQL_TEXT:
    case fb::SQL_VARYING: {
      std::string text = TextOf(index);
      int64_t value = 0;
      if (ParseInt64(text, value)) return value;
      throw Exception(Format("Field \"%s\" value \"%s\" is not an integer", FieldName(index).c_str(), text.c_str()));
    }
    default: throw Exception(Format("Field \"%s\" cannot be read as an integer", FieldName(index).c_str()));
  }
}

int32_t TqnFbStatement::AsInteger(int index) const { return static_cast<int32_t>(AsInt64(index)); }

double TqnFbStatement::AsDouble(int index) const {
  if (IsNull(index)) return 0;
  const Value& f = fields_[index];
  switch (f.type) {
    case fb::SQL_SHORT:
    case fb::SQL_LONG:
    case fb::SQL_INT64: {
      int scale = 0;
      double value = static_cast<double>(ScaledInt64(index, scale));
      return scale < 0 ? value / static_cast<double>(PowerOf10(-scale)) : value * static_cast<double>(PowerOf10(scale));
    }
    case fb::SQL_FLOAT: return Read<float>(f.data);
    case fb::SQL_DOUBLE:
    case fb::SQL_D_FLOAT: return Read<double>(f.data);
    case fb::SQL_TEXT:
    case fb::SQL_VARYING: {
      std::string text = TextOf(index);
      double value = 0;
      if (ParseDouble(text, value)) return value;
      throw Exception(Format("Field \"%s\" value \"%s\" is not a number", FieldName(index).c_str(), text.c_str()));
    }
    default: throw Exception(Format("Field \"%s\" cannot be read as a number", FieldName(index).c_str()));
  }
}

bool TqnFbStatement::IsNull(const std::string& name) const { return IsNull(FieldByName(name)); }
std::string TqnFbStatement::AsString(const std::string& name) { return AsString(FieldByName(name)); }
int32_t TqnFbStatement::AsInteger(const std::string& name) const { return AsInteger(FieldByName(name)); }
int64_t TqnFbStatement::AsInt64(const std::string& name) const { return AsInt64(FieldByName(name)); }
double TqnFbStatement::AsDouble(const std::string& name) const { return AsDouble(FieldByName(name)); }

}  // namespace qn
