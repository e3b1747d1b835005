// The parameterised blocks in which the data loader sends consecutive rows
// of one section to the server: one EXECUTE BLOCK that runs, for each of its
// rows in file order, what the row-by-row load runs for that row (the two
// deletes of a replacing identifier, the section insert, the register
// insert). One round trip then carries many rows.
//
// The block's input parameters are declared with the types the server
// describes for the section insert's parameters, so that every value goes
// through the same conversion as when it is set on the insert itself. Blob
// parameters are declared as texts of a bounded length (the inline limit):
// a value that fits is sent inside the block, the server making the blob.
//
// How many rows one block holds follows the server's limits (Firebird 3.0):
// 64 KB for the input message (so the row width counts) and at most 255
// relation contexts in one request, each insert or delete taking one; the
// statement text and the compiled request are kept to a few hundred KB.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "dump/dump_pack.h"

namespace qn {

class TqnFbConnection;
class TqnFbStatement;
class TqnFbTransaction;

// Character set id -> name and bytes per character.
struct TqnCharset {
  std::string name;
  int bytesPerChar = 1;
};
using TqnCharsetMap = std::map<int, TqnCharset>;
TqnCharsetMap ReadCharsets(TqnFbConnection& connection, TqnFbTransaction& transaction);

// One input parameter of a block row.
struct TqnBlockParam {
  std::string sqlType;  // its declaration, e.g. "VARCHAR(40) CHARACTER SET WIN1251"
  size_t bytes = 0;     // room in the input message, with its null flag
  size_t align = 1;
};

// What the blocks of one section are made of.
struct TqnDumpBlockShape {
  std::string table;                  // as in the section header (without "t")
  std::string columns;                // the section insert's column list
  std::vector<TqnBlockParam> params;  // one per insert parameter, in position order
  bool managed = false;               // a register insert per row
  std::string tableParamType;         // declaration of the register's table name
  std::string loadTime;               // "fChanged" of the register, as in its insert
  // Blob parameters are declared as texts of this many bytes at most.
  int inlineBlobLimit = 0;
  // Per insert parameter, where its value lies in the row's packed text
  // (dump_pack.h); empty, or all of kind None, when the rows pack nothing.
  // The kinds and widths are the caller's; LayOutRow places them.
  std::vector<TqnPackedField> packed;
  std::string packedCharset;  // of the packed text, that of its text columns
  // Set by LayOutRow: the packed parameter's bytes (0: none), and per
  // insert parameter its place among the row's block parameters (-1: packed).
  int packedWidth = 0;
  std::vector<int> rowSlot;
};

// Places the packed fields one after the other and numbers the row's block
// parameters: the packed text first when the row packs anything, then the
// parameters of their own in position order. Packing a single value gains
// nothing: then none is packed.
void LayOutRow(TqnDumpBlockShape& shape);
// The parameters of one block row.
int RowParamCount(const TqnDumpBlockShape& shape);

// The declaration of a parameter as the server describes it (SQL type
// without the NULL bit, scale, subtype, length), for a parameter of an
// EXECUTE BLOCK; "" for a type it cannot declare.
std::string DeclaredParamType(int type, int scale, int subtype, int length, const TqnCharsetMap& charsets);
// The message room of a parameter of that type.
TqnBlockParam BlockParam(int type, int length, std::string sqlType);

// The room of one input message, kept a little below the server's 64 KB.
inline constexpr size_t kBlockMessageBudget = 64000;
// The longest VARCHAR of one-byte characters.
inline constexpr int kLongestText = 32765;

// The block for rows rows. replacing adds the deletes, guarded by the
// identifier's prefix, before each row's insert. Parameters: the table name
// of the register first when the section is managed, then for each row its
// packed text, if any, and its insert's other parameters in position order.
std::string DumpBlockSql(const TqnDumpBlockShape& shape, int rows, bool replacing);
// Position of a row's first parameter in its block.
inline int BlockParamBase(const TqnDumpBlockShape& shape, int row) {
  return (shape.managed ? 1 : 0) + row * RowParamCount(shape);
}
// The most rows a block may hold within the server's limits, at most
// maxRows; 1 means no block (the rows go one by one).
int DumpBlockCapacity(const TqnDumpBlockShape& shape, bool replacing, int maxRows);

// When every value of a row packs, one statement takes any number of rows
// up to its capacity: the rows' packed texts laid end to end in a few long
// texts, each with its row count, and a loop per text that runs for each
// row what the block runs. Far more rows fit in a round trip than the 255
// relation contexts allow written out one by one, and one statement serves
// the whole section.
struct TqnLoopLayout {
  int texts = 0;  // 0: the rows do not all pack
  int rowsPerText = 0;
  int Capacity() const { return texts * rowsPerText; }
};
TqnLoopLayout DumpLoopLayout(const TqnDumpBlockShape& shape, bool replacing, int maxRows);
// Parameters: the register's table name when managed, then for each text
// its row count (INTEGER) and the text.
std::string DumpLoopSql(const TqnDumpBlockShape& shape, const TqnLoopLayout& layout, bool replacing);

// "\"" + name + "\"", each inner quote doubled: the name as a quoted identifier.
std::string QuotedIdentifier(const std::string& name);

}  // namespace qn
