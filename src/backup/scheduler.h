// The automatic backups of the database register: one pass over the
// entries decides which are due by their weekday, start time, number per
// day and spacing, runs them and records "stat" / "last" and "num_done".
//
// Main thread only. The pass reads the tree without the settings lock (the
// main thread is its only writer) and writes the entry's state inside a
// settings change; the backup itself runs outside any settings lock.
#pragma once

#include <functional>
#include <set>
#include <string>

#include "base/clock.h"
#include "xml/xml_dom.h"

namespace qn {

struct TqnSchedulerContext {
  TqnNode* root = nullptr;                 // the settings root ("data" below it)
  std::set<std::string>* failures = nullptr;  // the failure list
  const Clock* clock = nullptr;
  // Backs up one entry (AutoBackupEntry); throws on failure.
  std::function<void(const TqnNode& entry)> backup;
  // Runs a change of the tree under the settings lock.
  std::function<void(const std::function<void()>& change)> change;
  std::function<void()> save;              // SaveSettings
};

// One pass. A failing backup puts the entry in the failure list and ends
// the pass by rethrowing; an impossible "last" date or time fails the pass
// without a failure-list entry.
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
