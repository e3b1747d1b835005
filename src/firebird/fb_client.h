// The Firebird client library: which file serves a server generation, the
// loaded library with its table of entry points, and its version.
#pragma once

#include <memory>
#include <string>

#include "firebird/fb_api.h"
#include "platform/system.h"

namespace qn {

inline constexpr const char* kFbClientFileName = QN_LIBRARY_FILE("fbclient");
// The subfolder of the program folder holding the Firebird 3.0 client.
inline constexpr const char* kFb30ClientFolder = "fb30c";
// The system's client, used when the program folder holds none.
inline constexpr const char* kSystemFbClient = QN_SYSTEM_LIBRARY("fbclient", 2);

// The client library file for a server generation: kFbClientFileName in the
// program folder (classic server) or in its subfolder "fb30c" (fb30). When
// that file does not exist the result is kSystemFbClient, a bare name that
// the system's library search resolves, where the system has a client of
// its own; elsewhere the missing file stays the answer, and loading it fails
// with the message a user must see.
std::string SelectClientLibrary(const std::string& programFolder, bool fb30);

// One loaded client library. Shared by the objects that work through it
// (connection, statements, services), so that it stays loaded while any of
// them still needs it.
class TqnFbClient {
 public:
  // Loads the library, or gives the one loaded before from that path (a
  // client library is never unloaded); throws Exception when it cannot be
  // loaded ("Cannot load the Firebird client library \"<path>\": <reason>")
  // or lacks a required entry point ("... \"<path>\" lacks <name>").
  static std::shared_ptr<TqnFbClient> Load(const std::string& path);

  const fb::TqnFbApi& Api() const { return api_; }
  const std::string& Path() const { return library_->Path(); }

 private:
  static std::shared_ptr<TqnFbClient> LoadUncached(const std::string& path);
  explicit TqnFbClient(std::unique_ptr<platform::Library> library) : library_(std::move(library)) {}
  std::unique_ptr<platform::Library> library_;
  fb::TqnFbApi api_;
};

struct TqnFbVersion {
  int major = 0, minor = 0, release = 0, build = 0;
  bool full = false;  // all four parts known, not only major and minor
};

// Reads the first "a.b.c.d" group of digits in the library's version text
// (e.g. "LI-V3.0.11.33703 Firebird 3.0"); false when there is none.
bool ParseClientVersionText(const std::string& text, TqnFbVersion& version);

// The library's own version: from its file's version resource, else from
// its version text, else from its major and minor version calls (full =
// false). False when it offers none of them.
bool GetClientVersion(const TqnFbClient& client, TqnFbVersion& version);

// True when the library's version is at least the one given. A library that
// does not tell its version counts as new enough; one that tells only major
// and minor is compared on those two.
bool ClientVersionAtLeast(const TqnFbClient& client, int major, int minor, int release, int build);
bool VersionAtLeast(const TqnFbVersion& version, int major, int minor, int release, int build);

}  // namespace qn
