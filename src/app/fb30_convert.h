// The conversion switch: a workstation that converts a database of the
// classic server (".fdb") into a Firebird 3.0 file (".fd3") beside it first
// locks the database entry, and when its conversion is done unlocks it with
// "switch-to-fb30", which re-points the entry to the new file on the private
// server's port and moves the old file into the folder "prev" beside it.
//
// The lock list lives in TqnApplication::ConvertLockList(): entry keys,
// compared without regard to case, never saved. A key is locked from
// "successfully-locked" until "successfully-unlocked" or
// "successfully-switched"; every other reply leaves the state as it was.
//
// Threads: the commands arrive on info-server connection threads and are
// carried to the main thread, which alone touches the lock list, the
// register and the files, one command at a time.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/application.h"

namespace qn {

inline constexpr const char* kFb30LockCommand = "set-database-fb30-convert-lock";
inline constexpr const char* kFb30UnlockCommand = "set-database-fb30-convert-unlock";
inline constexpr const char* kFb30SwitchOption = "switch-to-fb30";
inline constexpr const char* kTrashFolderName = "prev";
inline constexpr const char* kTrashFileSuffix = ".converted";

// One command carried from a server thread to the main thread.
struct TqnSyncMsg {
  std::string command;
  // The words as the info server received them, the command word first:
  // [1] is the entry key, [2] the unlock's option; further words are ignored
  // and missing ones count as empty.
  std::vector<std::string> arguments;
  std::string reply;  // empty on entry
};

// Main thread. Carries out a lock or an unlock and sets msg.reply to its
// reply text ("database-fb30-convert-lock successfully-locked", "error
// database-not-exists db0007", ...); any other command leaves it empty.
// A switch changes the entry's path in the settings tree (not written to
// disk) and refreshes the list.
void DoFb30ConvertCommand(TqnApplication& app, TqnSyncMsg& msg);

// Runs work on the main thread and returns when it has run there.
using TqnMainThreadRunner = std::function<void(const std::function<void()>& work)>;

// Any thread. Hands the command to the main thread through runner, waits,
// and returns the reply. An error raised on the main thread is raised again
// here, on the calling thread.
std::string RunFb30ConvertCommand(const TqnMainThreadRunner& runner, TqnApplication& app, const std::string& command,
                                  const std::vector<std::string>& words);

// The trash file of a database file: the folder "prev" beside it, then the
// file name with ".converted" appended.
std::string Fb30TrashFile(const std::string& databaseFile);
// The database file with its extension changed to ".fd3".
std::string Fb30ConvertedFile(const std::string& databaseFile);

// Main thread, start-up: EnsureFb30Installed with the run's program folder,
// its "fb.ini" flag and its user interface (a warning question, an error box).
void CheckFb30Server(TqnApplication& app);

}  // namespace qn
