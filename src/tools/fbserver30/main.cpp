// fbserver30: this platform's installer of the private Firebird 3.0 server
// instance "Firebird SQL 3.0 QN", started by the program beside which it lies
// when the instance is not installed.
//
//   fbserver30 [--allow FOLDER]... [--legacy-clients 0|1]
//                                 install: prepare, start and wait (see install.h);
//                                 FOLDER is one more where databases may be,
//                                 legacy clients turn the legacy login on or off
//   fbserver30 --stop             stop the instance's guard and its server
//   fbserver30 --password         print the installation's SYSDBA password (root)
//   fbserver30 --keep-password    make sure it is kept, for the service's group (root)
//   fbserver30 --service          prepare, then guard in the foreground (the
//                                 system service's way of running it)
//   fbserver30 --guard --dir D --port P [--adopt]
//                                 the guard process itself (see guard.h)
//
// QN_FB30_DIR (default /var/lib/qndbmgr-fb30) and QN_FB30_PORT (default
// 53030) choose the instance's folder and port for install and stop.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "tools/fbserver30/guard.h"
#include "tools/fbserver30/install.h"
#include "tools/fbserver30/password.h"
#include "platform/files.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: fbserver30 [--allow FOLDER]... [--legacy-clients 0|1] [--stop | --password | --keep-password | "
               "--service]\n"
               "       fbserver30 --guard --dir FOLDER --port PORT [--adopt]\n");
  return 2;
}

int Run(const std::vector<std::string>& args) {
  using namespace fbserver30;
  if (args.empty() || args[0] != "--guard") {
    std::string mode;
    std::vector<std::string> allow;
    int legacy = -1;
    for (size_t i = 0; i < args.size(); ++i) {
      if (args[i] == "--allow" && i + 1 < args.size()) {
        allow.push_back(args[++i]);
      } else if (args[i] == "--legacy-clients" && i + 1 < args.size() && (args[i + 1] == "0" || args[i + 1] == "1")) {
        legacy = args[++i] == "1";
      } else if (mode.empty() && (args[i] == "--stop" || args[i] == "--service" || args[i] == "--password" ||
                                  args[i] == "--keep-password")) {
        mode = args[i];
      } else {
        return Usage();
      }
    }
    const TInstance instance = TInstance::FromEnvironment();
    if (mode == "--stop") return RunStop(instance);
    if (mode == "--password") return RunShowPassword(instance);
    if (mode == "--keep-password") return RunKeepPassword(instance);
    if (!allow.empty() || legacy >= 0) {
      // Kept in the instance folder; the server reads them when it starts.
      qn::platform::ForceDirectories(instance.base);
      AllowDatabaseFolders(instance, allow);
      if (legacy >= 0) AllowLegacyClients(instance, legacy == 1);
    }
    return mode == "--service" ? RunService(instance) : RunInstall(instance);
  }
  TInstance instance;
  bool adopt = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--adopt") {
      adopt = true;
    } else if (args[i] == "--dir" && i + 1 < args.size()) {
      instance.base = args[++i];
    } else if (args[i] == "--port" && i + 1 < args.size()) {
      instance.port = std::atoi(args[++i].c_str());
    } else {
      return Usage();
    }
  }
  if (instance.base.empty() || instance.port <= 0) return Usage();
  return RunGuard(instance, adopt);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fbserver30: %s\n", e.what());
    return 1;
  }
}
