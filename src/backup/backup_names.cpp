#include "backup/backup_names.h"

#include "base/text.h"
#include "platform/files.h"

namespace qn {

std::string NormalizeBackupFolder(const std::string& folder) {
  if (folder.empty()) return folder;
  // Where paths are written with "/", a folder written so is completed with
  // "/" too: left bare, the file name would be glued onto the folder's last
  // name. On Windows a folder with "/" and no "\" is a path of a Linux
  // server, which writes the file there: a "\" would be part of the file's
  // name. Elsewhere the folder gets "\".
  const bool slashes = folder.find('/') != std::string::npos;
  const char separator =
      slashes && (platform::kPathSeparator == '/' || folder.find('\\') == std::string::npos) ? '/' : '\\';
  if (folder.back() == separator) return folder;
  return folder + separator;
}

bool IsUsableBackupFolder(const std::string& folder) { return NormalizeBackupFolder(folder).size() > 3; }

const char* BackupExtension(bool fb30) { return fb30 ? ".bk3" : ".fbk"; }

std::string BackupFileName(const std::string& folder, const std::string& prefix, const DateTime& time, bool fb30) {
  return NormalizeBackupFolder(folder) + prefix + FormatDateTime(kBackupTimeFormat, time) + BackupExtension(fb30);
}

bool IsProgramBackupName(const std::string& name, bool* requested) {
  for (const char* prefix : {kManualBackupPrefix, kAutoBackupPrefix, kRemoteBackupPrefix}) {
    const std::string p = prefix;
    if (name.compare(0, p.size(), p) != 0) continue;
    // "yyyy.mm.dd-hh.nn.ss-zzz" and the extension.
    const std::string shape = "dddd.dd.dd-dd.dd.dd-ddd";
    if (name.size() != p.size() + shape.size() + 4) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
      const char c = name[p.size() + i];
      if (shape[i] == 'd' ? (c < '0' || c > '9') : c != shape[i]) return false;
    }
    const std::string extension = name.substr(p.size() + shape.size());
    if (extension != BackupExtension(true) && extension != BackupExtension(false)) return false;
    if (requested) *requested = p == kRemoteBackupPrefix;
    return true;
  }
  return false;
}

std::string PartialBackupName(const std::string& file, const std::string& entryId) {
  return platform::JoinPath(platform::ExtractFileDir(file),
                            kPartialPrefix + entryId + "-" + platform::ExtractFileName(file));
}

std::string ServiceSafeName(const std::string& name) {
  std::string safe = name;
  for (char& c : safe)
    if (static_cast<unsigned char>(c) == 0xFF) c = static_cast<char>(0xDF);
  return safe;
}

std::string ServiceDatabaseName(const std::string& filePath, bool oldClient) {
  if (platform::kUtf8FileNames) return platform::KernelFileName(filePath);
  return oldClient ? Win1251ToUtf8(filePath) : ServiceSafeName(filePath);
}

std::string ServiceBackupFileName(const std::string& name) {
  if (platform::kUtf8FileNames) return platform::KernelFileName(name);
  return ServiceSafeName(name);
}

}  // namespace qn
