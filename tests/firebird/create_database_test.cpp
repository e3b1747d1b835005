// Creating a new database on the Firebird 3.0 server, checked with isql-fb.
#include "firebird/create_database.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <vector>

#include "base/text.h"
#include "firebird/fb_client.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_error.h"
#include "fb_test_support.h"
#include "platform/files.h"

namespace qn {
namespace {

using fbtest::kPassword;
using fbtest::kUser;

class CreateDatabaseTest : public fbtest::ServerTest {
 protected:
  void SetUp() override {
    fbtest::ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // A state folder that holds a Firebird 3.0 client in "fb30c": others may
    // write such a folder, so the client must never come from it.
    std::filesystem::create_directories(program_.File(kFb30ClientFolder));
    std::filesystem::create_symlink(fbtest::SystemClientFile(),
                                    program_.File(kFb30ClientFolder) + "/" + kFbClientFileName);
  }

  // Reads, as isql-fb sees the database, the marker row and the ODS major version.
  std::string Inspect(const TqnDbCredentials& c) {
    std::string output;
    int status = fbtest::RunIsql(
        "SELECT 'ROW=' || FNAME || '/' || FSTATE FROM TPROTO;\n"
        "SELECT 'ODS=' || MON$ODS_MAJOR FROM MON$DATABASE;\n",
        output, c.path, c.user, c.password);
    EXPECT_EQ(status, 0) << output;
    return output;
  }

  // A login dialog that answers from a list and records what it was shown.
  TqnLoginCallback Dialog(std::vector<std::pair<std::string, std::string>> answers) {
    return [this, answers](std::string& user, std::string& password) mutable {
      shown_.push_back({user, password});
      if (answers.empty()) return false;
      user = answers.front().first;
      password = answers.front().second;
      answers.erase(answers.begin());
      return true;
    };
  }

  TempDir program_;
  TqnFbConnection connection_;
  std::vector<std::pair<std::string, std::string>> shown_;
};

TEST_F(CreateDatabaseTest, CreatesTheMarkerTableOnTheFb30Client) {
  TqnDbCredentials in{fbtest::Fb30Path(dir_.File("tx.fd3")), kUser, kPassword};
  TqnDbCredentials out = CreateDatabase(connection_, in, Dialog({}));
  EXPECT_EQ(out.path, in.path);
  EXPECT_EQ(out.user, in.user);
  EXPECT_EQ(out.password, in.password);
  EXPECT_TRUE(shown_.empty());
  EXPECT_FALSE(connection_.Attached());
  EXPECT_EQ(connection_.LibraryName(), SelectClientLibrary(platform::ExecutableFolder(), true));
  EXPECT_NE(connection_.LibraryName(), program_.File(kFb30ClientFolder) + "/" + kFbClientFileName);

  std::string seen = Inspect(out);
  EXPECT_NE(seen.find("ROW=TX7/PROTO"), std::string::npos) << seen;
  EXPECT_NE(seen.find("ODS=12"), std::string::npos) << seen;
}

TEST_F(CreateDatabaseTest, RefusedLoginAsksAgainUntilCredentialsWork) {
  TqnDbCredentials in{fbtest::Fb30Path(dir_.File("tx.fd3")), kUser, "wrong"};
  TqnDbCredentials out = CreateDatabase(connection_, in, Dialog({{kUser, "still wrong"}, {kUser, kPassword}}));
  // Shown the values in use at each refusal: first the entry's, then the typed ones.
  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(shown_[0].second, "wrong");
  EXPECT_EQ(shown_[1].second, "still wrong");
  EXPECT_EQ(out.user, kUser);
  EXPECT_EQ(out.password, kPassword);
  EXPECT_FALSE(connection_.Attached());
  EXPECT_NE(Inspect(out).find("ROW=TX7/PROTO"), std::string::npos);
}

TEST_F(CreateDatabaseTest, CancelledLoginRethrowsTheLoginError) {
  TqnDbCredentials in{fbtest::Fb30Path(dir_.File("tx.fd3")), kUser, "wrong"};
  try {
    CreateDatabase(connection_, in, Dialog({}));
    FAIL() << "created with a wrong password";
  } catch (const Exception& e) {
    EXPECT_EQ(e.StatusCode(), 335544472L);
  }
  EXPECT_EQ(shown_.size(), 1u);
  EXPECT_FALSE(connection_.Attached());
  EXPECT_FALSE(platform::FileExists(dir_.File("tx.fd3")));
}

TEST_F(CreateDatabaseTest, ExistingFileOrMissingFolderGivesTheFolderMessage) {
  TqnDbCredentials in{fbtest::Fb30Path(dir_.File("tx.fd3")), kUser, kPassword};
  CreateDatabase(connection_, in, Dialog({}));
  for (const std::string& path : {in.path, fbtest::Fb30Path(dir_.File("no/such/folder/tx.fd3"))}) {
    TqnDbCredentials again{path, kUser, kPassword};
    try {
      CreateDatabase(connection_, again, Dialog({}));
      FAIL() << "created " << path;
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), Format(Win1251("Путь \"%s\" указывает на недоступный каталог,\r\n"
                                                      "или база данных с этим путем уже существует")
                                                  .c_str(),
                                              path.c_str()));
      EXPECT_EQ(e.StatusCode(), fb::isc_io_error);
    }
    EXPECT_FALSE(connection_.Attached());
  }
  EXPECT_TRUE(shown_.empty());
}

