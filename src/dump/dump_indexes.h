// The keys and indexes of a freshly created database set aside while a dump
// loads its rows, and built again afterwards, as a server restore does: one
// sort per index at the end instead of an index update for every row.
//
// Set aside are the primary keys and unique constraints of user tables that
// no foreign key refers to (dropped, then added again under the same
// constraint and index names, with the same columns in the same order and
// the same direction), and the plain indexes, active ones only (made
// inactive, then active again). Foreign keys and the indexes behind them
// stay as they are. The generators of automatic names are not moved, so
// later statements name their objects as they would have.
//
// Each change is committed on the connection in transactions of its own.
// A key that the loaded rows break (two rows with one value) fails its
// rebuild with the server's message, which names the index and the value,
// followed by CR LF, the table, ": ", the kind of key and its name.
#pragma once

#include <string>
#include <vector>

namespace qn {

class TqnFbConnection;

class TqnDeferredIndexes {
 public:
  // Reads what to set aside and sets it aside (committed).
  void SetAside(TqnFbConnection& connection);
  // Builds again what was set aside, in the order it was read; the first
  // failure is raised after the rest is built. Rebuilds nothing twice.
  void Rebuild(TqnFbConnection& connection);
  // Whether anything was set aside.
  bool Empty() const { return keys_.empty() && indexes_.empty(); }

 private:
  struct Key {
    std::string relation, constraint, type, index;
    std::vector<std::string> columns;
    bool descending = false;
  };
  std::vector<Key> keys_;
  std::vector<std::string> indexes_;
  size_t rebuiltKeys_ = 0, rebuiltIndexes_ = 0;
};

}  // namespace qn
