#include "dump/dump_loader.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_set>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "dump/db_meta.h"
#include "dump/dump_batch.h"
#include "dump/dump_block.h"
#include "dump/dump_indexes.h"
#include "dump/dump_write_mode.h"
#include "dump/dump_params.h"
#include "dump/dump_reader.h"
#include "dump/dump_text.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_statement.h"
#include "sexpr/sexp_reader.h"

namespace qn {

void TqnProgressThrottle::operator()() {
  TimePoint now = now_();
  if (stepped_ && now - last_ < interval_) return;
  stepped_ = true;
  last_ = now;
  if (step_) step_();
}

namespace {

const char* const kIndexQuery =
    "SELECT RDB$INDICES.RDB$INDEX_NAME \"fName\" FROM RDB$INDICES WHERE (NOT (RDB$INDICES.RDB$INDEX_NAME STARTING "
    "WITH 'RDB$')) ORDER BY RDB$INDICES.RDB$RELATION_NAME";

std::string SetGeneratorSql(const std::string& generator, int64_t value) {
  const std::string quoted = QuotedIdentifier(generator);
  return "select gen_id(" + quoted + ", " + std::to_string(value) + " - gen_id(" + quoted + ", 0)) from rdb$database";
}

// One header field of the current section.
struct SectionField {
  std::string name;
  int position = -1;  // -1: the table does not know the field
  int maxLength = 0;  // 0: no limit
  bool reference = false;
  bool blob = false;
};

enum class SectionKind { None, Generators, Database, Unknown, Table };

// Whether ":a" + name reads back as a parameter of that name.
bool IsParamName(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
  });
}

// Rows held back while the keys are set aside take at most this many bytes;
// past it they are stored at once, each replacement then searching its
// table without an index.
constexpr size_t kHeldBytes = 8 << 20;

using PqnHeader = std::shared_ptr<const std::vector<std::string>>;

class TqnDumpLoader {
 public:
  TqnDumpLoader(TqnFbConnection& connection, const std::string& metaText, const TqnLoadProgress& progress,
                const Clock& clock, const TqnDumpLoadOptions& options)
      : connection_(connection),
        progress_(progress),
        transaction_(connection, LoadTransactionParameters()),
        deferIndexes_(options.deferIndexes) {
    document_ = ParseSExp(metaText);
    meta_.LoadFromTree(*document_);
    loadTime_ = FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", clock.Now()) + "0";
    batch_ = std::make_unique<TqnDumpBatch>(connection_, transaction_, progress_, loadTime_, options, values_);
  }

  void Load(const TqnDumpDataOpener& openData, bool disableTriggers) {
    // As a server restore does, pages are written without waiting for the
    // disk while the load runs; the flag is set again at the end.
    TqnWriteModeGuard writeMode(connection_);
    // And, as it does, the keys and indexes are built after the rows.
    TqnDeferredIndexes deferred;
    if (deferIndexes_) {
      deferred.SetAside(connection_);
      holding_ = true;
    }
    try {
      InLoadTransaction(disableTriggers, [&] { ReadData(openData); });
    } catch (...) {
      // The rows are undone: the keys come back on the tables as they were.
      try {
        deferred.Rebuild(connection_);
      } catch (const std::exception&) {
      }
      throw;
    }
    deferred.Rebuild(connection_);
    // The replacements held back, now that the keys find their rows.
    if (!held_.empty()) InLoadTransaction(disableTriggers, [&] { ReplayHeld(); });
    UpdateIndexStatistics();
    writeMode.Restore();
  }

 private:
  template <typename Body>
  void InLoadTransaction(bool disableTriggers, Body body) {
    transaction_.Start();
    try {
      if (disableTriggers) {
        TqnFbStatement disable(connection_, transaction_);
        disable.Execute("select rdb$set_context('USER_TRANSACTION', 'trigger.disabled', 1) from rdb$database");
        disable.Fetch();
      }
      body();
      FreeStatements();
      transaction_.Commit();
    } catch (const Exception& e) {
      RollBack();
      throw Exception(std::string(e.what()) + "\r\n" + DumpRowContext(table_, values_), e.StatusCode());
    } catch (...) {
      RollBack();
      throw;
    }
  }

