// The automatic backups of the database register: one pass over the
// entries decides which are due by their weekday, start time, number per
// day and spacing, runs them and records "stat" / "last" and "num_done".
//
// Main thread only. The pass reads the tree without the settings lock (the
// main thread is its only writer) and writes the entry's state inside a
// settings change; the backup itself runs outside any settings lock.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>

#include "base/clock.h"
#include "xml/xml_dom.h"

namespace qn {

struct TqnSchedulerContext {
  TqnNode* root = nullptr;                    // the settings root ("data" below it)
  std::set<std::string>* failures = nullptr;  // the failure list
  const Clock* clock = nullptr;
  // Backs up one entry (AutoBackupEntry); throws on failure.
  std::function<void(const TqnNode& entry)> backup;
  // Runs a change of the tree under the settings lock.
  std::function<void(const std::function<void()>& change)> change;
  std::function<void()> save;  // SaveSettings
  // When each entry of the failure list failed (minutes, StampMinutes'
  // scale). An entry whose cool-down has passed leaves the failure list and
  // is due again by the normal rules: a failed backup must not stop an
  // unattended run's backups for good. Without it the failure list holds
  // until the properties dialog clears it.
  std::map<std::string, long long>* failedAt = nullptr;
  // Entries whose state could not be read, already reported; and where a
  // report goes (the message pane). Such an entry is skipped, the others go on.
  std::set<std::string>* unreadable = nullptr;
  std::function<void(const std::string& message)> report;
};

// The cool-down after a failed backup: the larger of the entry's interval
// and an hour, in minutes.
int FailureCoolDown(int interval);

// One pass. A failing backup puts the entry in the failure list and ends
// the pass by rethrowing; an entry whose "last" date or time does not exist
// is reported once (through report) and skipped, and the pass goes on.
void RunSchedulerPass(const TqnSchedulerContext& ctx);

// A "yyyy-mm-dd hh:nn" text as a day number and minutes of the day. Any
// other length or a part that is not a number gives day 0 at 00:00; a
// date or time that does not exist throws Exception.
struct TqnScheduleStamp {
  long day = 0;
  int minutes = 0;
};
TqnScheduleStamp ParseLastRun(const std::string& text);

// The day number of a calendar date: consecutive dates differ by one.
// Throws Exception for a date that does not exist.
long DayNumber(int year, int month, int day);

// "yyyy-mm-dd hh:nn".
std::string FormatLastRun(const DateTime& t);

}  // namespace qn
