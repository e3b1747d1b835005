#include "firebird/fb_client.h"

#include <map>
#include <mutex>

#include <cctype>
#include <tuple>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"

namespace qn {

std::string SelectClientLibrary(const std::string& programFolder, bool fb30) {
  std::string folder = fb30 ? platform::JoinPath(programFolder, kFb30ClientFolder) : programFolder;
  std::string path = platform::JoinPath(folder, kFbClientFileName);
  if (platform::FileExists(path) || !platform::kSystemLibraryFallback) return path;
  // Stand-in for the two client files shipped beside the program: the system's client.
  return kSystemFbClient;
}

namespace {

template <typename T>
void Bind(const platform::Library& library, const char* name, T& slot, bool required) {
  slot = reinterpret_cast<T>(library.Symbol(name));
  if (!slot && required)
    throw Exception(
        Format("Cannot load the Firebird client library \"%s\": it lacks %s", library.Path().c_str(), name));
}

}  // namespace

std::shared_ptr<TqnFbClient> TqnFbClient::Load(const std::string& path) {
  // A client library, once loaded, stays loaded for the life of the process:
  // its own threads (it answers SIGTERM with a shutdown thread of its own)
  // may still run its code, and unloading it under them crashes the process.
  // "Unloading" therefore only drops the connection's reference.
  static std::mutex cacheMutex;
  static auto* cache = new std::map<std::string, std::shared_ptr<TqnFbClient>>();  // never freed, on purpose
  std::lock_guard<std::mutex> lock(cacheMutex);
  if (auto it = cache->find(path); it != cache->end()) return it->second;
  std::shared_ptr<TqnFbClient> loaded = LoadUncached(path);
  (*cache)[path] = loaded;
  return loaded;
}

std::shared_ptr<TqnFbClient> TqnFbClient::LoadUncached(const std::string& path) {
  std::string error;
  std::unique_ptr<platform::Library> library = platform::Library::Load(path, &error);
  if (!library)
    throw Exception(Format("Cannot load the Firebird client library \"%s\": %s", path.c_str(), error.c_str()));
  std::shared_ptr<TqnFbClient> client(new TqnFbClient(std::move(library)));
  const platform::Library& lib = *client->library_;
  fb::TqnFbApi& a = client->api_;
#define QN_BIND(name, required) Bind(lib, #name, a.name, required)
  QN_BIND(isc_attach_database, true);
  QN_BIND(isc_detach_database, true);
  QN_BIND(isc_drop_database, true);
  QN_BIND(isc_database_info, true);
  QN_BIND(isc_start_multiple, true);
  QN_BIND(isc_commit_transaction, true);
  QN_BIND(isc_rollback_transaction, true);
  QN_BIND(isc_dsql_execute_immediate, true);
  QN_BIND(isc_dsql_allocate_statement, true);
  QN_BIND(isc_dsql_prepare, true);
  QN_BIND(isc_dsql_describe, true);
  QN_BIND(isc_dsql_describe_bind, true);
  QN_BIND(isc_dsql_execute, true);
  QN_BIND(isc_dsql_execute2, true);
  QN_BIND(isc_dsql_fetch, true);
  QN_BIND(isc_dsql_free_statement, true);
  QN_BIND(isc_dsql_sql_info, true);
  QN_BIND(fb_interpret, false);
  QN_BIND(isc_interprete, false);
  QN_BIND(isc_sqlcode, true);
  QN_BIND(isc_service_attach, true);
  QN_BIND(isc_service_detach, true);
  QN_BIND(isc_service_start, true);
  QN_BIND(isc_service_query, true);
  QN_BIND(isc_get_client_version, false);
  QN_BIND(fb_shutdown_callback, false);
  QN_BIND(isc_get_client_major_version, false);
  QN_BIND(isc_get_client_minor_version, false);
  QN_BIND(isc_create_blob2, true);
  QN_BIND(isc_open_blob2, true);
  QN_BIND(isc_put_segment, true);
  QN_BIND(isc_get_segment, true);
  QN_BIND(isc_close_blob, true);
  QN_BIND(isc_cancel_blob, true);
#undef QN_BIND
  if (!a.fb_interpret && !a.isc_interprete)
    throw Exception(Format("Cannot load the Firebird client library \"%s\": it lacks fb_interpret", path.c_str()));
  // The library answers SIGTERM and SIGINT with a shutdown of its own, on a
  // thread of its own, racing the program's orderly exit; the program ends
  // its connections itself, so that shutdown is declined.
  if (a.fb_shutdown_callback) {
    fb::ISC_STATUS_ARRAY status = {};
    a.fb_shutdown_callback(
        status, [](const int reason, const int, void*) { return reason == fb::fb_shutrsn_signal ? 1 : 0; },
        fb::fb_shut_confirmation, nullptr);
  }
  return client;
}

bool ParseClientVersionText(const std::string& text, TqnFbVersion& version) {
  auto digit = [&](size_t i) { return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); };
  for (size_t start = 0; start < text.size(); ++start) {
    if (!digit(start) || (start > 0 && digit(start - 1))) continue;
    int parts[4] = {0, 0, 0, 0};
    size_t i = start;
    int n = 0;
    while (n < 4 && digit(i)) {
      long value = 0;
      for (int width = 0; digit(i) && width < 9; ++width) value = value * 10 + (text[i++] - '0');
      parts[n++] = static_cast<int>(value);
      if (n < 4) {
        if (i >= text.size() || text[i] != '.') break;
        ++i;
      }
    }
    if (n == 4) {
      version = {parts[0], parts[1], parts[2], parts[3], true};
      return true;
    }
  }
  return false;
}

bool GetClientVersion(const TqnFbClient& client, TqnFbVersion& version) {
  // The version resource of the file, where the platform gives files one, is
  // what the client was released as.
  platform::FileVersion file;
  if (platform::GetFileVersion(client.Path(), file)) {
    version = {file.major, file.minor, file.release, file.build, true};
    return true;
  }
  const fb::TqnFbApi& api = client.Api();
  if (api.isc_get_client_version) {
    char text[256] = {};
    api.isc_get_client_version(text);
    text[sizeof text - 1] = '\0';
    if (ParseClientVersionText(text, version)) return true;
  }
  if (api.isc_get_client_major_version && api.isc_get_client_minor_version) {
    version = {api.isc_get_client_major_version(), api.isc_get_client_minor_version(), 0, 0, false};
    return true;
  }
  return false;
}

bool VersionAtLeast(const TqnFbVersion& v, int major, int minor, int release, int build) {
  if (!v.full) return std::tie(v.major, v.minor) >= std::tie(major, minor);
  return std::tie(v.major, v.minor, v.release, v.build) >= std::tie(major, minor, release, build);
}

bool ClientVersionAtLeast(const TqnFbClient& client, int major, int minor, int release, int build) {
  TqnFbVersion version;
  if (!GetClientVersion(client, version)) return true;
  return VersionAtLeast(version, major, minor, release, build);
}

}  // namespace qn
