// The administrator's commands on the program's command line, in its own
// option form "--name=value" (a bare "--name" counts as "--name=1"):
//
//   --help                       the options, in Russian and English
//   --version                    the file version
//   --list                       the register, one entry a line
//   --backup=KEY [--to=FILE]     a backup as the "Архивация" button makes it
//   --restore=KEY --from=FILE [--fix-charset=1] [--yes=1]
//                                a restore as "Разархивация" does it
//   --verify=KEY [--from=FILE]   proves a backup (the newest by default)
//   --backups=KEY                the entry's catalogued backups
//   --init-destination=NAME      writes a destination's marker
//
// A restore's or a verification's FILE may be DEST:NAME, a copy kept at a
// destination ("nas:db0000-auto-2026.12.09-06.30.00-000.bk3").
//   --status [--json | --nagios | --zabbix-discovery]
//                                the state of the automatic backups, for
//                                people and monitoring (exit 0, 1, 2, 3): as
//                                text, JSON, a Nagios plugin's output or
//                                Zabbix's discovery
//   --test-alert                 one test alert by mail and command
//
// KEY is an entry's element name ("db0003") or its number ("3"). Texts here
// are Windows-1251: the arguments are converted from the terminal's UTF-8
// when they are read.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qn {

enum class TqnCommandKind {
  None,
  Help,
  Version,
  List,
  Backup,
  Restore,
  Verify,
  Backups,
  Status,
  TestAlert,
  InitDestination
};

// How --status answers.
enum class TqnStatusFormat { Text, Json, Nagios, ZabbixDiscovery };

struct TqnCommand {
  TqnCommandKind kind = TqnCommandKind::None;
  std::string key;                                 // backup and restore; a destination's name
  std::string file;                                // --to of a backup ("" for the default name), --from of a restore
  bool fixCharset = false;                         // restore: the 1.5-to-2.5 conversion mode
  bool yes = false;                                // restore: the question is answered Yes
  TqnStatusFormat format = TqnStatusFormat::Text;  // status
  std::string error;                               // why the arguments cannot be used ("" when they can)
};

// Reads the command among the program's arguments (without the program
// name). Kind None: no administrator's command, the program starts as usual.
// An entry's number from a command's KEY, "db0003" or "3"; anything else
// raises the message the administrator sees.
int EntryNumber(const std::string& key);

TqnCommand ParseCommand(const std::vector<std::string>& args);

// The options a command travels with to the instance that runs it
// ("backup=db0000", "to=/srv/b.fbk" ...), and back again. The question has
// been asked before a command travels, so a restore always goes answered.
std::vector<std::string> CommandOptions(const TqnCommand& command);
TqnCommand CommandFromOptions(const std::vector<std::string>& options);

// What an operation is doing, for the progress lines ("Архивация базы
// данных db0000").
std::string CommandActivity(const TqnCommand& command);

// The --help text, in UTF-8 as written here; printed in the terminal's encoding.
std::string CommandLineHelp();

}  // namespace qn
