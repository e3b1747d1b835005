// Loading a logical dump's data member ("data.txt") into a freshly created
// database whose tables exist already.
//
// One INSERT is prepared per table section from the metadata model, each
// value converted to its parameter's type; consecutive rows go to the
// server in blocks (dump_batch.h) that store them as that insert would, one
// by one; every object of a managed table is recorded in "tObject"; the
// "Generators" row sets the generators; everything goes in one transaction,
// committed at the end. Then the statistics of all user indexes are
// recomputed in a second transaction. The member is read and decoded ahead
// on a thread of its own (dump_reader.h), and each block goes to the server
// while the next one is made (dump_batch.h).
//
// When the connection is the database's only one and has no transaction
// active (a database just created), the database's forced writes are off
// for the load and on again at its end, failed or not, as a server restore
// does; the connection is detached and attached again for each change, so
// statements prepared on it before the load are dead afterwards.
//
// A failure while loading rolls the whole load back. A qn::Exception is
// raised again with its status code and with CR LF and the row context
// (DumpRowContext of the current section's table and row) added to its
// message; any other exception passes unchanged. A failure of the index
// statistics rolls back only that step and passes unchanged; the data stay
// committed.
#pragma once

#include <chrono>
#include <functional>
#include <istream>
#include <memory>
#include <string>

#include "base/clock.h"

namespace qn {

class TqnFbConnection;

// Called after every loaded row and every index statistics statement.
using TqnLoadProgress = std::function<void()>;
// Opens the data member for reading; called once, inside the load, so that
// its failures are reported as the load's. After the last line its buffer
// is synced (pubsync), before the commit: a buffer that finds the data
// damaged then (throws or answers -1) fails the load.
using TqnDumpDataOpener = std::function<std::unique_ptr<std::istream>()>;

// How the rows went to the server, for measurements.
struct TqnDumpLoadStats {
  long blocks = 0;          // blocks executed
  long blockRows = 0;       // rows stored by them
  long aloneRows = 0;       // rows stored one by one
  long replayedBlocks = 0;  // blocks that failed and were run again row by row
  long packedRows = 0;      // rows stored by blocks whose values went packed
  long loopRows = 0;        // of them, rows all of whose values went packed
};

struct TqnDumpLoadOptions {
  // The most rows sent in one block (dump_block.h); 1 sends each row alone.
  int maxBlockRows = 4096;
  // Counted into when given.
  TqnDumpLoadStats* stats = nullptr;
  // The keys and indexes of the tables are set aside for the load and built
  // again after it (dump_indexes.h), as a server restore does: for a
  // database just created whose schema script declared them. The rows end
  // the same; a key the rows break then fails its rebuild, after the rows
  // are committed, with a message naming the table and the key's value;
  // a row replacing an identifier met earlier in the load is stored after
  // the rebuild.
  bool deferIndexes = false;
};

// The load on an attached connection. metaText is the "meta.txt" member;
// clock gives the load time written to "fChanged" of the register.
// disableTriggers sets the context variable 'trigger.disabled' of the
// transaction first, which the dump's triggers look at.
void LoadDumpData(const TqnDumpDataOpener& openData, TqnFbConnection& connection, const std::string& metaText,
                  const TqnLoadProgress& progress, bool disableTriggers, const Clock& clock,
                  const TqnDumpLoadOptions& options = {});
// The same over a stream the caller holds open.
void LoadDumpData(std::istream& data, TqnFbConnection& connection, const std::string& metaText,
                  const TqnLoadProgress& progress, bool disableTriggers, const Clock& clock,
                  const TqnDumpLoadOptions& options = {});

// A progress handler that passes a step on only when at least the interval
// has passed since the last step it passed on (the first always passes), so
// that repainting does not slow a large load down.
class TqnProgressThrottle {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using NowFunction = std::function<TimePoint()>;
  TqnProgressThrottle(
      std::chrono::milliseconds interval, std::function<void()> step,
      NowFunction now = [] { return std::chrono::steady_clock::now(); })
      : interval_(interval), step_(std::move(step)), now_(std::move(now)) {}
  void operator()();

 private:
  std::chrono::milliseconds interval_;
  std::function<void()> step_;
  NowFunction now_;
  bool stepped_ = false;
  TimePoint last_{};
};

}  // namespace qn
