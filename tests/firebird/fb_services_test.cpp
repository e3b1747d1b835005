// Backup and restore through the service manager of the Firebird 3.0 server.
#include "firebird/fb_services.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/text.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_error.h"
#include "firebird/fb_statement.h"
#include "fb_test_support.h"

namespace qn {
namespace {

using fbtest::kFb30Port;
using fbtest::kHost;
using fbtest::kPassword;
using fbtest::kUser;

class ServicesTest : public fbtest::ServerTest {
 protected:
  void SetUp() override {
    fbtest::ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    database_ = dir_.File("src.fd3");
    TqnFbConnection connection;
    connection.SetDatabaseName(fbtest::Fb30Path(database_));
    connection.CreateDatabase();
    TqnFbStatement statement(connection);
    statement.Execute("CREATE TABLE T (NAME VARCHAR(20))");
    connection.DefaultTransaction().Commit();
    statement.Prepare("INSERT INTO T VALUES (:n)");
    statement.SetString("n", text_);
    statement.Execute();
    connection.DefaultTransaction().Commit();
    client_ = TqnFbClient::Load(kSystemFbClient);
  }

  std::vector<std::string> Backup(const std::string& file) {
    std::vector<std::string> lines;
    TqnFbServices services(client_);
    TqnFbBackupRequest request;
    request.database = database_;
    request.backupFile = file;
    services.Backup(kHost, kFb30Port, kUser, kPassword, request, [&](const std::string& l) { lines.push_back(l); });
    EXPECT_FALSE(services.Attached());
    return lines;
  }

  std::string ReadName(const std::string& file) {
    TqnFbConnection connection;
    connection.SetDatabaseName(fbtest::Fb30Path(file));
    connection.Attach();
    TqnFbStatement statement(connection);
    statement.Execute("SELECT NAME FROM T");
    EXPECT_TRUE(statement.Fetch());
    return statement.AsString("NAME");
  }

  const std::string text_ = Win1251("Ёжик в тумане");
  std::string database_;
  std::shared_ptr<TqnFbClient> client_;
};

TEST_F(ServicesTest, BackupDeliversVerboseLinesToTheEnd) {
  std::string file = dir_.File("a.bk3");
  std::vector<std::string> lines = Backup(file);
  ASSERT_GT(lines.size(), 10u);
  for (const std::string& line : lines) EXPECT_EQ(line.substr(0, 5), "gbak:") << line;
  // The output runs to the closing of the backup file.
  bool closing = false;
  for (const std::string& line : lines) closing = closing || line.find("closing file") != std::string::npos;
  EXPECT_TRUE(closing) << lines.back();
  EXPECT_TRUE(platform::FileExists(file));
}

TEST_F(ServicesTest, RestoreIntoANewDatabaseWithAndWithoutTheMetadataFix) {
  std::string file = dir_.File("a.bk3");
  Backup(file);
  for (bool fix : {false, true}) {
    std::string target = dir_.File(fix ? "fixed.fd3" : "plain.fd3");
    TqnFbRestoreRequest request;
    request.backupFile = file;
    request.database = target;
    if (fix) request.fixFssMetadata = kFbCharacterSet;
    std::vector<std::string> lines;
    TqnFbServices services(client_);
    services.Restore(kHost, kFb30Port, kUser, kPassword, request, [&](const std::string& l) { lines.push_back(l); });
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().substr(0, 5), "gbak:");
    EXPECT_EQ(ReadName(target), text_) << "fix=" << fix;
  }
  // Create, not replace: a second restore onto an existing file fails.
  TqnFbRestoreRequest again;
  again.backupFile = file;
  again.database = dir_.File("plain.fd3");
  TqnFbServices services(client_);
  EXPECT_THROW(services.Restore(kHost, kFb30Port, kUser, kPassword, again, {}), EqnFbError);
  EXPECT_FALSE(services.Attached());
}

TEST_F(ServicesTest, FailuresAndAStoppingHandlerDetach) {
  TqnFbServices services(client_);
  try {
    services.Attach(kHost, kFb30Port, kUser, "wrong");
    FAIL() << "attached with a wrong password";
  } catch (const Exception& e) {
    EXPECT_EQ(e.StatusCode(), fb::isc_login);
  }
  EXPECT_FALSE(services.Attached());

  // A handler that throws ends the action; the service is detached.
  TqnFbBackupRequest request;
  request.database = database_;
  request.backupFile = dir_.File("b.bk3");
  int seen = 0;
  EXPECT_THROW(services.Backup(kHost, kFb30Port, kUser, kPassword, request,
                               [&](const std::string&) {
                                 if (++seen == 3) throw Exception("stop");
                               }),
               Exception);
  EXPECT_EQ(seen, 3);
  EXPECT_FALSE(services.Attached());

  // A database that does not exist: the service reports it.
  request.database = dir_.File("missing.fd3");
  request.backupFile = dir_.File("c.bk3");
  std::vector<std::string> lines;
  EXPECT_THROW(
      services.Backup(kHost, kFb30Port, kUser, kPassword, request, [&](const std::string& l) { lines.push_back(l); }),
      EqnFbError);
  EXPECT_FALSE(services.Attached());
}

}  // namespace
}  // namespace qn
