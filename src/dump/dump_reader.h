// Reading a data member ahead of the load, on a thread of its own: lines
// are read from the stream (in its 16384-byte blocks), split and decoded
// there while the loading thread waits for the server, and handed over in
// file order through a short queue, so that memory stays flat however
// large the member is.
//
// What the loader would do itself is kept: version directives set the
// escape character of the rows that follow; a header gives the section's
// names; a row of a section whose rows are loaded (the "Generators" section
// and tables the metadata model knows) comes with its values decoded, one
// per header field; rows of other sections come with no values. A failure
// while decoding a row comes with the values decoded before it, and a
// failure of the stream with the values of the last line; nothing is read
// after a failure.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <istream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qn {

class TqnDbMeta;

struct TqnDumpItem {
  enum class Kind { Header, Row, Failure } kind = Kind::Row;
  // Header: table name, then field names. Row and Failure: the values.
  std::vector<std::string> values;
  std::exception_ptr error;  // Failure: what to raise
};

class TqnDumpReader {
 public:
  // Starts reading. The stream and the model must outlive the reader, and
  // the model must not change while it reads.
  TqnDumpReader(std::istream& data, const TqnDbMeta& meta);
  // Stops the reading thread and waits for it.
  ~TqnDumpReader();
  TqnDumpReader(const TqnDumpReader&) = delete;
  TqnDumpReader& operator=(const TqnDumpReader&) = delete;

  // The next item in file order; false after the last one.
  bool Next(TqnDumpItem& item);

 private:
  void Read();
  void Push(std::vector<TqnDumpItem>& batch);

  std::istream& data_;
  const TqnDbMeta& meta_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<TqnDumpItem>> queue_;
  bool done_ = false;
  std::atomic<bool> stop_{false};
  std::vector<TqnDumpItem> current_;
  size_t next_ = 0;
  std::thread thread_;
};

}  // namespace qn
