// A second attachment that stores rows of a dump on a thread of its own,
// so that the server works on two of them at once (each attachment runs
// on its own server thread) while the loader's thread reads, converts and
// stores others.
//
// The loader hands it chunks of converted rows of a section with what the
// section's insert is; it stores them in blocks (dump_batch.h) in its own
// transaction, which it commits when the loader finishes it. Its rows are
// not seen by the loader's transaction before that, so it takes only rows
// that nothing else reads while the load runs: the loader uses a lane for
// a database without foreign keys and with the triggers off, and never for
// replacements. A failure stops the lane; the loader learns it at the next
// hand-over or at the end, with the table and values of the row that
// failed. Destroying a lane that was not finished rolls its rows back.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dump/dump_batch.h"

namespace qn {

class TqnFbConnection;

// What a lane needs to store rows of a section.
struct TqnLaneSection {
  std::string table;      // as in the section header
  std::string insertSql;  // the section insert
  std::string columns;    // its column list
  std::vector<bool> blobs;
  bool managed = false;
};

class TqnDumpLane {
 public:
  // Attaches to the same database as like, with its library, user and
  // password, and starts a transaction there (on the lane's thread).
  TqnDumpLane(const TqnFbConnection& like, std::string loadTime, int maxBlockRows, bool disableTriggers);
  ~TqnDumpLane();
  TqnDumpLane(const TqnDumpLane&) = delete;
  TqnDumpLane& operator=(const TqnDumpLane&) = delete;

  // Whether a chunk handed over now would be stored soon (the lane has at
  // most one waiting).
  bool Ready();
  void Send(std::shared_ptr<const TqnLaneSection> section, std::vector<TqnDumpRow> rows);
  // Raises the lane's failure, if any; table and values tell its row.
  void Check(std::string& table, std::vector<std::string>& values);
  // Waits until every row is stored, commits them, and raises the failure
  // as Check does. The lane is done afterwards.
  void Finish(std::string& table, std::vector<std::string>& values, TqnDumpLoadStats* stats);

 private:
  struct Job {
    std::shared_ptr<const TqnLaneSection> section;
    std::vector<TqnDumpRow> rows;
  };
  void Run();
  void RaiseFailure(std::string& table, std::vector<std::string>& values);

  std::string libraryName_, databaseName_, userName_, password_, loadTime_;
  int maxBlockRows_;
  bool disableTriggers_;
  TqnLoadProgress noProgress_;
  TqnDumpLoadStats stats_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  bool finishing_ = false, finished_ = false, stopping_ = false;
  std::exception_ptr failure_;
  std::string failedTable_;
  std::vector<std::string> failedValues_;
  std::thread thread_;
};

}  // namespace qn
