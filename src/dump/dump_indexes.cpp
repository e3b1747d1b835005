#include "dump/dump_indexes.h"

#include <map>
#include <memory>

#include "base/error.h"
#include "base/text.h"
#include "dump/dump_block.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_statement.h"

namespace qn {

namespace {

// Primary keys and unique constraints of user tables, with their index,
// except those a foreign key refers to.
const char* const kKeysQuery =
    "select rc.rdb$relation_name, rc.rdb$constraint_name, rc.rdb$constraint_type, rc.rdb$index_name,"
    " coalesce(i.rdb$index_type, 0)"
    " from rdb$relation_constraints rc join rdb$indices i on i.rdb$index_name = rc.rdb$index_name"
    " join rdb$relations r on r.rdb$relation_name = rc.rdb$relation_name"
    " where rc.rdb$constraint_type in ('PRIMARY KEY', 'UNIQUE') and coalesce(r.rdb$system_flag, 0) = 0"
    " and coalesce(i.rdb$index_inactive, 0) = 0"
    " and not exists (select 1 from rdb$ref_constraints f where f.rdb$const_name_uq = rc.rdb$constraint_name)"
    " order by rc.rdb$relation_name, i.rdb$index_id";

const char* const kSegmentsQuery =
    "select s.rdb$index_name, s.rdb$field_name from rdb$index_segments s order by s.rdb$index_name,"
    " s.rdb$field_position";

// Active indexes of user tables that no constraint owns.
const char* const kIndexesQuery =
    "select i.rdb$index_name from rdb$indices i"
    " join rdb$relations r on r.rdb$relation_name = i.rdb$relation_name"
    " where coalesce(r.rdb$system_flag, 0) = 0 and coalesce(i.rdb$system_flag, 0) = 0"
    " and coalesce(i.rdb$index_inactive, 0) = 0 and i.rdb$foreign_key is null"
    " and not exists (select 1 from rdb$relation_constraints c where c.rdb$index_name = i.rdb$index_name)"
    " order by i.rdb$relation_name, i.rdb$index_id";

std::string Field(TqnFbStatement& query, int i) { return TrimControl(query.AsString(i)); }

void Execute(TqnFbConnection& connection, TqnFbTransaction& transaction, const std::string& sql) {
  TqnFbStatement statement(connection, transaction);
  statement.Execute(sql);
}

// Runs the statements in one transaction of their own and commits them.
template <typename Body>
void Committed(TqnFbConnection& connection, Body body) {
  TqnFbTransaction transaction(connection);
  transaction.Start();
  try {
    body(transaction);
    transaction.Commit();
  } catch (...) {
    try {
      transaction.Rollback();
    } catch (const std::exception&) {
    }
    throw;
  }
}

}  // namespace

void TqnDeferredIndexes::SetAside(TqnFbConnection& connection) {
  Committed(connection, [&](TqnFbTransaction& transaction) {
    std::map<std::string, std::vector<std::string>> segments;
    {
      TqnFbStatement query(connection, transaction);
      query.Execute(kSegmentsQuery);
      while (query.Fetch()) segments[Field(query, 0)].push_back(Field(query, 1));
    }
    {
      TqnFbStatement query(connection, transaction);
      query.Execute(kKeysQuery);
      while (query.Fetch())
        keys_.push_back(
            Key{Field(query, 0), Field(query, 1), Field(query, 2), Field(query, 3), {}, query.AsInteger(4) == 1});
    }
    for (Key& key : keys_) key.columns = segments[key.index];
    {
      TqnFbStatement query(connection, transaction);
      query.Execute(kIndexesQuery);
      while (query.Fetch()) indexes_.push_back(Field(query, 0));
    }
    for (const Key& key : keys_)
      Execute(connection, transaction,
              "alter table " + QuotedIdentifier(key.relation) + " drop constraint " + QuotedIdentifier(key.constraint));
    for (const std::string& index : indexes_)
      Execute(connection, transaction, "alter index " + QuotedIdentifier(index) + " inactive");
  });
}

void TqnDeferredIndexes::Rebuild(TqnFbConnection& connection) {
  // One transaction each: the index is built when its change is committed,
  // and a failure names the one key that failed; the others are built all
  // the same, so that the schema stays whole.
  std::unique_ptr<Exception> failure;
  for (; rebuiltKeys_ < keys_.size(); ++rebuiltKeys_) {
    const Key& key = keys_[rebuiltKeys_];
    std::string columns;
    for (const std::string& column : key.columns) columns += (columns.empty() ? "" : ", ") + QuotedIdentifier(column);
    try {
      Committed(connection, [&](TqnFbTransaction& transaction) {
        Execute(connection, transaction,
                "alter table " + QuotedIdentifier(key.relation) + " add constraint " +
                    QuotedIdentifier(key.constraint) + " " + key.type + " (" + columns + ") using " +
                    (key.descending ? "descending" : "ascending") + " index " + QuotedIdentifier(key.index));
      });
    } catch (const Exception& e) {
      if (!failure)
        failure = std::make_unique<Exception>(
            std::string(e.what()) + "\r\n" + key.relation + ": " + key.type + " " + key.constraint, e.StatusCode());
    }
  }
  for (; rebuiltIndexes_ < indexes_.size(); ++rebuiltIndexes_) {
    const std::string& index = indexes_[rebuiltIndexes_];
    try {
      Committed(connection, [&](TqnFbTransaction& transaction) {
        Execute(connection, transaction, "alter index " + QuotedIdentifier(index) + " active");
      });
    } catch (const Exception& e) {
      if (!failure) failure = std::make_unique<Exception>(e.what(), e.StatusCode());
    }
  }
  if (failure) throw *failure;
}

}  // namespace qn
