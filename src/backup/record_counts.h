// The per-table record counts that a server's verbose output reports: a
// backup says "writing data for table T" and then "N records written", a
// restore "restoring data for table T" and then "N records restored". Both
// come from one snapshot of the database, so the counts of a backup and of
// its restore must be equal table by table.
#pragma once

#include <map>
#include <string>

namespace qn {

using TqnRecordCounts = std::map<std::string, long long>;

class TqnRecordCountReader {
 public:
  // Takes one verbose line of a backup or a restore.
  void Feed(const std::string& line);
  const TqnRecordCounts& Counts() const { return counts_; }

 private:
  TqnRecordCounts counts_;
  std::string table_;
};

// "" when the counts agree; otherwise the first difference, e.g.
// "таблица T2: в копии 2 записей, восстановлено 1". A table the restore
// does not name counts as restored with 0 records (an empty table has no
// line of its own there).
std::string CompareRecordCounts(const TqnRecordCounts& backup, const TqnRecordCounts& restored);

// The counts as one line of text, "T2=2;CLIENTS=1" ('%', '=' and ';' in a
// name escaped as "%" and two hexadecimal digits), and back.
std::string FormatRecordCounts(const TqnRecordCounts& counts);
TqnRecordCounts ParseRecordCounts(const std::string& text);

}  // namespace qn
