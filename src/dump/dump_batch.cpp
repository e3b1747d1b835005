#include "dump/dump_batch.h"

#include <algorithm>
#include <bit>
#include <iterator>

#include "base/error.h"
#include "dump/dump_params.h"
#include "dump/dump_sender.h"
#include "dump/dump_text.h"
#include "firebird/fb_api.h"
#include "firebird/fb_connection.h"

namespace qn {

namespace {

// A blob value up to this many bytes goes inside a block, unless the
// section's other parameters leave less room: blocks of a table with a blob
// should still hold this many rows.
constexpr int kInlineBlobRows = 64;
constexpr int kMinInlineBlob = 256;

bool IsText(int type) { return type == fb::SQL_TEXT || type == fb::SQL_VARYING; }

// Two text parameters that take an identifier the same way.
bool SameTextType(const TqnFbStatement& a, int i, const TqnFbStatement& b, int j) {
  return IsText(a.ParamSqlType(i)) && IsText(b.ParamSqlType(j)) &&
         (a.ParamSubType(i) & 0xFF) == (b.ParamSubType(j) & 0xFF);
}

}  // namespace

std::string LoadTransactionParameters() { return DefaultTransactionParameters() + fb::isc_tpb_no_auto_undo; }

TqnDumpBatch::TqnDumpBatch(TqnFbConnection& connection, TqnFbTransaction& transaction, const TqnLoadProgress& progress,
                           std::string loadTime, const TqnDumpLoadOptions& options, std::vector<std::string>& context)
    : connection_(connection),
      transaction_(transaction),
      progress_(progress),
      loadTime_(std::move(loadTime)),
      maxBlockRows_(options.maxBlockRows),
      stats_(options.stats ? *options.stats : ownStats_),
      context_(context) {}

TqnDumpBatch::~TqnDumpBatch() { Abandon(); }

void TqnDumpBatch::StartSection(const std::string& table, TqnFbStatement& insert, std::string columns,
                                std::vector<bool> blobs, bool managed) {
  Discard();
  table_ = table;
  columns_ = std::move(columns);
  insert_ = &insert;
  blobs_ = std::move(blobs);
  managed_ = managed;
}

// The blocks on their way are left to the transaction to undo; those not
// yet executed are not.
void TqnDumpBatch::Abandon() {
  if (inFlight_.empty()) return;
  sender_->SkipQueued();
  while (!inFlight_.empty()) {
    sender_->TakeOldest();
    inFlight_.pop_front();
  }
}

void TqnDumpBatch::Discard() {
  Abandon();
  pending_.clear();
  pendingReplacing_ = false;
  blocks_.clear();
  deleteRow_.reset();
  deleteObject_.reset();
  insert_ = nullptr;
  shaped_ = false;
  plainCapacity_ = 1;
  replacingCapacity_ = 0;
  marked_.clear();
  loop_[0] = loop_[1] = TqnLoopLayout{};
  loopFailed_ = false;
}

void TqnDumpBatch::EndSection() {
  Flush();
  Discard();
}

// The register insert and the deletes are prepared when a row first needs
// them, as the row-by-row load does, so that a failure to prepare them
// names the same row.
void TqnDumpBatch::PrepareDeletes() {
  Drain();
  if (!deleteRow_) {
    deleteRow_ = std::make_unique<TqnFbStatement>(connection_, transaction_);
    deleteRow_->Prepare("delete from " + QuotedIdentifier("t" + table_) + " where \"fObject\" = :aSpec");
  }
  if (!deleteObject_) {
    deleteObject_ = std::make_unique<TqnFbStatement>(connection_, transaction_);
    deleteObject_->Prepare("delete from \"tObject\" where \"UID\" = :aSpec");
  }
}

TqnFbStatement& TqnDumpBatch::Register() {
  if (!registerObject_) {
    Drain();
    registerObject_ = std::make_unique<TqnFbStatement>(connection_, transaction_);
    registerObject_->Prepare(
        "insert into \"tObject\"(\"UID\", \"fAge\", \"fCreated\", \"fChanged\", \"fTable\", \"fState\", "
        "\"fLazy\") values (:aUID, 0, 0, '" +
        loadTime_ + "', :aTable, 'E', 0)");
  }
  return *registerObject_;
}

void TqnDumpBatch::BuildShape() {
  shaped_ = true;
  plainCapacity_ = 1;
  if (maxBlockRows_ < 2 || insert_->ParamCount() == 0) return;
  if (managed_) Register();
  // The block passes the identifier on from the insert's parameter to the
  // register's: both must take a text the same way.
  if (!IsText(insert_->ParamSqlType(0))) return;
  if (!charsetsRead_) {
    charsets_ = ReadCharsets(connection_, transaction_);
    charsetsRead_ = true;
  }
  shape_ = TqnDumpBlockShape{};
  shape_.table = table_;
  shape_.managed = managed_;
  shape_.loadTime = loadTime_;
  if (managed_) {
    const TqnFbStatement& r = *registerObject_;  // prepared above
    int table = r.ParamIndex("aTable");
    if (!SameTextType(*insert_, 0, r, r.ParamIndex("aUID")) || !IsText(r.ParamSqlType(table))) return;
    shape_.tableParamType =
        DeclaredParamType(r.ParamSqlType(table), 0, r.ParamSubType(table), r.ParamLength(table), charsets_);
    if (shape_.tableParamType.empty()) return;
  }
  size_t otherBytes = 0;
  int blobCount = 0;
  for (int p = 0; p < insert_->ParamCount(); ++p) {
    if (blobs_[p]) {
      ++blobCount;
      continue;
    }
    int type = insert_->ParamSqlType(p);
    std::string declared =
        DeclaredParamType(type, insert_->ParamScale(p), insert_->ParamSubType(p), insert_->ParamLength(p), charsets_);
    if (declared.empty()) return;
    otherBytes += BlockParam(type, insert_->ParamLength(p), declared).bytes;
  }
  if (blobCount > 0) {
    long room = static_cast<long>(kBlockMessageBudget / kInlineBlobRows) - static_cast<long>(otherBytes);
    shape_.inlineBlobLimit = static_cast<int>(std::clamp<long>(room / blobCount - 8, kMinInlineBlob, kLongestText));
  }
  for (int p = 0; p < insert_->ParamCount(); ++p) {
    if (blobs_[p]) {
      // Text blobs take the text's bytes as they are, whatever the blob's
      // character set; other blobs take plain bytes.
      const char* charset = insert_->ParamSubType(p) == 1 ? "NONE" : "OCTETS";
      shape_.params.push_back(
          BlockParam(fb::SQL_VARYING, shape_.inlineBlobLimit,
                     "VARCHAR(" + std::to_string(shape_.inlineBlobLimit) + ") CHARACTER SET " + charset));
    } else {
      int type = insert_->ParamSqlType(p);
      shape_.params.push_back(BlockParam(type, insert_->ParamLength(p),
                                         DeclaredParamType(type, insert_->ParamScale(p), insert_->ParamSubType(p),
                                                           insert_->ParamLength(p), charsets_)));
    }
  }
  shape_.columns = columns_;
  PlanPacking();
  plainCapacity_ = BlockCapacity(false);
}

// Loop blocks when every value of a row packs, else rows written out.
int TqnDumpBatch::BlockCapacity(bool replacing) {
  TqnLoopLayout& loop = loop_[replacing ? 1 : 0];
  loop = loopFailed_ ? TqnLoopLayout{} : DumpLoopLayout(shape_, replacing, maxBlockRows_);
  return loop.texts > 0 ? loop.Capacity() : DumpBlockCapacity(shape_, replacing, maxBlockRows_);
}

// Every value that can travel packed does, with a NULL marker when its
// column has had a NULL in this section. Texts pack in the character set of
// the first text column that can: one of a byte a character whose padding
// is a blank.
void TqnDumpBatch::PlanPacking() {
  marked_.resize(shape_.params.size(), false);
  shape_.packed.assign(shape_.params.size(), TqnPackedField{});
  shape_.packedCharset.clear();
  for (size_t p = 0; p < shape_.params.size(); ++p) {
    if (blobs_[p]) continue;
    const int position = static_cast<int>(p);
    const int type = insert_->ParamSqlType(position);
    bool text = false;
    if (IsText(type)) {
      auto charset = charsets_.find(insert_->ParamSubType(position) & 0xFF);
      text = charset != charsets_.end() && charset->second.bytesPerChar == 1 && charset->second.name != "OCTETS" &&
             (shape_.packedCharset.empty() || shape_.packedCharset == charset->second.name);
      if (!text) continue;
      if (shape_.packedCharset.empty()) shape_.packedCharset = charset->second.name;
    }
    shape_.packed[p] = PackableField(type, insert_->ParamScale(position), insert_->ParamLength(position), text,
                                     shape_.params[p].sqlType);
    shape_.packed[p].marked = marked_[p];
  }
  if (shape_.packedCharset.empty()) shape_.packedCharset = "NONE";
  LayOutRow(shape_);
}

// The row's packed text; false when one of its values cannot travel
// packed, the row then going alone. The first NULL of a column gives the
// column its marker from this row on, the rows before it being sent as
// they were made.
bool TqnDumpBatch::Pack(TqnDumpRow& row) {
  for (;;) {
    if (shape_.packedWidth == 0) return true;
    row.packed.clear();
    row.packed.reserve(static_cast<size_t>(shape_.packedWidth));
    bool replan = false;
    for (size_t p = 0; p < shape_.packed.size(); ++p) {
      const TqnPackedField& field = shape_.packed[p];
      if (field.kind == TqnPackKind::None || PackValue(field, row.params[p], row.packed)) continue;
      if (!row.params[p].null || field.marked) return false;
      marked_[p] = replan = true;
    }
    if (!replan) return true;
    Flush();
    if (plainCapacity_ <= 1) return false;  // a failed block: the rest goes alone
    blocks_.clear();
    PlanPacking();
    plainCapacity_ = BlockCapacity(false);
    if (replacingCapacity_ > 1) replacingCapacity_ = BlockCapacity(true);
  }
}

bool TqnDumpBatch::FitsInline(const TqnDumpRow& row) const {
  for (size_t p = 0; p < blobs_.size(); ++p)
    if (blobs_[p] && row.params[p].data.size() > static_cast<size_t>(shape_.inlineBlobLimit)) return false;
  return true;
}

void TqnDumpBatch::Add(TqnDumpRow row) {
  try {
    if (!shaped_) BuildShape();
    if (row.replacing && replacingCapacity_ == 0) {
      PrepareDeletes();
      bool same = plainCapacity_ > 1 && SameTextType(*insert_, 0, *deleteObject_, 0);
      replacingCapacity_ = same ? BlockCapacity(true) : 1;
    }
  } catch (...) {
    context_ = std::move(row.values);
    throw;
  }
  if (Capacity(row.replacing) <= 1 || !FitsInline(row) || !Pack(row)) {
    Flush();
    RunAlone(row);
    return;
  }
  if (row.replacing && !pendingReplacing_ && pending_.size() >= static_cast<size_t>(replacingCapacity_)) Dispatch();
  pendingReplacing_ = pendingReplacing_ || row.replacing;
  pending_.push_back(std::move(row));
  if (pending_.size() >= static_cast<size_t>(Capacity(pendingReplacing_))) Dispatch();
}

void TqnDumpBatch::Flush() {
  Dispatch();
  Drain();
}

void TqnDumpBatch::Drain() {
  while (!inFlight_.empty()) TakeOldest();
}

void TqnDumpBatch::TakeOldest() {
  TqnBlockSender::Outcome outcome = sender_->TakeOldest();
  std::vector<TqnDumpRow> rows = std::move(inFlight_.front().rows);
  const bool packed = inFlight_.front().packed, loop = inFlight_.front().loop;
  inFlight_.pop_front();
  if (outcome.ran && !outcome.error) {
    ++stats_.blocks;
    stats_.blockRows += static_cast<long>(rows.size());
    if (packed) stats_.packedRows += static_cast<long>(rows.size());
    if (loop) stats_.loopRows += static_cast<long>(rows.size());
    if (progress_)
      for (size_t r = 0; r < rows.size(); ++r) progress_();
    return;
  }
  // Undone by the server; the blocks behind it were not executed. The rows
  // alone give the row-by-row failure.
  while (!inFlight_.empty()) {
    sender_->TakeOldest();
    std::move(inFlight_.front().rows.begin(), inFlight_.front().rows.end(), std::back_inserter(rows));
    inFlight_.pop_front();
  }
  ++stats_.replayedBlocks;
  // They go alone although their block failed: the rest of the section
  // goes alone too rather than trusting blocks again.
  plainCapacity_ = replacingCapacity_ = 1;
  for (const TqnDumpRow& row : rows) RunAlone(row);
}

void TqnDumpBatch::Dispatch() {
  // Taken out first: a failure must not leave the rows to be stored again.
  std::vector<TqnDumpRow> rows = std::move(pending_);
  pending_.clear();
  pendingReplacing_ = false;
  if (!rows.empty()) Run(rows);
}

// Blocks of the largest size the rows fill, then of the powers of two below,
// so that a section prepares few block sizes.
void TqnDumpBatch::Run(std::vector<TqnDumpRow>& rows) {
  size_t done = 0;
  while (done < rows.size()) {
    size_t left = rows.size() - done;
    auto replacingIn = [&](size_t count) {
      return std::any_of(rows.begin() + done, rows.begin() + done + count,
                         [](const TqnDumpRow& r) { return r.replacing; });
    };
    bool replacing = replacingIn(std::min<size_t>(left, plainCapacity_));
    int capacity = std::max(1, Capacity(replacing));
    // A loop block takes any number of rows; rows written out, a few sizes.
    int count = left >= static_cast<size_t>(capacity) ? capacity
                : loop_[replacing ? 1 : 0].texts > 0  ? static_cast<int>(left)
                                                      : static_cast<int>(std::bit_floor(left));
    replacing = replacingIn(count);
    if (count == 1) {
      RunAlone(rows[done]);
    } else if (!RunBlock(rows, done, count, replacing)) {
      continue;  // the block could not be prepared: its capacity was lowered
    }
    done += count;
  }
}

TqnFbStatement* TqnDumpBatch::BlockStatement(int count, bool replacing) {
  const TqnLoopLayout& loop = loop_[replacing ? 1 : 0];
  if (loop.texts > 0) count = 0;  // one loop statement takes every count
  // One of the statements of that size that is not on its way.
  int copy = 0;
  auto onItsWay = [this](const std::unique_ptr<TqnFbStatement>& statement) {
    return statement && std::any_of(inFlight_.begin(), inFlight_.end(),
                                    [&](const InFlight& f) { return f.statement == statement.get(); });
  };
  while (onItsWay(blocks_[{count, replacing, copy}])) ++copy;
  std::unique_ptr<TqnFbStatement>& block = blocks_[{count, replacing, copy}];
  if (block) return block.get();
  Drain();  // nothing else goes on the connection meanwhile
  block = std::make_unique<TqnFbStatement>(connection_, transaction_);
  block->SetParamCheck(false);  // ":a0_1" are the block's variables
  try {
    if (loop.texts > 0) {
      block->Prepare(DumpLoopSql(shape_, loop, replacing));
      if (block->ParamCount() == (managed_ ? 1 : 0) + 2 * loop.texts) return block.get();
    } else {
      block->Prepare(DumpBlockSql(shape_, count, replacing));
      if (block->ParamCount() == BlockParamBase(shape_, count)) return block.get();
    }
  } catch (const Exception&) {
    // A limit of the server the estimate missed: smaller blocks below, or
    // rows written out instead of a loop.
  }
  block.reset();
  int& capacity = replacing ? replacingCapacity_ : plainCapacity_;
  if (loop.texts > 0) {
    loopFailed_ = true;
    capacity = BlockCapacity(replacing);
  } else {
    capacity = std::max(1, std::min(capacity, count / 2));
  }
  return nullptr;
}

void TqnDumpBatch::SetLoopParams(TqnFbStatement& block, const std::vector<TqnDumpRow>& rows, size_t first, int count,
                                 const TqnLoopLayout& loop) {
  std::string text;
  for (int t = 0, done = 0; t < loop.texts; ++t) {
    const int take = std::clamp(count - done, 0, loop.rowsPerText);
    text.clear();
    text.reserve(static_cast<size_t>(take * shape_.packedWidth));
    for (int r = done; r < done + take; ++r) text += rows[first + static_cast<size_t>(r)].packed;
    const int base = (managed_ ? 1 : 0) + 2 * t;
    block.SetInteger(base, take);
    block.SetString(base + 1, text);
    done += take;
  }
}

bool TqnDumpBatch::RunBlock(std::vector<TqnDumpRow>& rows, size_t first, int count, bool replacing) {
  TqnFbStatement* block = BlockStatement(count, replacing);
  if (!block) return false;
  if (managed_) block->SetString(0, table_);
  const TqnLoopLayout& loop = loop_[replacing ? 1 : 0];
  if (loop.texts > 0) SetLoopParams(*block, rows, first, count, loop);
  for (int r = 0; r < count && loop.texts == 0; ++r) {
    const TqnDumpRow& row = rows[first + r];
    int base = BlockParamBase(shape_, r);
    if (shape_.packedWidth > 0) block->SetString(base, row.packed);
    for (size_t p = 0; p < row.params.size(); ++p)
      if (shape_.rowSlot[p] >= 0) block->SetParamValue(base + shape_.rowSlot[p], row.params[p]);
  }
  // This one goes behind the blocks on their way, once the oldest of them
  // is stored when there are as many as may be; the caller goes on.
  if (inFlight_.size() >= kBlocksOnTheirWay) TakeOldest();
  if (!sender_) sender_ = std::make_unique<TqnBlockSender>();
  InFlight& sent = inFlight_.emplace_back();
  sent.statement = block;
  sent.packed = shape_.packedWidth > 0;
  sent.loop = loop.texts > 0;
  sent.rows.assign(std::make_move_iterator(rows.begin() + static_cast<long>(first)),
                   std::make_move_iterator(rows.begin() + static_cast<long>(first) + count));
  sender_->Start(*block);
  return true;
}

void TqnDumpBatch::RunAlone(const TqnDumpRow& row) {
  Drain();
  context_ = row.values;
  for (size_t p = 0; p < row.params.size(); ++p) {
    if (blobs_[p])
      fbSetParamAsVarchar(*insert_, static_cast<int>(p), row.params[p].data);
    else
      insert_->SetParamValue(static_cast<int>(p), row.params[p]);
  }
  if (row.replacing) {
    PrepareDeletes();
    deleteRow_->SetString("aSpec", row.id);
    deleteRow_->Execute();
    deleteObject_->SetString("aSpec", row.id);
    deleteObject_->Execute();
  }
  insert_->Execute();
  if (managed_) {
    TqnFbStatement& registerObject = Register();
    registerObject.SetString("aUID", row.id);
    registerObject.SetString("aTable", table_);
    registerObject.Execute();
  }
  ++stats_.aloneRows;
  if (progress_) progress_();
}

}  // namespace qn