  void ReadData(const TqnDumpDataOpener& openData) {
    if (holding_) ReadReplacingIds("tObject", "UID");
    std::unique_ptr<std::istream> data = openData();
    ReadAll(*data);
    batch_->EndSection();
    header_.reset();
    // The end of reading closes the data (an archive member tests its
    // check sum then): a damaged member fails here, before the commit.
    if (data->rdbuf() && data->rdbuf()->pubsync() != 0) throw Exception("error in closing in the unzipfile");
  }

  // The "070000" identifiers a table holds already (rows the schema script
  // inserted), which a replacing row of the dump must delete.
  void ReadReplacingIds(const std::string& relation, const std::string& column) {
    try {
      TqnFbStatement query(connection_, transaction_);
      query.Execute("select " + QuotedIdentifier(column) + " from " + QuotedIdentifier(relation) + " where " +
                    QuotedIdentifier(column) + " starting with '" + std::string(kReplacingObjectPrefix) + "'");
      while (query.Fetch()) replacingIds_.insert(TrimControl(query.AsString(0)));
    } catch (const Exception&) {
      // No register in this database: the rows of managed tables fail on it.
    }
  }

  // Stores the rows held back, in file order, each replacing the rows of
  // its identifier; the current section goes on afterwards.
  void ReplayHeld() {
    PqnHeader current = header_;
    std::vector<TqnHeldRow> rows = std::move(held_);
    held_.clear();
    heldBytes_ = 0;
    holding_ = false;
    batch_->EndSection();
    PqnHeader section;
    for (TqnHeldRow& row : rows) {
      if (row.header != section) StartSection(*(section = row.header));
      Row(std::move(row.values));
    }
    batch_->EndSection();
    if (current) StartSection(*current);
  }

  void RollBack() {
    FreeStatements();
    try {
      transaction_.Rollback();
    } catch (const std::exception&) {
      // the failure that brought us here is the one to report
    }
  }
  void FreeStatements() {
    batch_->Discard();
    insert_.reset();
    updateDoc_.reset();
  }

  void ReadAll(std::istream& data) {
    TqnDumpReader reader(data, meta_);
    TqnDumpItem item;
    while (reader.Next(item)) {
      switch (item.kind) {
        case TqnDumpItem::Kind::Header:
          header_ = std::make_shared<const std::vector<std::string>>(std::move(item.values));
          StartSection(*header_);
          break;
        case TqnDumpItem::Kind::Row: try { Row(std::move(item.values));
          } catch (...) {
            // The rows before this one are stored first, as one by one
            // they would have been: a failure among them is the one to
            // report, and the progress has counted them.
            std::vector<std::string> row = std::move(values_);
            batch_->Flush();
            values_ = std::move(row);
            throw;
          }
          break;
        case TqnDumpItem::Kind::Failure:
          // A value that does not decode, or the stream: after the rows before it.
          batch_->Flush();
          values_ = std::move(item.values);
          std::rethrow_exception(item.error);
      }
    }
  }

