// Where a database lives: the grammar of an entry's path text, its
// validation, the server generation it belongs to and the local-host rule.
//
// Accepted path forms:
//   C:\Data\tx.fd3               a file on a local drive (fpLocal)
//   \Data\tx.fd3                 a file under the root of this machine (fpLocal)
//   host:file, host/port:file    the classic remote form (fpTcp)
//   inet[4|6]://host[:port]/file the URL form (fpInet, fpInet4, fpInet6)
//
// Everything here is pure except the drive-type question asked for a drive
// path, which goes to the platform unless the caller supplies an answer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "platform/files.h"

namespace qn {

// How a server is reached; the ordinals are stored and must not change.
enum TFbProtocol : uint8_t { fpLocal = 0, fpTcp = 1, fpInet = 2, fpInet4 = 3, fpInet6 = 4 };

struct TFbLocation {
  TFbProtocol protocol = fpLocal;
  std::string host;      // empty for a local file
  int32_t port = 0;      // 0: none given, the server's default
  std::string filePath;  // the database file as the server sees it
};

inline constexpr int32_t kFb30Port = 53030;                              // the private Firebird 3.0 server
inline constexpr int32_t kFbDefaultPort = 3050;                          // the classic server
inline constexpr std::string_view kFb30Extensions[] = {".FD3", ".FD4"};  // compared upper-cased
inline constexpr std::string_view kLocalHostName = "localhost";
inline constexpr std::string_view kLoopbackAddress = "127.0.0.1";

// A rejected database path; the message names the rule and the text.
class EqnDNError : public Exception {
 public:
  using Exception::Exception;
};

// Answers the type of a drive root such as "C:\".
using TDriveTypeQuery = std::function<platform::DriveType(const std::string& root)>;

// Reads the URL form only: optional leading bytes below 33, a scheme of
// exactly "inet", "inet4" or "inet6" (lower case), "://", a host (may be
// empty), optionally ":" and at most five digits of port, then "/" and the
// file path (anything, may be empty). Returns false for any other text;
// out is then unspecified. Never throws.
bool ParseFbUrl(std::string_view text, TFbLocation& out);

// Reads any accepted form; throws EqnDNError with message (n) for:
//   (1) fewer than 4 characters
//   (2) two leading slashes or backslashes (a network share)
//   (3) a drive whose type is unknown, remote or CD-ROM
//   (4) no ":" with at least two characters before it
//   (5) "host/port:" whose port is not a positive decimal number
// A drive path is accepted for any other drive type, including a letter
// without a root directory. driveType defaults to platform::GetDriveType.
TFbLocation ParseDatabasePath(const std::string& text, const TDriveTypeQuery& driveType = {});

// True when the location belongs to the Firebird 3.0 server: port 53030, or
// a file path ending in ".FD3" or ".FD4" in any case.
bool IsFb30Location(const TFbLocation& location);
// IsFb30Location of ParseDatabasePath(path); throws EqnDNError as it does.
bool IsFb30Database(const std::string& path, const TDriveTypeQuery& driveType = {});

// The host, trimmed of blanks and lower-cased, is empty, "localhost",
// "127.0.0.1" or, when ownName is not empty, ownName trimmed and lower-cased.
bool IsLocalHost(std::string_view host, std::string_view ownName);

// Looks for "--name=value" among the program's arguments (without the
// program name), first to last. An argument shorter than 4 characters, not
// starting with "--" or without "=" is skipped; the name is the text between
// "--" and the first "=", trimmed of blanks, compared case-sensitively; the
// value is all after that "=". Without a match value is "" and the result false.
bool GetCmdOption(const std::vector<std::string>& args, const std::string& name, std::string& value);
// The same over main's arguments; argv[0], the program, is not looked at.
bool GetCmdOption(int argc, const char* const* argv, const std::string& name, std::string& value);

// The decimal number formed by the digits of text, without leading zeros:
// "db0012" gives "12", a text without digits "0". Digits beyond any integer
// width are kept, so the number of a key is never cut or wrapped.
std::string DigitsOnly(std::string_view text);

}  // namespace qn
