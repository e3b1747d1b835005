#include "settings/installation_password.h"

#include "base/text.h"
#include "firebird/fb_paths.h"
#include "settings/register.h"

namespace qn {

bool IsPrivateServerPath(const std::string& path, const std::string& ownHostName) {
  try {
    // A drive path is answered without asking the system: it is no server's.
    const TFbLocation location = ParseDatabasePath(path, [](const std::string&) { return platform::DriveType::Fixed; });
    return location.protocol != fpLocal && location.port == kFb30Port && IsLocalHost(location.host, ownHostName);
  } catch (const EqnDNError&) {
    return false;
  }
}

int MoveEntriesToInstallationPassword(TqnNode& root, const std::string& password, const std::string& ownHostName) {
  TqnNode* data = RegisterOf(root);
  int moved = 0;
  for (int i = 0; i < data->NodeCount(); ++i) {
    TqnNode* entry = data->Nodes(i);
    int number;
    if (!ParseEntryName(entry->Name(), number)) continue;
    if (UpperCase(TrimBlanks(entry->FindNode("user")->Content().AsString(""))) != kDefaultUser) continue;
    if (entry->FindNode("pwd")->Content().AsString("") != kDefaultPassword) continue;
    if (!IsPrivateServerPath(entry->FindNode("path")->Content().AsString(""), ownHostName)) continue;
    entry->Node("pwd")->Content().SetString(password);
    ++moved;
  }
  return moved;
}

}  // namespace qn