  void StartSection(const std::vector<std::string>& names) {
    batch_->Flush();
    batch_->EndSection();
    FreeStatements();
    values_.clear();
    table_ = names[0];
    fields_.clear();
    for (size_t i = 1; i < names.size(); ++i) fields_.push_back(SectionField{names[i]});
    unmanaged_ = sync_ = false;
    if (table_ == "Generators") {
      kind_ = SectionKind::Generators;
      return;
    }
    if (table_ == "Database") {
      kind_ = SectionKind::Database;
      return;
    }
    const TqnDbMeta_Table* table = meta_.GetTable(table_, false);
    if (!table) {
      kind_ = SectionKind::Unknown;
      return;
    }
    kind_ = SectionKind::Table;
    std::string columns = "\"fObject\"", params = ":aObject";
    int next = 1;
    for (size_t i = 0; i < fields_.size(); ++i) {
      SectionField& f = fields_[i];
      if (i == 0) {
        f.position = 0;
        f.reference = true;
        continue;
      }
      const TqnDbMeta_Field* field = table->GetField(f.name, false);
      if (!field) continue;
      f.position = next++;
      f.maxLength = meta_.ValueLength(field->TypeName());
      f.reference = meta_.IsObjectReference(field->TypeName());
      columns += ", " + QuotedIdentifier("f" + f.name);
      // By name where the name can be one; the values are set by position.
      params += IsParamName(f.name) ? ", :a" + f.name : std::string(", ?");
    }
    const std::string insertSql =
        "insert into " + QuotedIdentifier("t" + table_) + " (" + columns + ") values (" + params + ")";
    insert_ = std::make_unique<TqnFbStatement>(connection_, transaction_);
    insert_->Prepare(insertSql);
    std::vector<bool> blobs(next);
    for (SectionField& f : fields_)
      if (f.position >= 0) blobs[f.position] = f.blob = IsBlobParam(*insert_, f.position);
    unmanaged_ = IsUnmanaged(table_);
    sync_ = table_ == "SyncUserActions";
    if (holding_ && scanned_.insert(table_).second) ReadReplacingIds("t" + table_, "fObject");
    batch_->StartSection(table_, *insert_, columns, std::move(blobs), !unmanaged_);
  }

  // The table's list in the document has a "tags" list naming "unmanaged".
  bool IsUnmanaged(const std::string& table) {
    TqnStringTree* list = document_->ByKey("tables", true)->ByKey(table, false);
    TqnStringTree* tags = list ? list->ByKey("tags", false) : nullptr;
    if (!tags) return false;
    for (int i = 1; i < tags->Count(); ++i)
      if (tags->IsString(i) && tags->Str(i) == "unmanaged") return true;
    return false;
  }

  const std::string& RowValue(const std::string& field) {
    for (size_t i = 0; i < fields_.size(); ++i)
      if (fields_[i].name == field) return values_[i];
    throw Exception("field \"" + field + "\" not found (r)");
  }

  // values: decoded by the reader, one per header field; none for a section
  // whose rows are not loaded.
  void Row(std::vector<std::string> values) {
    values_ = std::move(values);
    if (kind_ != SectionKind::Generators && kind_ != SectionKind::Table) return;
    if (fields_.empty()) return;
    if (kind_ == SectionKind::Generators) return Generators();

    if (IsNullObject(values_[0])) {
      if (table_ == "Doc") {
        batch_->Flush();
        UpdateNullDoc();
      }
      return;
    }
    if (sync_) maxSyncVersion_ = std::max(maxSyncVersion_, DumpInt64(RowValue("Version")));

    TqnDumpRow row;
    row.params.resize(insert_->ParamCount());
    for (size_t i = 0; i < fields_.size(); ++i) {
      const SectionField& f = fields_[i];
      if (f.position < 0) continue;
      std::string value = PrepareDumpValue(values_[i], f.maxLength, f.blob);
      if (f.position == 0) row.id = value;
      if (f.blob) {
        // Made into a blob only if the row goes alone; a block takes the text.
        row.params[f.position] = TqnFbParamValue{false, fb::SQL_TEXT, 0, std::move(value)};
        continue;
      }
      fbSetParamAsVarchar(*insert_, f.position, value);
      row.params[f.position] = insert_->ParamValue(f.position);
    }
    row.replacing = row.id.rfind(kReplacingObjectPrefix, 0) == 0;
    if (row.replacing && holding_) {
      // While the keys are set aside, an identifier met for the first time
      // has nothing to replace; one met again waits for the keys.
      if (replacingIds_.insert(TrimControl(row.id)).second) {
        row.replacing = false;
      } else {
        for (const std::string& value : values_) heldBytes_ += value.size() + sizeof(std::string);
        held_.push_back(TqnHeldRow{header_, std::move(values_)});
        values_.clear();
        if (heldBytes_ > kHeldBytes) ReplayHeld();
        return;
      }
    }
    row.values = std::move(values_);  // the batch keeps them for the failure context
    batch_->Add(std::move(row));
  }

