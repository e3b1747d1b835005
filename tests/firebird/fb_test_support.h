// What the Firebird client tests share: the two local servers (started by
// scripts/firebird-servers.sh), a folder the servers can write, the system's
// client library and the isql-fb tool run the way the program runs clients.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"
#include "firebird/fb_statement.h"
#include "platform/files.h"
#include "test_support/temp_dir.h"

namespace qn::fbtest {

inline constexpr const char* kHost = "localhost";
inline constexpr int kFb30Port = 53030;
inline constexpr int kClassicPort = 3050;
inline constexpr const char* kUser = "SYSDBA";
inline constexpr const char* kPassword = "quillfern";

// Runs a shell command, returns its exit status and its output (stdout and stderr).
inline int RunCommand(const std::string& command, std::string& output) {
  output.clear();
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The system's client library file, "" when none is installed.
inline std::string SystemClientFile() {
  for (const char* dir : {"/usr/lib/x86_64-linux-gnu", "/usr/lib64", "/usr/lib"}) {
    std::string path = std::string(dir) + "/libfbclient.so.2";
    if (platform::FileExists(path)) return path;
  }
  return {};
}

inline bool FirebirdPackagesPresent() {
  return platform::FileExists("/usr/sbin/firebird") && platform::FileExists("/usr/bin/isql-fb") &&
         !SystemClientFile().empty();
}

// A word for the shell, single-quoted.
inline std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs an SQL script with isql-fb as a client of the servers (no server root
// of its own), attached to database with user and password when database is
// not empty; returns its exit status, output in output.
inline int RunIsql(const std::string& script, std::string& output, const std::string& database = {},
                   const std::string& user = {}, const std::string& password = {}) {
  TempDir dir;
  std::string file = dir.File("script.sql");
  platform::WriteFileReplacing(file, script);
  std::string command = "env -u FIREBIRD -u FIREBIRD_LOCK -u ISC_USER -u ISC_PASSWORD isql-fb -q -bail -ch WIN1251";
  if (!database.empty())
    command += " -user " + ShellQuote(user) + " -password " + ShellQuote(password) + " " + ShellQuote(database);
  return RunCommand(command + " -i " + ShellQuote(file) + " </dev/null", output);
}

// Connection path of a file on the Firebird 3.0 server.
inline std::string Fb30Path(const std::string& file) { return std::string(kHost) + "/53030:" + file; }

// Tests against the real servers: the servers are started once per test
// program; without the Firebird packages every test is skipped.
class ServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!FirebirdPackagesPresent()) return;
    // The program runs its clients without a server root of their own.
    ::unsetenv("FIREBIRD");
    ::unsetenv("FIREBIRD_LOCK");
    std::string script =
        (std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "scripts" / "firebird-servers.sh").string();
    startStatus() = RunCommand("bash '" + script + "' start", startOutput());
  }
  void SetUp() override {
    if (!FirebirdPackagesPresent())
      GTEST_SKIP() << "the Firebird packages (firebird3.0-server, firebird3.0-utils, libfbclient2) are not installed";
    ASSERT_EQ(startStatus(), 0) << "scripts/firebird-servers.sh start failed:\n" << startOutput();
  }
  static int& startStatus() {
    static int status = -1;
    return status;
  }
  static std::string& startOutput() {
    static std::string output;
    return output;
  }

  // A folder for databases and backups; /tmp, which the servers can write.
  TempDir dir_;
};

// The remaining rows of an executed query, each as its fields' texts joined
// by "|" ("<null>" for a null field).
inline std::vector<std::string> FetchRows(TqnFbStatement& query) {
  std::vector<std::string> rows;
  while (query.Fetch()) {
    std::string row;
    for (int i = 0; i < query.FieldCount(); ++i)
      row += (i ? "|" : "") + (query.IsNull(i) ? std::string("<null>") : query.AsString(i));
    rows.push_back(row);
  }
  return rows;
}

}  // namespace qn::fbtest
