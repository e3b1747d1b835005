// Every settings key of a database entry that the program reads, in one
// table: its name below the entry, its type, what a missing or unreadable
// value means, the limits the dialog's controls hold it to (and the readers
// that clamp keep to), and what it is for. The entry's readers, the
// properties dialog and the documentation of the keys take these from here,
// so that they cannot differ.
#pragma once

#include <string>
#include <vector>

#include "xml/xml_dom.h"

namespace qn {

enum class TqnKeyType { Text, Integer, Boolean };

struct TqnSettingKey {
  const char* name;     // below the entry, "backup/rest"
  TqnKeyType type;
  const char* missing;  // its meaning when missing or unreadable, as stored ("10", "1", "")
  int min = 0, max = 0, step = 0;  // an Integer's limits; all 0: none
  const char* meaning = "";        // for the documentation

  bool Limited() const { return type == TqnKeyType::Integer && (min != 0 || max != 0); }
  int MissingInteger() const;
  bool MissingBoolean() const { return std::string(missing) == "1"; }
};

namespace keys {
inline constexpr TqnSettingKey kPath{"path", TqnKeyType::Text, "", 0, 0, 0, "connection path of the database"};
inline constexpr TqnSettingKey kUser{"user", TqnKeyType::Text, "", 0, 0, 0, "server user"};
inline constexpr TqnSettingKey kPassword{"pwd", TqnKeyType::Text, "", 0, 0, 0, "server password"};
inline constexpr TqnSettingKey kCaption{"caption", TqnKeyType::Text, "", 0, 0, 0, "caption in the list"};
inline constexpr TqnSettingKey kHidePassword{"hidepwd", TqnKeyType::Boolean, "0", 0, 0, 0,
                                             "workstations get \"invalid_password\" instead of the password"};
inline constexpr TqnSettingKey kUid{"uid", TqnKeyType::Text, "", 0, 0, 0,
                                    "the entry's identity, 32 hexadecimal digits, never reused"};
inline constexpr TqnSettingKey kAuto{"backup/auto", TqnKeyType::Boolean, "0", 0, 0, 0, "automatic backups on"};
inline constexpr TqnSettingKey kBackupPath{"backup/path", TqnKeyType::Text, "", 0, 0, 0,
                                           "backup folder, as the server sees it"};
inline constexpr TqnSettingKey kWeekdays{"backup/weekdays", TqnKeyType::Text, "0000000", 0, 0, 0,
                                         "one \"0\"/\"1\" a weekday, Monday first (the dialog shows a missing "
                                         "or malformed value as \"1111100\")"};
inline constexpr TqnSettingKey kTime{"backup/time", TqnKeyType::Integer, "390", 0, 1439, 1,
                                     "start time, minutes after midnight"};
inline constexpr TqnSettingKey kNum{"backup/num", TqnKeyType::Integer, "1", 1, 100, 1, "backups a day"};
inline constexpr TqnSettingKey kInterval{"backup/interval", TqnKeyType::Integer, "60", 5, 1440, 5,
                                         "minutes at least between the backups of a day"};
inline constexpr TqnSettingKey kVerify{"backup/verify", TqnKeyType::Boolean, "1", 0, 0, 0,
                                       "every backup proven by a restore into a scratch database"};
inline constexpr TqnSettingKey kVerifyPath{"backup/verify_path", TqnKeyType::Text, "", 0, 0, 0,
                                           "folder of the scratch database (\"\": beside the backup)"};
inline constexpr TqnSettingKey kPrune{"backup/prune", TqnKeyType::Boolean, "0", 0, 0, 0,
                                      "older backups thinned out by the keys below"};
inline constexpr TqnSettingKey kRest{"backup/rest", TqnKeyType::Integer, "10", 1, 30000, 1,
                                     "newest scheduled or manual backups kept"};
inline constexpr TqnSettingKey kKeepDaily{"backup/keep_daily", TqnKeyType::Integer, "0", 0, 3650, 1,
                                          "newest verified backup of each of the last N days kept"};
inline constexpr TqnSettingKey kKeepWeekly{"backup/keep_weekly", TqnKeyType::Integer, "0", 0, 3650, 1,
                                           "... of each of the last N weeks"};
inline constexpr TqnSettingKey kKeepMonthly{"backup/keep_monthly", TqnKeyType::Integer, "0", 0, 3650, 1,
                                            "... of each of the last N months"};
inline constexpr TqnSettingKey kKeepRequested{"backup/keep_requested", TqnKeyType::Integer, "3", 0, 3650, 1,
                                              "newest backups asked for by workstations kept"};
}  // namespace keys

// The table, in the order the documentation lists it.
const std::vector<const TqnSettingKey*>& EntryKeys();

// The key's element below the entry, or the empty node.
const TqnNode* KeyNode(const TqnNode& entry, const TqnSettingKey& key);
// The stored value, or what a missing one means. Integers are held to the
// key's limits; ReadRawInteger leaves them as stored (the scheduler's rules
// count an out-of-range value as it stands).
std::string ReadText(const TqnNode& entry, const TqnSettingKey& key);
int ReadInteger(const TqnNode& entry, const TqnSettingKey& key);
int ReadRawInteger(const TqnNode& entry, const TqnSettingKey& key);
bool ReadBoolean(const TqnNode& entry, const TqnSettingKey& key);
// Writes the key, making its elements. Optional keys are written only once
// they exist or differ from their missing meaning, so that an older entry
// confirmed unchanged keeps its file as it was.
void WriteInteger(TqnNode& entry, const TqnSettingKey& key, int value);
void WriteOptionalInteger(TqnNode& entry, const TqnSettingKey& key, int value);
void WriteOptionalBoolean(TqnNode& entry, const TqnSettingKey& key, bool value);

// The documentation's table of the keys (Markdown), made from the table.
std::string EntryKeysTable();

}  // namespace qn
