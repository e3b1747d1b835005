#include "dump/dump_reader.h"

#include "dump/db_meta.h"
#include "dump/dump_text.h"

namespace qn {

namespace {

// Items handed over at a time, and batches the queue holds at most.
constexpr size_t kBatchItems = 256;
constexpr size_t kQueuedBatches = 4;

}  // namespace

TqnDumpReader::TqnDumpReader(std::istream& data, const TqnDbMeta& meta)
    : data_(data), meta_(meta), thread_([this] { Read(); }) {}

TqnDumpReader::~TqnDumpReader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool TqnDumpReader::Next(TqnDumpItem& item) {
  if (next_ == current_.size()) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !queue_.empty() || done_; });
    if (queue_.empty()) return false;
    current_ = std::move(queue_.front());
    queue_.pop_front();
    next_ = 0;
    lock.unlock();
    changed_.notify_all();
  }
  item = std::move(current_[next_++]);
  return true;
}

void TqnDumpReader::Push(std::vector<TqnDumpItem>& batch) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return queue_.size() < kQueuedBatches || stop_; });
  if (!stop_) queue_.push_back(std::move(batch));
  lock.unlock();
  changed_.notify_all();
  batch.clear();
}

void TqnDumpReader::Read() {
  std::vector<TqnDumpItem> batch;
  std::vector<std::string> last;  // the values of the last line, for a stream failure
  try {
    TqnDumpLineReader reader(data_);
    std::string line, version;
    char escape = kDefaultEscape;
    size_t fields = 0;
    bool loaded = false, failed = false;
    while (!failed && !stop_ && reader.ReadLine(line)) {
      TqnDumpItem item;
      switch (DumpLineKind(line)) {
        case TqnDumpLineKind::Directive:
          if (ParseVersionDirective(std::string_view(line).substr(1), version)) escape = EscapeForVersion(version);
          continue;
        case TqnDumpLineKind::Header: {
          item.kind = TqnDumpItem::Kind::Header;
          item.values = SplitTabs(std::string_view(line).substr(1));
          const std::string& table = item.values[0];
          fields = item.values.size() - 1;
          loaded = table == "Generators" || (table != "Database" && meta_.GetTable(table, false));
          last.clear();
          break;
        }
        case TqnDumpLineKind::Row:
          if (loaded) {
            std::vector<std::string> raw = SplitTabs(line);
            try {
              for (size_t i = 0; i < fields; ++i)
                item.values.push_back(i < raw.size() ? DecodeDumpValue(raw[i], escape) : std::string());
            } catch (...) {
              item.kind = TqnDumpItem::Kind::Failure;
              item.error = std::current_exception();
              failed = true;
            }
          }
          last = item.values;
          break;
      }
      batch.push_back(std::move(item));
      if (batch.size() >= kBatchItems) Push(batch);
    }
  } catch (...) {
    TqnDumpItem item;
    item.kind = TqnDumpItem::Kind::Failure;
    item.error = std::current_exception();
    item.values = std::move(last);
    batch.push_back(std::move(item));
  }
  if (!batch.empty()) Push(batch);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  changed_.notify_all();
}

}  // namespace qn
