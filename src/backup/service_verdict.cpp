#include "backup/service_verdict.h"

namespace qn {

bool IsServiceFailureLine(const std::string& line) {
  static const std::string tag = "gbak:";
  if (line.compare(0, tag.size(), tag) != 0) return false;
  size_t at = tag.size();
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  // The message's first words are the tool's own; a name only ever follows them.
  for (const char* start : {"ERROR:", "Exiting before completion", "cannot commit index", "Database is not online"}) {
    const std::string s = start;
    if (line.compare(at, s.size(), s) == 0) return true;
  }
  return false;
}

}  // namespace qn
