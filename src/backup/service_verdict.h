// Which lines of the server's backup and restore output mean that the tool
// gave up. The output names every table, column, index, procedure, trigger
// and generator, so a word such as ERROR may stand in any line: only the
// tool's own messages count, which follow its "gbak:" tag directly.
// Failures the server reports as a status are raised by the service query
// itself. Pure text rules.
#pragma once

#include <string>

namespace qn {

// True when the line is one of the tool's failure messages: an error
// ("gbak: ERROR:..."), its closing words ("Exiting before completion due to
// errors"), or a restore that could not activate an index or left the
// database offline.
bool IsServiceFailureLine(const std::string& line);

}  // namespace qn
