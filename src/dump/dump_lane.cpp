#include "dump/dump_lane.h"

#include "firebird/fb_connection.h"
#include "firebird/fb_statement.h"

namespace qn {

TqnDumpLane::TqnDumpLane(const TqnFbConnection& like, std::string loadTime, int maxBlockRows, bool disableTriggers)
    : libraryName_(like.LibraryName()),
      databaseName_(like.DatabaseName()),
      userName_(like.UserName()),
      password_(like.Password()),
      loadTime_(std::move(loadTime)),
      maxBlockRows_(maxBlockRows),
      disableTriggers_(disableTriggers),
      thread_([this] { Run(); }) {}

TqnDumpLane::~TqnDumpLane() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool TqnDumpLane::Ready() {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.empty() && !failure_;
}

void TqnDumpLane::Send(std::shared_ptr<const TqnLaneSection> section, std::vector<TqnDumpRow> rows) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(Job{std::move(section), std::move(rows)});
  }
  changed_.notify_all();
}

void TqnDumpLane::RaiseFailure(std::string& table, std::vector<std::string>& values) {
  table = failedTable_;
  values = failedValues_;
  std::rethrow_exception(failure_);
}

void TqnDumpLane::Check(std::string& table, std::vector<std::string>& values) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failure_) RaiseFailure(table, values);
}

void TqnDumpLane::Finish(std::string& table, std::vector<std::string>& values, TqnDumpLoadStats* stats) {
  std::unique_lock<std::mutex> lock(mutex_);
  finishing_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return finished_; });
  if (failure_) RaiseFailure(table, values);
  if (stats) {
    stats->blocks += stats_.blocks;
    stats->blockRows += stats_.blockRows;
    stats->aloneRows += stats_.aloneRows;
    stats->replayedBlocks += stats_.replayedBlocks;
    stats->laneRows += stats_.blockRows + stats_.aloneRows;
  }
}

void TqnDumpLane::Run() {
  TqnFbConnection connection;
  std::vector<std::string> context;
  std::shared_ptr<const TqnLaneSection> section;
  bool stopped = false;
  try {
    connection.SetLibraryName(libraryName_);
    connection.SetDatabaseName(databaseName_);
    connection.SetUserName(userName_);
    connection.SetPassword(password_);
    connection.Attach();
    TqnFbTransaction transaction(connection, LoadTransactionParameters());
    transaction.Start();
    if (disableTriggers_) {
      TqnFbStatement disable(connection, transaction);
      disable.Execute("select rdb$set_context('USER_TRANSACTION', 'trigger.disabled', 1) from rdb$database");
      disable.Fetch();
    }
    TqnDumpLoadOptions options;
    options.maxBlockRows = maxBlockRows_;
    options.stats = &stats_;
    TqnDumpBatch batch(connection, transaction, noProgress_, loadTime_, options, context);
    std::unique_ptr<TqnFbStatement> insert;
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.notify_all();
        changed_.wait(lock, [this] { return stopping_ || finishing_ || !queue_.empty(); });
        if (stopping_) {
          stopped = true;
          break;
        }
        if (queue_.empty()) {
          // Finishing, with everything stored.
          lock.unlock();
          batch.EndSection();
          insert.reset();
          transaction.Commit();
          break;
        }
        job = std::move(queue_.front());
        queue_.pop_front();
      }
      if (job.section != section) {
        batch.EndSection();
        section = job.section;
        insert = std::make_unique<TqnFbStatement>(connection, transaction);
        insert->Prepare(section->insertSql);
        batch.StartSection(section->table, *insert, section->columns, section->blobs, section->managed);
      }
      for (TqnDumpRow& row : job.rows) batch.Add(std::move(row));
    }
    if (stopped) {
      batch.Discard();
      insert.reset();
      transaction.Rollback();
    }
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = std::current_exception();
    failedTable_ = section ? section->table : std::string();
    failedValues_ = context;
  }
  try {
    connection.Detach();
  } catch (const std::exception&) {
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  changed_.notify_all();
}

}  // namespace qn
