#include "firebird/connect_string.h"

#include "firebird/ini_file.h"
#include "platform/files.h"

namespace qn {

std::string BuildConnectString(const TqnAddressContext& context, const std::string& path, bool wantUrl,
                               const TDriveTypeQuery& driveType) {
  TFbLocation location;
  try {
    location = ParseDatabasePath(path, driveType);
  } catch (const EqnDNError&) {
    return path;
  }
  bool local = IsLocalHost(location.host, "");
  if (wantUrl && IsFb30Location(location)) {
    std::string address = context.forceInet6 ? "inet6://" : "inet4://";
    address += local ? context.localHostName : location.host;
    if (location.port != 0) address += ":" + std::to_string(location.port);
    return address + "/" + location.filePath;
  }
  if (!local) return path;
  if (location.port != 0) return context.localHostName + "/" + std::to_string(location.port) + ":" + location.filePath;
  return context.localHostName + ":" + location.filePath;
}

std::string GetFb30ServerAddress(const TqnAddressContext& context) {
  if (!context.fbIniPresent) return std::string(kLocalHostName) + "/" + std::to_string(kFb30Port);
  if (context.fbIniPort == 0 || context.fbIniPort == kFbDefaultPort) return context.fbIniHost;
  return context.fbIniHost + "/" + std::to_string(context.fbIniPort);
}

void ReadFbIni(const std::string& programFolder, TqnAddressContext& context) {
  std::string path = platform::JoinPath(programFolder, "fb.ini");
  context.fbIniPresent = platform::FileExists(path);
  std::string text;
  if (context.fbIniPresent) {
    try {
      text = platform::ReadFile(path);
    } catch (const Exception&) {
      text.clear();
    }
  }
  context.fbIniHost = ReadIniString(text, "default", "host", std::string(kLocalHostName));
  context.fbIniPort = ReadIniInteger(text, "default", "port", kFbDefaultPort);
}

}  // namespace qn
