// The rows of one section of a data member on their way to the database:
// consecutive rows are gathered and sent in parameterised blocks
// (dump_block.h), each one round trip, in file order. The database ends as
// with one insert per row: the same rows, register entries and replaced
// rows, and the progress handler is called once per row, in order, as the
// rows are stored.
//
// A row goes alone, through the section insert and the register insert of
// the row-by-row load, when the section cannot be sent in blocks (a
// parameter type a block cannot declare, an identifier that is no text),
// when one of its blob values is longer than the inline limit, when one of
// its values cannot travel packed (dump_pack.h), or when a block is left
// with that one row. The rows around it go on in blocks as before.
//
// Blocks go to the server on a thread of the batch's own while the loader
// makes the next one, so that the program's work and the server's overlap;
// at most kBlocksOnTheirWay are on their way, the server taking the next as
// soon as it has stored the one before, and nothing else is sent on the
// connection meanwhile: Flush, EndSection and Discard return with none on
// its way. The progress handler is called for a block's rows once it is
// stored, in file order.
//
// When a block fails, the server has undone it (every statement is atomic)
// and the blocks behind it are not executed; their rows are then run again
// one by one, so that the failure is the one of the row-by-row load and
// names its row: before each row run alone, the row's values are put in
// the context the loader reports with a failure.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <tuple>
#include <string>
#include <utility>
#include <vector>

#include "dump/dump_block.h"
#include "dump/dump_loader.h"
#include "firebird/fb_statement.h"

namespace qn {

class TqnFbConnection;
class TqnFbTransaction;
class TqnBlockSender;

// Blocks on their way to the server at a time: one being executed and the
// next, which the server takes as soon as it is done with the one before.
inline constexpr size_t kBlocksOnTheirWay = 2;

// A row made ready: its values converted as their insert parameters take
// them. A blob parameter holds its text (SQL_TEXT); the blob is made only
// when the row goes alone.
struct TqnDumpRow {
  std::vector<std::string> values;      // as read, for the failure context
  std::vector<TqnFbParamValue> params;  // by insert parameter position
  std::string packed;                   // the values a block takes packed (dump_pack.h)
  std::string id;                       // the object identifier as loaded
  bool replacing = false;               // the identifier begins with "070000"
};

// The transaction a load stores its rows in: that of trnAuto, without the
// undo log a transaction otherwise keeps of every row it changes (a
// rollback still undoes them all, the server ignoring and then collecting
// the rows of a rolled back transaction), as a server restore loads.
std::string LoadTransactionParameters();

class TqnDumpBatch {
 public:
  // context: where the loader keeps the values of the row a failure names.
  TqnDumpBatch(TqnFbConnection& connection, TqnFbTransaction& transaction, const TqnLoadProgress& progress,
               std::string loadTime, const TqnDumpLoadOptions& options, std::vector<std::string>& context);
  ~TqnDumpBatch();

  // A new section: its prepared insert (which the loader converts values
  // with) and the insert's column list, the positions of blob parameters,
  // and whether it is managed. The previous section must have been ended.
  void StartSection(const std::string& table, TqnFbStatement& insert, std::string columns, std::vector<bool> blobs,
                    bool managed);
  // Takes the section's next row; may store it and rows before it. The
  // row's values are the context of a failure from here on.
  void Add(TqnDumpRow row);
  // Stores every row taken and not yet stored.
  void Flush();
  // Flush, then let go of the section's statements.
  void EndSection();
  // Lets go of everything without storing (after a failure).
  void Discard();

 private:
  TqnFbStatement& Register();
  void BuildShape();
  void PlanPacking();
  int BlockCapacity(bool replacing);
  void SetLoopParams(TqnFbStatement& block, const std::vector<TqnDumpRow>& rows, size_t first, int count,
                     const TqnLoopLayout& loop);
  bool Pack(TqnDumpRow& row);
  void PrepareDeletes();
  int Capacity(bool replacing) const { return replacing ? replacingCapacity_ : plainCapacity_; }
  void Run(std::vector<TqnDumpRow>& rows);
  // Stores the rows taken, the last block possibly still on its way.
  void Dispatch();
  // Waits for the blocks on their way: counts their rows stored, or runs
  // them again one by one from the one that failed.
  void Drain();
  // The same for the oldest block on its way.
  void TakeOldest();
  // Lets the blocks on their way go without storing the rows of those not
  // yet executed.
  void Abandon();
  void RunAlone(const TqnDumpRow& row);
  bool RunBlock(std::vector<TqnDumpRow>& rows, size_t first, int count, bool replacing);
  TqnFbStatement* BlockStatement(int count, bool replacing);
  bool FitsInline(const TqnDumpRow& row) const;

  TqnFbConnection& connection_;
  TqnFbTransaction& transaction_;
  const TqnLoadProgress& progress_;
  std::string loadTime_;
  int maxBlockRows_;
  TqnDumpLoadStats ownStats_;
  TqnDumpLoadStats& stats_;  // the caller's, or ownStats_
  std::vector<std::string>& context_;
  bool charsetsRead_ = false;
  TqnCharsetMap charsets_;

  std::string table_, columns_;
  TqnFbStatement* insert_ = nullptr;
  std::vector<bool> blobs_;
  bool managed_ = false;
  bool shaped_ = false;
  TqnDumpBlockShape shape_;
  std::vector<bool> marked_;                       // per insert parameter: packs with a NULL marker
  TqnLoopLayout loop_[2];                          // plain and replacing blocks; texts 0: rows written out
  bool loopFailed_ = false;                        // the server refused a loop block in this section
  int plainCapacity_ = 1, replacingCapacity_ = 0;  // 0: not yet known
  std::vector<TqnDumpRow> pending_;
  bool pendingReplacing_ = false;
  std::unique_ptr<TqnFbStatement> deleteRow_, deleteObject_, registerObject_;
  // Statements of each block size (rows, replacing, copy): as many copies
  // as blocks may be on their way, and one more being made.
  std::map<std::tuple<int, bool, int>, std::unique_ptr<TqnFbStatement>> blocks_;
  struct InFlight {
    TqnFbStatement* statement = nullptr;
    std::vector<TqnDumpRow> rows;
    bool packed = false, loop = false;
  };
  // Oldest first.
  std::deque<InFlight> inFlight_;
  std::unique_ptr<TqnBlockSender> sender_;
};

}  // namespace qn
