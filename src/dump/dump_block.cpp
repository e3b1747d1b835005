#include "dump/dump_block.h"

#include <algorithm>

#include "base/text.h"
#include "firebird/fb_api.h"
#include "firebird/fb_statement.h"

namespace qn {

namespace {

// Firebird 3.0 takes statements far longer than the 64 KB of earlier
// servers; one that refuses a block gets smaller ones (TqnDumpBatch).
constexpr size_t kTextBudget = 256000;
constexpr size_t kBlrBudget = 256000;
constexpr int kMaxContexts = 255;

// What one parameter adds to the compiled request: its message field and
// null flag, the variable it is copied into, and its use in the insert; a
// packed value, the substring with its two numbers and the cast.
constexpr size_t kBlrPerParam = 40;
constexpr size_t kBlrPerPacked = 32;
constexpr size_t kBlrPerStatement = 24;

// Fewer values than this gain less from sharing a parameter than the
// server spends taking them apart again.
constexpr size_t kMinPacked = 4;

bool Packed(const TqnDumpBlockShape& shape, size_t p) { return p < shape.rowSlot.size() && shape.rowSlot[p] < 0; }

const char* const kRegisterColumns =
    "\"tObject\"(\"UID\", \"fAge\", \"fCreated\", \"fChanged\", \"fTable\", \"fState\", \"fLazy\")";

std::string ParamName(int row, size_t position) { return "a" + std::to_string(row) + "_" + std::to_string(position); }
std::string PackedName(int row) { return "k" + std::to_string(row); }

// The block's expression for a row's value of that parameter.
std::string ValueOf(const TqnDumpBlockShape& shape, int row, size_t position) {
  if (Packed(shape, position)) return UnpackExpression(shape.packed[position], ":" + PackedName(row));
  return ":" + ParamName(row, position);
}

// The declarations of one row's parameters, in message order.
std::vector<TqnBlockParam> RowParams(const TqnDumpBlockShape& shape) {
  std::vector<TqnBlockParam> row;
  if (shape.packedWidth > 0)
    row.push_back(BlockParam(fb::SQL_TEXT, shape.packedWidth,
                             "CHAR(" + std::to_string(shape.packedWidth) + ") CHARACTER SET " + shape.packedCharset));
  for (size_t p = 0; p < shape.params.size(); ++p)
    if (!Packed(shape, p)) row.push_back(shape.params[p]);
  return row;
}

size_t RowBlr(const TqnDumpBlockShape& shape, bool replacing) {
  size_t blr = kBlrPerStatement + shape.table.size() + shape.columns.size();
  for (size_t p = 0; p < shape.params.size(); ++p) blr += Packed(shape, p) ? kBlrPerPacked : kBlrPerParam;
  if (shape.packedWidth > 0) blr += kBlrPerParam;
  if (shape.managed) blr += kBlrPerStatement + 80 + shape.loadTime.size();
  if (replacing) blr += 3 * kBlrPerStatement + 40 + shape.table.size();
  return blr;
}

// What a block runs for one row, the row's values given by position.
template <typename ValueAt>
std::string RowStatements(const TqnDumpBlockShape& shape, bool replacing, ValueAt valueAt) {
  const std::string table = QuotedIdentifier("t" + shape.table);
  const std::string id = valueAt(0);
  std::string sql;
  if (replacing)
    sql += "if (" + id + " starting with '070000') then begin delete from " + table + " where \"fObject\" = " + id +
           "; delete from \"tObject\" where \"UID\" = " + id + "; end\n";
  sql += "insert into " + table + " (" + shape.columns + ") values (";
  for (size_t p = 0; p < shape.params.size(); ++p) sql += (p ? ", " : "") + valueAt(p);
  sql += ");\n";
  if (shape.managed)
    sql += std::string("insert into ") + kRegisterColumns + " values (" + id + ", 0, 0, :lt, :tb, 'E', 0);\n";
  return sql;
}

}  // namespace

TqnCharsetMap ReadCharsets(TqnFbConnection& connection, TqnFbTransaction& transaction) {
  TqnCharsetMap charsets;
  TqnFbStatement query(connection, transaction);
  query.Execute("select rdb$character_set_id, rdb$character_set_name, rdb$bytes_per_character from rdb$character_sets");
  while (query.Fetch())
    charsets[query.AsInteger(0)] = TqnCharset{TrimControl(query.AsString(1)), std::max(1, query.AsInteger(2))};
  return charsets;
}

std::string QuotedIdentifier(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string DeclaredParamType(int type, int scale, int subtype, int length, const TqnCharsetMap& charsets) {
  auto numeric = [scale](const char* integer, int precision) {
    return scale < 0 ? "NUMERIC(" + std::to_string(precision) + "," + std::to_string(-scale) + ")"
                     : std::string(integer);
  };
  switch (type) {
    case fb::SQL_TEXT:
    case fb::SQL_VARYING: {
      auto charset = charsets.find(subtype & 0xFF);
      if (charset == charsets.end() || length <= 0) return {};
      int chars = length / charset->second.bytesPerChar;
      return std::string(type == fb::SQL_TEXT ? "CHAR(" : "VARCHAR(") + std::to_string(chars) + ") CHARACTER SET " +
             charset->second.name;
    }
    case fb::SQL_SHORT: return numeric("SMALLINT", 4);
    case fb::SQL_LONG: return numeric("INTEGER", 9);
    case fb::SQL_INT64: return numeric("BIGINT", 18);
    case fb::SQL_FLOAT: return "FLOAT";
    case fb::SQL_DOUBLE:
    case fb::SQL_D_FLOAT: return "DOUBLE PRECISION";
    case fb::SQL_TYPE_DATE: return "DATE";
    case fb::SQL_TYPE_TIME: return "TIME";
    case fb::SQL_TIMESTAMP: return "TIMESTAMP";
    default: return {};
  }
}

TqnBlockParam BlockParam(int type, int length, std::string sqlType) {
  TqnBlockParam param{std::move(sqlType), 0, 1};
  switch (type) {
    case fb::SQL_TEXT: param.bytes = static_cast<size_t>(length); break;
    case fb::SQL_VARYING: param.bytes = static_cast<size_t>(length) + 2, param.align = 2; break;
    case fb::SQL_SHORT: param.bytes = param.align = 2; break;
    case fb::SQL_LONG:
    case fb::SQL_FLOAT:
    case fb::SQL_TYPE_DATE:
    case fb::SQL_TYPE_TIME: param.bytes = param.align = 4; break;
    case fb::SQL_TIMESTAMP: param.bytes = 8, param.align = 4; break;
    default: param.bytes = param.align = 8; break;
  }
  param.bytes += 2;  // the null flag
  return param;
}

void LayOutRow(TqnDumpBlockShape& shape) {
  shape.packed.resize(shape.params.size());
  size_t packing = 0;
  for (const TqnPackedField& field : shape.packed) packing += field.kind != TqnPackKind::None ? 1 : 0;
  shape.packedWidth = 0;
  shape.rowSlot.assign(shape.params.size(), 0);
  int slot = packing >= kMinPacked ? 1 : 0;
  for (size_t p = 0; p < shape.params.size(); ++p) {
    TqnPackedField& field = shape.packed[p];
    if (packing >= kMinPacked && field.kind != TqnPackKind::None && shape.packedWidth + field.Span() <= kLongestText) {
      field.offset = shape.packedWidth;
      shape.packedWidth += field.Span();
      shape.rowSlot[p] = -1;
    } else {
      field.kind = TqnPackKind::None;
      shape.rowSlot[p] = slot++;
    }
  }
}

int RowParamCount(const TqnDumpBlockShape& shape) {
  if (shape.rowSlot.empty()) return static_cast<int>(shape.params.size());
  int count = shape.packedWidth > 0 ? 1 : 0;
  for (int slot : shape.rowSlot) count += slot >= 0 ? 1 : 0;
  return count;
}

std::string DumpBlockSql(const TqnDumpBlockShape& shape, int rows, bool replacing) {
  std::string sql = "execute block (";
  bool first = true;
  auto declare = [&](const std::string& name, const std::string& type) {
    sql += (first ? "" : ", ") + name + " " + type + " = ?";
    first = false;
  };
  if (shape.managed) declare("tb", shape.tableParamType);
  const std::vector<TqnBlockParam> rowParams = RowParams(shape);
  for (int r = 0; r < rows; ++r) {
    size_t next = 0;
    if (shape.packedWidth > 0) declare(PackedName(r), rowParams[next++].sqlType);
    for (size_t p = 0; p < shape.params.size(); ++p)
      if (!Packed(shape, p)) declare(ParamName(r, p), rowParams[next++].sqlType);
  }
  sql += ") as\n";
  // The load time is read from its text once per block rather than per row.
  if (shape.managed) sql += "declare variable lt timestamp = '" + shape.loadTime + "';\n";
  sql += "begin\n";
  for (int r = 0; r < rows; ++r) sql += RowStatements(shape, replacing, [&](size_t p) { return ValueOf(shape, r, p); });
  return sql + "end";
}

TqnLoopLayout DumpLoopLayout(const TqnDumpBlockShape& shape, bool replacing, int maxRows) {
  TqnLoopLayout layout;
  const int width = shape.packedWidth;
  if (width <= 0 || std::any_of(shape.rowSlot.begin(), shape.rowSlot.end(), [](int slot) { return slot >= 0; }))
    return layout;
  // Each text takes its length and null flag, its count and null flag.
  constexpr size_t kPerText = 2 + 2 + 4 + 2 + 2;
  const size_t fixed = shape.managed ? 256 : 0;
  const int contexts = 1 + (shape.managed ? 1 : 0) + (replacing ? 2 : 0);
  const long perText = kLongestText / width;
  long rows = std::min<long>(maxRows, static_cast<long>((kBlockMessageBudget - fixed) / static_cast<size_t>(width)));
  const long texts = std::min<long>((rows + perText - 1) / perText, kMaxContexts / contexts);
  rows = std::min(rows, texts * perText);
  // Room for the texts' own fields.
  while (rows > 0 &&
         static_cast<size_t>(rows * width + texts * static_cast<long>(kPerText)) + fixed > kBlockMessageBudget)
    --rows;
  if (texts <= 0 || rows <= 0) return layout;
  layout.texts = static_cast<int>(texts);
  layout.rowsPerText = static_cast<int>(rows / texts);
  if (layout.Capacity() < 2) layout = TqnLoopLayout{};
  return layout;
}

std::string DumpLoopSql(const TqnDumpBlockShape& shape, const TqnLoopLayout& layout, bool replacing) {
  const std::string width = std::to_string(shape.packedWidth);
  const std::string text =
      "VARCHAR(" + std::to_string(layout.rowsPerText * shape.packedWidth) + ") CHARACTER SET " + shape.packedCharset;
  std::string sql = "execute block (";
  if (shape.managed) sql += "tb " + shape.tableParamType + " = ?, ";
  for (int t = 0; t < layout.texts; ++t)
    sql += (t ? ", n" : "n") + std::to_string(t) + " INTEGER = ?, " + PackedName(t) + " " + text + " = ?";
  sql += ") as\n";
  if (shape.managed) sql += "declare variable lt timestamp = '" + shape.loadTime + "';\n";
  sql += "declare variable i integer;\ndeclare variable r char(" + width + ") character set " + shape.packedCharset +
         ";\nbegin\n";
  for (int t = 0; t < layout.texts; ++t) {
    sql += "i = 0;\nwhile (i < n" + std::to_string(t) + ") do begin\nr = substring(" + PackedName(t) + " from i * " +
           width + " + 1 for " + width + ");\n";
    sql += RowStatements(shape, replacing, [&](size_t p) { return UnpackExpression(shape.packed[p], ":r"); });
    sql += "i = i + 1;\nend\n";
  }
  return sql + "end";
}

int DumpBlockCapacity(const TqnDumpBlockShape& shape, bool replacing, int maxRows) {
  const int contexts = 1 + (shape.managed ? 1 : 0) + (replacing ? 2 : 0);
  int rows = std::min(maxRows, kMaxContexts / contexts);

  // The input message, laid out as the server lays it out.
  size_t row = 0;
  for (const TqnBlockParam& p : RowParams(shape)) row = (row + p.align - 1) / p.align * p.align + p.bytes;
  size_t fixed = shape.managed ? 256 : 0;
  if (row > 0) rows = std::min<int>(rows, static_cast<int>((kBlockMessageBudget - fixed) / (row + 8)));
  rows = std::min<int>(rows, static_cast<int>(kBlrBudget / RowBlr(shape, replacing)));

  while (rows > 1 && DumpBlockSql(shape, rows, replacing).size() > kTextBudget) rows = rows * 7 / 8;
  return std::max(rows, 1);
}

}  // namespace qn