// The server may refuse the goodbye of the new database's attachment (here
// a transaction the connection does not know of is still open, so the
// server answers "cannot disconnect database with open transactions"):
// everything of the creation was committed, so the database counts as
// created and the failed detach is only logged.
TEST_F(CreateDatabaseTest, AFailedLastDetachStillReportsTheDatabaseCreated) {
  TqnDbCredentials in{fbtest::Fb30Path(dir_.File("tx.fd3")), kUser, kPassword};
  connection_.SetDatabaseName(in.path);
  connection_.SetUserName(in.user);
  connection_.SetPassword(in.password);
  connection_.SetLibraryName(SelectClientLibrary(program_.path(), true));
  CreateAttachedDatabase(connection_, Dialog({}), [](TqnFbConnection&) {});
  const fb::TqnFbApi& api = connection_.Api();
  fb::isc_db_handle database = *connection_.Handle();
  fb::isc_tr_handle open = 0;
  fb::TqnTeb teb{&database, 0, nullptr};
  fb::ISC_STATUS_ARRAY status = {};
  ASSERT_EQ(api.isc_start_multiple(status, &open, 1, &teb), 0);

  std::vector<std::string> logged;
  TqnDbCredentials out = FinishDatabaseCreation(connection_, [&](const std::string& text) { logged.push_back(text); });
  EXPECT_EQ(out.path, in.path);
  EXPECT_EQ(out.password, in.password);
  EXPECT_FALSE(connection_.Attached());
  ASSERT_EQ(logged.size(), 1u) << "the detach did not fail";
  EXPECT_EQ(logged[0].rfind("detaching the new database " + in.path + " failed: ", 0), 0u) << logged[0];
  api.isc_rollback_transaction(status, &open);
  api.isc_detach_database(status, &database);
}

TEST_F(CreateDatabaseTest, QuoteInTheFolderName) {
  std::string folder = dir_.File("it's");
  std::filesystem::create_directories(folder);
  TqnDbCredentials in{fbtest::Fb30Path(folder + "/tx.fd3"), kUser, kPassword};
  TqnDbCredentials out = CreateDatabase(connection_, in, Dialog({}));
  EXPECT_TRUE(platform::FileExists(folder + "/tx.fd3"));
  EXPECT_NE(Inspect(out).find("ROW=TX7/PROTO"), std::string::npos);
}

// A user of the Firebird 3.0 server whose password holds quotes; removed again.
class QuotedPasswordUser {
 public:
  QuotedPasswordUser(const std::string& adminDatabase) : adminDatabase_(adminDatabase) {
    name_ = Format("QNQUOTE%u", static_cast<unsigned>(::getpid()));
    created_ = Admin("CREATE USER " + name_ + " PASSWORD '" + QuoteSqlLiteral(password_) + "';\nCOMMIT;\n" +
                     "GRANT CREATE DATABASE TO USER " + name_ + ";\nCOMMIT;\n");
  }
  ~QuotedPasswordUser() {
    if (created_)
      Admin("REVOKE CREATE DATABASE FROM USER " + name_ + ";\nCOMMIT;\nDROP USER " + name_ + ";\nCOMMIT;\n");
  }
  bool Created() const { return created_; }
  const std::string& Name() const { return name_; }
  const std::string& Password() const { return password_; }
  const std::string& Output() const { return output_; }

 private:
  bool Admin(const std::string& sql) { return fbtest::RunIsql(sql, output_, adminDatabase_, kUser, kPassword) == 0; }
  std::string adminDatabase_;
  std::string name_;
  std::string password_ = "q'u\"o''te";
  std::string output_;
  bool created_ = false;
};

TEST_F(CreateDatabaseTest, QuotesInThePassword) {
  TqnDbCredentials admin{fbtest::Fb30Path(dir_.File("admin.fd3")), kUser, kPassword};
  CreateDatabase(connection_, admin, Dialog({}));
  QuotedPasswordUser user(admin.path);
  ASSERT_TRUE(user.Created()) << user.Output();

  TqnDbCredentials in{fbtest::Fb30Path(dir_.File("tx.fd3")), user.Name(), user.Password()};
  TqnDbCredentials out = CreateDatabase(connection_, in, Dialog({}));
  EXPECT_TRUE(shown_.empty());
  EXPECT_EQ(out.password, user.Password());
  EXPECT_NE(Inspect(out).find("ROW=TX7/PROTO"), std::string::npos);
}

}  // namespace
}  // namespace qn
