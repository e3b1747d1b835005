#include "app/folder_check.h"

#include "base/text.h"
#include "platform/files.h"

namespace qn {

std::string FolderWriteProblem(const std::string& folder, const std::string& probeName) {
  if (!platform::DirectoryExists(folder)) return Win1251("каталога нет");
  const std::string probe = platform::JoinPath(folder, probeName);
  try {
    platform::WriteFileReplacing(probe, "");
    platform::DeleteFile(probe);
    return {};
  } catch (const std::exception& e) {
    return e.what();
  }
}

}  // namespace qn
