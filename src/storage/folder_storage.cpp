#include "storage/folder_storage.h"

#include <vector>

#include "base/error.h"
#include "base/sha256.h"
#include "base/text.h"
#include "platform/files.h"

namespace qn::storage {

namespace {

constexpr size_t kChunk = 1 << 20;

// The folder's own separator: a server's folder written with '/' keeps it
// on Windows too (a '\\' would be part of the name there).
std::string WithSeparator(const std::string& folder) {
  return folder.empty() ? folder : platform::JoinPath(folder, "");
}

// An object's name is a plain name: one with a separator would reach out
// of the folder.
void CheckName(const std::string& folder, const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos || name.find('\\') != std::string::npos || name == "." ||
      name == "..")
    throw Exception(Format(Win1251("Недопустимое имя \"%s\" в \"%s\"").c_str(), name.c_str(), folder.c_str()));
}

[[noreturn]] void Fail(const char* what, const std::string& name, const std::string& folder, const std::exception& e) {
  throw Exception(Format(Win1251(what).c_str(), name.c_str(), folder.c_str(), e.what()));
}

}  // namespace

FolderStorage::FolderStorage(std::string folder, std::string unfinishedPrefix)
    : folder_(WithSeparator(std::move(folder))), prefix_(std::move(unfinishedPrefix)) {}

std::string FolderStorage::PathOf(const std::string& name) const {
  CheckName(folder_, name);
  return folder_ + name;
}

std::vector<std::string> FolderStorage::List() {
  if (!platform::DirectoryExists(folder_))
    throw Exception(Format(Win1251("Каталог \"%s\" недоступен").c_str(), folder_.c_str()));
  return platform::ListFiles(folder_);
}

ObjectInfo FolderStorage::Info(const std::string& name) {
  const std::string path = PathOf(name);
  ObjectInfo info;
  info.name = name;
  info.size = platform::FileSize(path);
  // Something else under the name (a folder) is there too: it is never
  // taken for a missing object and written over.
  info.exists = info.size >= 0 || platform::DirectoryExists(path);
  return info;
}

void FolderStorage::Read(const std::string& name, const std::function<void(const char* data, size_t size)>& onChunk) {
  platform::ReadFileChunks(PathOf(name), onChunk);
}

WrittenObject FolderStorage::Write(const std::string& name, ByteSource& source, const WriteOptions& options) {
  const std::string path = PathOf(name);
  if (options.lockUntilUnix != 0)
    throw Exception(Format(Win1251("Каталог \"%s\" не умеет защищать файлы от удаления").c_str(), folder_.c_str()));
  const std::string unfinished = folder_ + UnfinishedName(name);
  WrittenObject written;
  try {
    // A file under this name is what an earlier write of ours left when it
    // was killed: the prefix carries our identity.
    if (platform::FileExists(unfinished)) platform::DeleteFile(unfinished);
    std::unique_ptr<platform::NewFile> file = platform::NewFile::Create(unfinished);
    TqnSha256 hash;
    std::vector<char> buffer(kChunk);
    for (;;) {
      const size_t n = source.Read(buffer.data(), buffer.size());
      if (n == 0) break;
      hash.Update(buffer.data(), n);
      file->Write(buffer.data(), n);
      written.size += static_cast<int64_t>(n);
    }
    file->Commit();
    written.sha256Hex = hash.HexDigest();
    platform::RenameReplacing(unfinished, path);
  } catch (const std::exception& e) {
    try {
      if (platform::FileExists(unfinished)) platform::DeleteFile(unfinished);
    } catch (const std::exception&) {
      // removed by RemoveUnfinished at the next start
    }
    Fail("Не удалось записать \"%s\" в \"%s\": %s", name, folder_, e);
  }
  return written;
}

void FolderStorage::Rename(const std::string& from, const std::string& to) {
  try {
    platform::RenameReplacing(PathOf(from), PathOf(to));
  } catch (const std::exception& e) {
    Fail("Не удалось переименовать \"%s\" в \"%s\": %s", folder_ + from, folder_ + to, e);
  }
}

void FolderStorage::Remove(const std::string& name) {
  try {
    platform::DeleteFile(PathOf(name));
  } catch (const std::exception& e) {
    Fail("Не удалось удалить \"%s\" в \"%s\": %s", name, folder_, e);
  }
}

bool FolderStorage::Check(const std::string& name, const WrittenObject& written, std::string* why) {
  return CheckReadBack(*this, name, written, why);
}

int FolderStorage::RemoveUnfinished() {
  if (prefix_.empty()) return 0;
  int removed = 0;
  for (const std::string& name : platform::ListFiles(folder_)) {
    if (name.rfind(prefix_, 0) != 0) continue;
    try {
      platform::DeleteFile(folder_ + name);
      ++removed;
    } catch (const std::exception&) {
      // still open: the next start tries again
    }
  }
  return removed;
}

bool CheckReadBack(Storage& storage, const std::string& name, const WrittenObject& written, std::string* why) {
  WrittenObject found;
  try {
    found = HashObject(storage, name);
  } catch (const std::exception& e) {
    if (why) *why = e.what();
    return false;
  }
  if (found.size == written.size && found.sha256Hex == written.sha256Hex) return true;
  if (why)
    *why =
        Format(Win1251("\"%s\" в \"%s\" не совпадает с записанным: %lld байт, SHA-256 %s вместо %lld байт, %s").c_str(),
               name.c_str(), storage.Describe().c_str(), static_cast<long long>(found.size), found.sha256Hex.c_str(),
               static_cast<long long>(written.size), written.sha256Hex.c_str());
  return false;
}

WrittenObject HashObject(Storage& storage, const std::string& name) {
  TqnSha256 hash;
  WrittenObject found;
  storage.Read(name, [&](const char* data, size_t size) {
    hash.Update(data, size);
    found.size += static_cast<int64_t>(size);
  });
  found.sha256Hex = hash.HexDigest();
  return found;
}

}  // namespace qn::storage
