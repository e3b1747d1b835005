// The script runner on the Firebird 3.0 server.
#include "firebird/fb_script.h"

#include <gtest/gtest.h>

#include <vector>

#include "firebird/fb_connection.h"
#include "firebird/fb_error.h"
#include "firebird/fb_statement.h"
#include "fb_test_support.h"

namespace qn {
namespace {

class ScriptTest : public fbtest::ServerTest {
 protected:
  void SetUp() override {
    fbtest::ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    connection_.SetDatabaseName(fbtest::Fb30Path(dir_.File("s.fd3")));
    connection_.CreateDatabase();
  }
  int Count(const std::string& sql) {
    TqnFbTransaction transaction(connection_);
    TqnFbStatement statement(connection_, transaction);
    statement.Execute(sql);
    EXPECT_TRUE(statement.Fetch());
    return statement.AsInteger(0);
  }

  TqnFbConnection connection_;
  std::vector<std::string> reported_;
  TqnScriptStatementHandler record_ = [this](const std::string& s) { reported_.push_back(s); };
};

TEST_F(ScriptTest, TermCommentsQuotesAndProcedureBodies) {
  const std::string script =
      "/* the schema; of a test */\n"
      "CREATE TABLE S (ID INTEGER, TXT VARCHAR(40));\n"
      "-- a comment; with a semicolon\n"
      "INSERT INTO S VALUES (1, 'a;b');\n"
      "INSERT INTO S VALUES (2, 'it''s; \"q\"');\n"
      "SET TERM ^ ;\n"
      "CREATE PROCEDURE P RETURNS (N INTEGER) AS\n"
      "DECLARE VARIABLE V INTEGER;\n"
      "BEGIN\n"
      "  SELECT COUNT(*) FROM S INTO :V; /* ; */\n"
      "  N = V; -- ;\n"
      "  SUSPEND;\n"
      "END^\n"
      "SET TERM ; ^\n"
      "CREATE TABLE \"Odd;Name\" (X INTEGER);\n"
      "SET AUTODDL ON;\n"
      "COMMIT WORK;\n"
      "INSERT INTO \"Odd;Name\" VALUES (7);\n"
      "INSERT INTO S VALUES (3, 'x')";
  TqnFbTransaction& transaction = connection_.DefaultTransaction();
  EXPECT_EQ(RunScript(connection_, transaction, script, record_), 9);
  ASSERT_EQ(reported_.size(), 9u);
  EXPECT_EQ(reported_[1], "INSERT INTO S VALUES (1, 'a;b')");
  EXPECT_EQ(reported_[3].substr(0, 23), "CREATE PROCEDURE P RETU");
  EXPECT_EQ(reported_[3].substr(reported_[3].size() - 3), "END");
  EXPECT_FALSE(transaction.Active());  // committed at the end

  TqnFbTransaction check(connection_);
  TqnFbStatement rows(connection_, check);
  rows.Execute("SELECT TXT FROM S ORDER BY ID");
  std::vector<std::string> texts;
  while (rows.Fetch()) texts.push_back(rows.AsString("TXT"));
  EXPECT_EQ(texts, (std::vector<std::string>{"a;b", "it's; \"q\"", "x"}));
  EXPECT_EQ(Count("SELECT N FROM P"), 3);
  EXPECT_EQ(Count("SELECT X FROM \"Odd;Name\""), 7);
}

TEST_F(ScriptTest, FailureStopsTheRunAfterCommittingEarlierDdl) {
  const std::string script =
      "CREATE TABLE A (X INTEGER);\n"
      "INSERT INTO A VALUES (1);\n"
      "INSERT INTO NOSUCH VALUES (1);\n"
      "CREATE TABLE B (Y INTEGER);\n";
  TqnFbTransaction& transaction = connection_.DefaultTransaction();
  try {
    RunScript(connection_, transaction, script, record_);
    FAIL() << "the script ran through";
  } catch (const EqnFbError& e) {
    EXPECT_NE(std::string(e.what()).find("NOSUCH"), std::string::npos) << e.what();
  }
  ASSERT_EQ(reported_.size(), 3u);
  EXPECT_EQ(reported_.back(), "INSERT INTO NOSUCH VALUES (1)");
  transaction.Rollback();
  EXPECT_EQ(Count("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'A'"), 1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'B'"), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM A"), 0);  // the insert was not committed
}

}  // namespace
}  // namespace qn
