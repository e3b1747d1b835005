// The state of the backups as a Prometheus textfile, for the textfile
// collector of a node exporter: with "status" / "textfile" naming a file,
// the run rewrites it at start and after every change of an entry's backup
// state, replacing it whole so that the collector never reads half of one.
//
// Per entry with automatic backups (labels "entry" and "caption", UTF-8):
// when the latest backup and the latest verified backup ended, the newest
// verified backup's size and its restore's duration, and the health as
// --status tells it; and the stale threshold. A person's first line names
// the program: a file that does not begin with it is not the program's, and
// is never replaced.
#pragma once

#include <string>

#include "backup/status_figures.h"
#include "xml/xml_dom.h"

namespace qn {

class TqnApplication;

// The file named by "status" / "textfile" (Windows-1251); "" when none.
std::string StatusTextfilePath(const TqnNode& root);

// The text, in Prometheus' text exposition format.
std::string PrometheusText(const TqnStatusSnapshot& snapshot);

// Replaces the file with the text when it is missing, empty or one the
// program wrote; throws (with the reason) otherwise or when it cannot be
// written.
void ReplaceStatusTextfile(const std::string& path, const std::string& text);

// The run's hook: writes the file of the run's settings, if one is named,
// and logs why it could not. Main thread.
void WriteStatusTextfile(TqnApplication& app);

}  // namespace qn
