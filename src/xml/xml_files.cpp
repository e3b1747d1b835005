#include "base/error.h"
#include "platform/files.h"
#include "xml/xml_utils.h"

namespace qn {

std::unique_ptr<TqnNode> XmlLoadFile(const std::string& fileName, const std::string& rootName) {
  return XmlLoadStream(platform::ReadFile(fileName), rootName);
}

std::unique_ptr<TqnNode> XmlLoadFileSafe(const std::string& fileName, const std::string& backupName,
                                         const std::string& rootName, const std::string& failureMessage,
                                         const XmlLogCallback& log) {
  auto say = [&](const std::string& text, bool showToUser) {
    if (log) log(text, showToUser);
  };
  const std::string backup = platform::JoinPath(platform::ExtractFileDir(fileName), backupName);
  auto giveUp = [&]() {
    if (!failureMessage.empty()) say(failureMessage, true);
    return std::make_unique<TqnNode>(rootName);
  };

  std::unique_ptr<TqnNode> root;
  try {
    root = XmlLoadFile(fileName, rootName);
  } catch (const std::exception& e) {
    say("can not read main file \"" + fileName + "\", error: " + e.what(), false);
  }
  if (root) {
    try {
      platform::CopyFile(fileName, backup, false);
    } catch (const std::exception& e) {
      say("can not create backup file \"" + backup + "\", of file \"" + fileName + "\", error: " + e.what(), false);
    }
    return root;
  }

  if (!platform::FileExists(backup)) {
    say("backup file \"" + backup + "\" not exists", false);
    return giveUp();
  }
  say("try read backup file \"" + backup + "\"", false);
  try {
    return XmlLoadFile(backup, rootName);
  } catch (const std::exception& e) {
    say("can not read backup file \"" + backup + "\", error: " + e.what(), false);
  }
  return giveUp();
}

}  // namespace qn
