// A fresh folder under the temporary folder, removed with its content at the
// end of the test.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// Not the Win32 macros, but the functions of the code under test.
#undef CopyFile
#undef DeleteFile
#undef GetDriveType
#undef MoveFile
#endif

// Points the user's temporary folder (TMPDIR here, TMP on Windows) at a
// folder until destroyed.
class TempFolderOverride {
 public:
#ifdef _WIN32
  explicit TempFolderOverride(const std::string& folder) { _putenv_s(kVariable, folder.c_str()); }
  ~TempFolderOverride() { _putenv_s(kVariable, saved_.c_str()); }
  static constexpr const char* kVariable = "TMP";
#else
  explicit TempFolderOverride(const std::string& folder) { ::setenv(kVariable, folder.c_str(), 1); }
  ~TempFolderOverride() {
    if (had_)
      ::setenv(kVariable, saved_.c_str(), 1);
    else
      ::unsetenv(kVariable);
  }
  static constexpr const char* kVariable = "TMPDIR";
#endif
  TempFolderOverride(const TempFolderOverride&) = delete;
  TempFolderOverride& operator=(const TempFolderOverride&) = delete;

 private:
  const bool had_ = std::getenv(kVariable) != nullptr;
  const std::string saved_ = had_ ? std::getenv(kVariable) : "";
};

class TempDir {
 public:
#ifdef _WIN32
  // Windows has no mkdtemp: a name of this process that is not taken yet.
  TempDir() {
    static int counter = 0;
    for (;;) {
      auto dir = std::filesystem::temp_directory_path() /
                 ("qntest." + std::to_string(::GetCurrentProcessId()) + "." + std::to_string(++counter));
      if (std::filesystem::create_directory(dir)) {
        path_ = dir.string();
        break;
      }
    }
  }
  static constexpr char kSeparator = '\\';
#else
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qntest.XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  static constexpr char kSeparator = '/';
#endif
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + kSeparator + name; }
  // Names in the folder, sorted.
  std::vector<std::string> Entries() const { return ListDir(path_); }
  static std::vector<std::string> ListDir(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};
