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
  const char* name;  // below the entry, "backup/rest"
  TqnKeyType type;
  const char* missing;             // its meaning when missing or unreadable, as stored ("10", "1", "")
  int min = 0, max = 0, step = 0;  // an Integer's limits; all 0: none
  const char* meaning = "";        // for the documentation

  bool Limited() const { return type == TqnKeyType::Integer && (min != 0 || max != 0); }
  constexpr int MissingInteger() const {
    int value = 0;
    const char* c = missing;
    const bool negative = *c == '-';
    for (c += negative; *c >= '0' && *c <= '9'; ++c) value = value * 10 + (*c - '0');
    return negative ? -value : value;
  }
  bool MissingBoolean() const { return std::string(missing) == "1"; }
};

namespace keys {
inline constexpr TqnSettingKey kPath{"path", TqnKeyType::Text, "", 0, 0, 0, "connection path of the database"};
inline constexpr TqnSettingKey kUser{"user", TqnKeyType::Text, "", 0, 0, 0, "server user"};
inline constexpr TqnSettingKey kPassword{"pwd", TqnKeyType::Text, "", 0, 0, 0, "server password"};
inline constexpr TqnSettingKey kCaption{"caption", TqnKeyType::Text, "", 0, 0, 0, "caption in the list"};
inline constexpr TqnSettingKey kHidePassword{
    "hidepwd", TqnKeyType::Boolean, "0", 0, 0, 0, "workstations get \"invalid_password\" instead of the password"};
inline constexpr TqnSettingKey kUid{
    "uid", TqnKeyType::Text, "", 0, 0, 0, "the entry's identity, 32 hexadecimal digits, never reused"};
inline constexpr TqnSettingKey kAuto{"backup/auto", TqnKeyType::Boolean, "0", 0, 0, 0, "automatic backups on"};
inline constexpr TqnSettingKey kBackupPath{
    "backup/path", TqnKeyType::Text, "", 0, 0, 0, "backup folder, as the server sees it"};
inline constexpr TqnSettingKey kWeekdays{"backup/weekdays",
                                         TqnKeyType::Text,
                                         "0000000",
                                         0,
                                         0,
                                         0,
                                         "one \"0\"/\"1\" a weekday, Monday first (the dialog shows a missing "
                                         "or malformed value as \"1111100\")"};
inline constexpr TqnSettingKey kTime{
    "backup/time", TqnKeyType::Integer, "390", 0, 1439, 1, "start time, minutes after midnight"};
inline constexpr TqnSettingKey kNum{"backup/num", TqnKeyType::Integer, "1", 1, 100, 1, "backups a day"};
inline constexpr TqnSettingKey kInterval{
    "backup/interval", TqnKeyType::Integer, "60", 5, 1440, 5, "minutes at least between the backups of a day"};
inline constexpr TqnSettingKey kVerify{
    "backup/verify", TqnKeyType::Boolean, "1", 0, 0, 0, "every backup proven by a restore into a scratch database"};
inline constexpr TqnSettingKey kVerifyPath{
    "backup/verify_path", TqnKeyType::Text, "", 0, 0, 0, "folder of the scratch database (\"\": beside the backup)"};
inline constexpr TqnSettingKey kPrune{
    "backup/prune", TqnKeyType::Boolean, "0", 0, 0, 0, "older backups thinned out by the keys below"};
inline constexpr TqnSettingKey kRest{
    "backup/rest", TqnKeyType::Integer, "10", 1, 30000, 1, "newest scheduled or manual backups kept"};
inline constexpr TqnSettingKey kKeepDaily{"backup/keep_daily",
                                          TqnKeyType::Integer,
                                          "0",
                                          0,
                                          3650,
                                          1,
                                          "newest verified backup of each of the last N days kept"};
inline constexpr TqnSettingKey kKeepWeekly{
    "backup/keep_weekly", TqnKeyType::Integer, "0", 0, 3650, 1, "... of each of the last N weeks"};
inline constexpr TqnSettingKey kKeepMonthly{
    "backup/keep_monthly", TqnKeyType::Integer, "0", 0, 3650, 1, "... of each of the last N months"};
inline constexpr TqnSettingKey kKeepRequested{
    "backup/keep_requested", TqnKeyType::Integer, "3", 0, 3650, 1, "newest backups asked for by workstations kept"};
inline constexpr TqnSettingKey kCopyTo{"backup/copy_to",
                                       TqnKeyType::Text,
                                       "",
                                       0,
                                       0,
                                       0,
                                       "names of the destinations every proven backup is copied to, separated by "
                                       "commas"};

// Keys of the settings root, named below "settings".
inline constexpr TqnSettingKey kPin{"PIN",
                                    TqnKeyType::Text,
                                    "JD_LW4",
                                    0,
                                    0,
                                    0,
                                    "packet key of the info protocol (written with the default when empty)"};
inline constexpr TqnSettingKey kTcpPort{"tcp-port",
                                        TqnKeyType::Integer,
                                        "7983",
                                        1025,
                                        65535,
                                        1,
                                        "TCP port of the info server; a stored value outside the limits, or one that "
                                        "is no number, starts none"};
inline constexpr TqnSettingKey kUdpPort{
    "udp-port", TqnKeyType::Integer, "7983", 1025, 65535, 1, "UDP port of the discovery; likewise"};
inline constexpr TqnSettingKey kAllowPeers{"allow-peers",
                                           TqnKeyType::Text,
                                           "",
                                           0,
                                           0,
                                           0,
                                           "addresses and networks answered, besides this machine's own networks"};
inline constexpr TqnSettingKey kDataState{
    "data_state", TqnKeyType::Text, "", 0, 0, 0, "\"initialized\" once the first start has offered a database"};
inline constexpr TqnSettingKey kSmtpHost{
    "alerts/smtp/host", TqnKeyType::Text, "", 0, 0, 0, "mail server of the alerts (\"\": no mail)"};
inline constexpr TqnSettingKey kSmtpPort{"alerts/smtp/port", TqnKeyType::Integer, "25", 1, 65535, 1, "its port"};
inline constexpr TqnSettingKey kSmtpSecurity{"alerts/smtp/security",
                                             TqnKeyType::Text,
                                             "none",
                                             0,
                                             0,
                                             0,
                                             "\"none\", \"starttls\" or \"ssl\"; any other sends nothing"};
inline constexpr TqnSettingKey kSmtpUser{"alerts/smtp/user", TqnKeyType::Text, "", 0, 0, 0, "its login"};
inline constexpr TqnSettingKey kSmtpPassword{"alerts/smtp/pwd", TqnKeyType::Text, "", 0, 0, 0, "its password"};
inline constexpr TqnSettingKey kSmtpFrom{"alerts/smtp/from", TqnKeyType::Text, "", 0, 0, 0, "sender"};
inline constexpr TqnSettingKey kSmtpTo{
    "alerts/smtp/to", TqnKeyType::Text, "", 0, 0, 0, "recipients, separated by commas"};
inline constexpr TqnSettingKey kAlertCommand{
    "alerts/command", TqnKeyType::Text, "", 0, 0, 0, "command run through the shell for each alert"};
inline constexpr TqnSettingKey kAlertCommandTimeout{"alerts/command_timeout",
                                                    TqnKeyType::Integer,
                                                    "60",
                                                    1,
                                                    86400,
                                                    1,
                                                    "seconds before a command still running is ended"};
inline constexpr TqnSettingKey kStaleHours{"alerts/stale_hours",
                                           TqnKeyType::Integer,
                                           "36",
                                           1,
                                           87600,
                                           1,
                                           "hours without a verified backup before an entry is stale"};
inline constexpr TqnSettingKey kStatusTextfile{
    "status/textfile", TqnKeyType::Text, "", 0, 0, 0, "Prometheus textfile rewritten on every change of state"};

// Keys of one destination, named below its element of "destinations"
// ("d0", "d1", ...).
inline constexpr TqnSettingKey kDestName{
    "name", TqnKeyType::Text, "", 0, 0, 0, "the name an entry's \"backup/copy_to\" and --from=NAME:FILE give"};
inline constexpr TqnSettingKey kDestKind{"kind", TqnKeyType::Text, "", 0, 0, 0, "\"folder\", \"s3\" or \"sftp\""};
inline constexpr TqnSettingKey kDestUid{"uid",
                                        TqnKeyType::Text,
                                        "",
                                        0,
                                        0,
                                        0,
                                        "the destination's identity, 32 hexadecimal digits, as its marker file holds "
                                        "it (written by --init-destination)"};
inline constexpr TqnSettingKey kDestPath{
    "path",
    TqnKeyType::Text,
    "",
    0,
    0,
    0,
    "folder: another disk's or a share's folder, as this computer sees it; sftp: the folder on the server"};
inline constexpr TqnSettingKey kDestKeepLast{
    "keep_last", TqnKeyType::Integer, "10", 1, 30000, 1, "newest scheduled or manual copies kept there"};
inline constexpr TqnSettingKey kDestKeepDaily{
    "keep_daily", TqnKeyType::Integer, "0", 0, 3650, 1, "newest proven copy of each of the last N days kept there"};
inline constexpr TqnSettingKey kDestKeepWeekly{
    "keep_weekly", TqnKeyType::Integer, "0", 0, 3650, 1, "... of each of the last N weeks"};
inline constexpr TqnSettingKey kDestKeepMonthly{
    "keep_monthly", TqnKeyType::Integer, "0", 0, 3650, 1, "... of each of the last N months"};
inline constexpr TqnSettingKey kDestKeepRequested{
    "keep_requested", TqnKeyType::Integer, "3", 0, 3650, 1, "newest copies of workstations' backups kept there"};
inline constexpr TqnSettingKey kDestEndpoint{
    "endpoint",
    TqnKeyType::Text,
    "",
    0,
    0,
    0,
    "s3: the store's address, \"https://storage.example.net\"; sftp: \"sftp://host[:port]\""};
inline constexpr TqnSettingKey kDestRegion{"region", TqnKeyType::Text, "", 0, 0, 0, "s3: its region"};
inline constexpr TqnSettingKey kDestBucket{"bucket", TqnKeyType::Text, "", 0, 0, 0, "s3: the bucket"};
inline constexpr TqnSettingKey kDestPrefix{
    "prefix", TqnKeyType::Text, "", 0, 0, 0, "s3: the start of every object's key, \"office1/\""};
inline constexpr TqnSettingKey kDestAccessKey{"access_key", TqnKeyType::Text, "", 0, 0, 0, "s3: the access key"};
inline constexpr TqnSettingKey kDestSecretKey{"secret_key", TqnKeyType::Text, "", 0, 0, 0, "s3: its secret"};
inline constexpr TqnSettingKey kDestLockDays{
    "lock_days", TqnKeyType::Integer, "0", 0, 36500, 1, "s3: days each object is locked against deletion (0: none)"};
inline constexpr TqnSettingKey kDestKeyFile{
    "key_file", TqnKeyType::Text, "", 0, 0, 0, "file of the key copies are encrypted with (\"\": not encrypted)"};
inline constexpr TqnSettingKey kDestUser{"user", TqnKeyType::Text, "", 0, 0, 0, "sftp: the SSH user"};
inline constexpr TqnSettingKey kDestPassword{"password", TqnKeyType::Text, "", 0, 0, 0, "sftp: its password, or"};
inline constexpr TqnSettingKey kDestPrivateKey{
    "private_key", TqnKeyType::Text, "", 0, 0, 0, "sftp: the file of its private key on this computer"};
inline constexpr TqnSettingKey kDestHostKey{
    "host_key",
    TqnKeyType::Text,
    "",
    0,
    0,
    0,
    "sftp: the server's host key, \"SHA256:...\" as ssh-keygen -l prints it; another key is refused"};
inline constexpr TqnSettingKey kDestMaxKbps{
    "max_kbps", TqnKeyType::Integer, "0", 0, 10000000, 1, "upload limit in kilobits a second (0: none)"};
}  // namespace keys

// The tables, in the order the documentation lists them: the keys of a
// database entry, and those of the settings root.
const std::vector<const TqnSettingKey*>& EntryKeys();
const std::vector<const TqnSettingKey*>& RootKeys();
// The keys of a destination, below its element of "destinations".
const std::vector<const TqnSettingKey*>& DestinationKeys();

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

// "nas, cloud" as names: trimmed, empty ones and repeats left out; and an
// entry's "backup/copy_to" so.
std::vector<std::string> SplitNames(const std::string& list);
std::vector<std::string> CopyToNames(const TqnNode& entry);

// A positive integer key, or what a missing one means when the stored
// value is not positive (a time limit of 0 is no limit anyone meant).
int ReadPositiveInteger(const TqnNode& element, const TqnSettingKey& key);

// The documentation's tables of the keys (Markdown), made from the tables.
std::string KeysTable(const std::vector<const TqnSettingKey*>& keys);
inline std::string EntryKeysTable() { return KeysTable(EntryKeys()); }

}  // namespace qn
