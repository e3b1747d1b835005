#include "firebird/fb30_password.h"

#include <cstdlib>
#include <fstream>

namespace qn {

std::string Fb30PasswordFile(const std::string& instanceFolder) {
  std::string folder = instanceFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder + "/" + kFb30PasswordFileName;
}

bool IsFb30Password(const std::string& text) {
  if (text.size() < kFb30PasswordMinLength) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  return true;
}

bool ReadFb30PasswordFile(const std::string& kernelPath, std::string& password) {
  std::ifstream in(kernelPath);
  std::string line;
  if (!in || !std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (!IsFb30Password(line)) return false;
  password = line;
  return true;
}

std::optional<std::string> InstalledFb30Password() {
#ifdef _WIN32
  return std::nullopt;
#else
  const char* dir = std::getenv("QN_FB30_DIR");
  std::string password;
  if (!ReadFb30PasswordFile(Fb30PasswordFile((dir && *dir) ? dir : "/var/lib/qndbmgr-fb30"), password))
    return std::nullopt;
  return password;
#endif
}

}  // namespace qn
