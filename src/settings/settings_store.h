// The settings tree of the run, loaded once from "settings.xml" beside the
// program and written back whole at the save points.
//
// Threads: the main thread is the only one that changes the tree, and it
// does so inside Change(). Other threads (the info server's connections)
// read it inside Read(), which excludes a change in progress. The main
// thread may read without the lock.
#pragma once

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "xml/xml_utils.h"

namespace qn {

// True while the packet key is the one every installation starts with: any
// machine that can reach the info server can then ask it for the databases'
// passwords.
bool IsDefaultPacketKey(const std::string& key);
// The warning said once at start-up (log, message pane) and by the status
// command while the key is the default.
std::string DefaultPacketKeyWarning();

class TqnSettingsStore {
 public:
  static constexpr const char* kFileName = "settings.xml";
  static constexpr const char* kBackupName = "backupcf.txt";
  static constexpr const char* kRootName = "settings";
  static constexpr const char* kDefaultPin = "JD_LW4";

  explicit TqnSettingsStore(std::string programFolder);

  // "settings.xml" through the safe loader when it exists, else an empty
  // root; log receives the loader's lines and its failure message.
  void Load(const XmlLogCallback& log);
  // Writes the whole tree to "settings.xml"; errors propagate.
  void Save() const;
  // Gives "PIN" the default when it is missing or empty; returns its text.
  std::string EnsurePacketKey();

  std::string FileName() const;
  TqnNode& Root() { return *root_; }
  const TqnNode& Root() const { return *root_; }

  template <class F>
  auto Read(F&& f) const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    return f(static_cast<const TqnNode&>(*root_));
  }
  template <class F>
  auto Change(F&& f) {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    return f(*root_);
  }

 private:
  std::string programFolder_;
  std::unique_ptr<TqnNode> root_;
  mutable std::shared_mutex mutex_;
};

}  // namespace qn
