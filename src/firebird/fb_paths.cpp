#include "firebird/fb_paths.h"

#include <climits>

#include "base/text.h"

namespace qn {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLowerLetter(char c) { return c >= 'a' && c <= 'z'; }
bool IsLetter(char c) { return IsLowerLetter(c) || (c >= 'A' && c <= 'Z'); }
bool IsSlash(char c) { return c == '/' || c == '\\'; }

[[noreturn]] void Reject(int rule, const std::string& text) {
  static const std::string kPrefix = Win1251("Недопустимое значение пути к базе данных (");
  throw EqnDNError(kPrefix + std::to_string(rule) + "): " + text);
}

// A port written as decimal digits that fits in 32 bits, else 0.
int32_t PortValue(std::string_view digits) {
  if (digits.empty()) return 0;
  long long value = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return 0;
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) return 0;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

bool ParseFbUrl(std::string_view text, TFbLocation& out) {
  enum { kLead, kScheme, kSlash1, kSlash2, kHost, kPort, kFile } state = kLead;
  std::string scheme, port;
  out = TFbLocation();
  for (char c : text) {
    switch (state) {
      case kLead:
        if (static_cast<unsigned char>(c) < 33) break;
        if (!IsDigit(c) && !IsLowerLetter(c)) return false;
        scheme += c;
        state = kScheme;
        break;
      case kScheme:
        if (IsDigit(c) || IsLowerLetter(c)) {
          scheme += c;
        } else if (c == ':') {
          if (scheme == "inet")
            out.protocol = fpInet;
          else if (scheme == "inet4")
            out.protocol = fpInet4;
          else if (scheme == "inet6")
            out.protocol = fpInet6;
          else
            return false;
          state = kSlash1;
        } else {
          return false;
        }
        break;
      case kSlash1:
      case kSlash2:
        if (c != '/') return false;
        state = state == kSlash1 ? kSlash2 : kHost;
        break;
      case kHost:
        if (c == ':')
          state = kPort;
        else if (c == '/')
          state = kFile;
        else
          out.host += c;
        break;
      case kPort:
        if (c == '/')
          state = kFile;
        else if (IsDigit(c) && port.size() < 5)
          port += c;
        else
          return false;
        break;
      case kFile: out.filePath += c; break;
    }
  }
  if (state != kFile) return false;
  out.port = PortValue(port);
  return true;
}

TFbLocation ParseDatabasePath(const std::string& text, const TDriveTypeQuery& driveType) {
  if (text.size() < 4) Reject(1, text);

  TFbLocation location;
  if (ParseFbUrl(text, location)) return location;

  if (IsSlash(text[0]) && IsSlash(text[1])) Reject(2, text);

  location = TFbLocation();
  if (IsLetter(text[0]) && text[1] == ':' && IsSlash(text[2]) && text.find(':', 3) == std::string::npos) {
    std::string root = std::string(1, text[0]) + ":\\";
    platform::DriveType type = driveType ? driveType(root) : platform::GetDriveType(root);
    if (type == platform::DriveType::Unknown || type == platform::DriveType::Remote ||
        type == platform::DriveType::CdRom)
      Reject(3, text);
    location.filePath = text;
    return location;
  }

  if (IsSlash(text[0]) && IsLetter(text[1]) && text.find(':', 2) == std::string::npos) {
    location.filePath = text;
    return location;
  }

  size_t colon = text.find(':');
  if (colon == std::string::npos || colon < 2) Reject(4, text);
  std::string server = text.substr(0, colon);
  location.protocol = fpTcp;
  location.filePath = text.substr(colon + 1);
  size_t slash = server.find('/');
  if (slash == std::string::npos) {
    location.host = server;
  } else {
    location.host = server.substr(0, slash);
    location.port = PortValue(std::string_view(server).substr(slash + 1));
    if (location.port <= 0) Reject(5, text);
  }
  return location;
}

bool IsFb30Location(const TFbLocation& location) {
  if (location.port == kFb30Port) return true;
  if (location.filePath.size() < 4) return false;
  std::string extension = UpperCase(std::string_view(location.filePath).substr(location.filePath.size() - 4));
  for (std::string_view known : kFb30Extensions)
    if (extension == known) return true;
  return false;
}

bool IsFb30Database(const std::string& path, const TDriveTypeQuery& driveType) {
  return IsFb30Location(ParseDatabasePath(path, driveType));
}

bool IsLocalHost(std::string_view host, std::string_view ownName) {
  std::string name = LowerCase(TrimBlanks(host));
  if (name.empty() || name == kLocalHostName || name == kLoopbackAddress) return true;
  return !ownName.empty() && name == LowerCase(TrimBlanks(ownName));
}

bool GetCmdOption(const std::vector<std::string>& args, const std::string& name, std::string& value) {
  value.clear();
  for (const std::string& arg : args) {
    if (arg.size() < 4 || arg.compare(0, 2, "--") != 0) continue;
    size_t equals = arg.find('=');
    if (equals == std::string::npos) continue;
    if (TrimBlanks(std::string_view(arg).substr(2, equals - 2)) == name) {
      value = arg.substr(equals + 1);
      return true;
    }
  }
  return false;
}

bool GetCmdOption(int argc, const char* const* argv, const std::string& name, std::string& value) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  return GetCmdOption(args, name, value);
}

std::string DigitsOnly(std::string_view text) {
  std::string digits;
  for (char c : text)
    if (IsDigit(c) && !(digits.empty() && c == '0')) digits += c;
  return digits.empty() ? "0" : digits;
}

}  // namespace qn