  void UpdateNullDoc() {
    const std::string &name = RowValue("Name"), &num = RowValue("Num"), &date = RowValue("Date");
    if (!updateDoc_) {
      updateDoc_ = std::make_unique<TqnFbStatement>(connection_, transaction_);
      updateDoc_->Prepare(
          "update \"tDoc\" set \"fName\" = :aName, \"fNum\" = :aNum, \"fDate\" = :aDate where \"fObject\" = "
          "'000000000000'");
    }
    updateDoc_->SetString("aName", name);
    updateDoc_->SetString("aNum", num);
    updateDoc_->SetString("aDate", date);
    updateDoc_->Execute();
  }

  void SetGenerator(const std::string& generator, int64_t value) {
    TqnFbStatement statement(connection_, transaction_);
    statement.Execute(SetGeneratorSql(generator, value));
    statement.Fetch();
  }

  void Generators() {
    bool hasSyncVersion = false;
    for (size_t i = 0; i < fields_.size(); ++i) {
      const std::string& name = fields_[i].name;
      if (name == "SyncUserActionsVersion") hasSyncVersion = true;
      if (meta_.HasGenerator(name)) SetGenerator("g" + name, ObjectValue(values_[i]));
    }
    if (!hasSyncVersion && maxSyncVersion_ > 0) SetGenerator("gSyncUserActionsVersion", maxSyncVersion_);
  }

  void UpdateIndexStatistics() {
    transaction_.Start();
    try {
      std::vector<std::string> names;
      {
        TqnFbStatement query(connection_, transaction_);
        query.Execute(kIndexQuery);
        while (query.Fetch()) names.push_back(TrimControl(query.AsString("fName")));
      }
      for (const std::string& name : names) {
        TqnFbStatement statement(connection_, transaction_);
        // Quoted: an index created under a quoted mixed-case name is found only so.
        statement.Execute("SET STATISTICS INDEX " + QuotedIdentifier(name));
        if (progress_) progress_();
      }
      transaction_.Commit();
    } catch (...) {
      try {
        transaction_.Rollback();
      } catch (const std::exception&) {
      }
      throw;
    }
  }

  TqnFbConnection& connection_;
  const TqnLoadProgress& progress_;
  TqnFbTransaction transaction_;
  PqnStringTree document_;
  TqnDbMeta meta_;

  SectionKind kind_ = SectionKind::None;
  std::string table_;
  std::vector<SectionField> fields_;
  std::vector<std::string> values_;
  bool unmanaged_ = false, sync_ = false;
  int64_t maxSyncVersion_ = 0;
  std::unique_ptr<TqnFbStatement> insert_, updateDoc_;
  std::unique_ptr<TqnDumpBatch> batch_;

  // With the keys set aside: the "070000" identifiers in the database, the
  // tables whose own were read, and the rows held back until the keys are
  // built again (a replacing identifier met again), with their headers.
  struct TqnHeldRow {
    PqnHeader header;
    std::vector<std::string> values;
  };
  std::string loadTime_;
  bool deferIndexes_ = false, holding_ = false;
  std::unordered_set<std::string> replacingIds_;
  std::set<std::string> scanned_;
  PqnHeader header_;
  std::vector<TqnHeldRow> held_;
  size_t heldBytes_ = 0;
};

}  // namespace

void LoadDumpData(const TqnDumpDataOpener& openData, TqnFbConnection& connection, const std::string& metaText,
                  const TqnLoadProgress& progress, bool disableTriggers, const Clock& clock,
                  const TqnDumpLoadOptions& options) {
  TqnDumpLoader loader(connection, metaText, progress, clock, options);
  loader.Load(openData, disableTriggers);
}

void LoadDumpData(std::istream& data, TqnFbConnection& connection, const std::string& metaText,
                  const TqnLoadProgress& progress, bool disableTriggers, const Clock& clock,
                  const TqnDumpLoadOptions& options) {
  struct Borrowed : std::istream {
    explicit Borrowed(std::istream& s) : std::istream(s.rdbuf()) {}
  };
  LoadDumpData([&data] { return std::unique_ptr<std::istream>(std::make_unique<Borrowed>(data)); }, connection,
               metaText, progress, disableTriggers, clock, options);
}

}  // namespace qn
