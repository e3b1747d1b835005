// The encryption's files: the key file and the decrypted copy, through the
// platform layer.
#include <optional>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "storage/crypto.h"
#include "storage/encryption.h"

namespace qn::storage {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A fresh name beside a file that nothing else uses: what is written under it
// is provably this process's own.
std::string TemporaryBeside(const std::string& path) { return path + "." + HexOf(RandomBytes(6)) + ".new"; }

}  // namespace

EncryptionKey LoadOrCreateKeyFile(const std::string& path, bool* created) {
  if (created) *created = false;
  if (!platform::FileExists(path)) {
    const std::string temporary = TemporaryBeside(path);
    try {
      // Created readable by its owner only, before the key is in it.
      auto file = platform::AppendFile::Open(temporary, true);
      if (!file) throw Exception(Win1251("не удаётся создать файл ключа ") + temporary);
      file->Append(HexOf(RandomBytes(AesGcm::kKeySize)) + "\n");
      file.reset();
      platform::RestrictToOwner(temporary);
      // Fails when another process made the key first: its key stays.
      platform::MoveFile(temporary, path);
      if (created) *created = true;
    } catch (const std::exception&) {
      if (platform::FileExists(temporary)) platform::DeleteFile(temporary);
      if (!platform::FileExists(path)) throw;
    }
  }
  std::string text = platform::ReadFile(path);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  std::string bytes;
  for (size_t i = 0; i + 1 < text.size() && text.size() == 2 * AesGcm::kKeySize; i += 2) {
    const int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) break;
    bytes += static_cast<char>(hi << 4 | lo);
  }
  if (bytes.size() != AesGcm::kKeySize)
    throw Exception(Win1251("в файле ключа ") + path + Win1251(" нет ключа (64 шестнадцатеричные цифры)"));
  return KeyFromBytes(bytes);
}

struct DecryptingFileWriter::State {
  std::string path;
  std::string temporary;
  std::unique_ptr<platform::AppendFile> file;
  std::optional<Decryptor> decryptor;
  std::string pending;  // plaintext gathered into larger writes
  bool committed = false;
};

DecryptingFileWriter::DecryptingFileWriter(const EncryptionKey& key, const std::string& path)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.path = path;
  s.temporary = TemporaryBeside(path);
  s.file = platform::AppendFile::Open(s.temporary, true);
  if (!s.file) throw Exception(Win1251("не удаётся создать файл ") + s.temporary);
  s.decryptor.emplace(key, [&s](const char* data, size_t size) {
    s.pending.append(data, size);
    if (s.pending.size() >= (1u << 20)) {
      s.file->Append(s.pending);
      s.pending.clear();
    }
  });
}

DecryptingFileWriter::~DecryptingFileWriter() {
  State& s = *state_;
  if (s.committed) return;
  s.file.reset();
  try {
    if (platform::FileExists(s.temporary)) platform::DeleteFile(s.temporary);
  } catch (const std::exception&) {
    // Best effort: the name of the copy itself was never touched.
  }
}

void DecryptingFileWriter::Write(const char* data, size_t size) { state_->decryptor->Write(data, size); }

void DecryptingFileWriter::Commit() {
  State& s = *state_;
  s.decryptor->Finish();
  if (!s.pending.empty()) s.file->Append(s.pending);
  s.pending.clear();
  s.file.reset();
  platform::RenameReplacing(s.temporary, s.path);
  s.committed = true;
}

void DecryptToFile(const EncryptionKey& key, const std::string& encryptedPath, const std::string& plainPath) {
  DecryptingFileWriter writer(key, plainPath);
  platform::ReadFileChunks(encryptedPath, [&](const char* data, size_t size) { writer.Write(data, size); });
  writer.Commit();
}

}  // namespace qn::storage
