// The connection, its transactions and statements against the Firebird 3.0
// server: errors told apart by status code, parameters by name, fields by
// name, Windows-1251 text, NULLs and blobs.
#include "firebird/fb_connection.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "firebird/fb_error.h"
#include "firebird/fb_statement.h"
#include "platform/files.h"
#include "fb_test_support.h"

namespace qn {
namespace {

class ConnectionTest : public fbtest::ServerTest {
 protected:
  void SetUp() override {
    fbtest::ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    connection_.SetDatabaseName(fbtest::Fb30Path(dir_.File("c.fd3")));
    connection_.CreateDatabase();
    Run("CREATE TABLE T (ID INTEGER NOT NULL, NAME VARCHAR(40), BIG BIGINT, AMOUNT NUMERIC(15,2), "
        "RATE DOUBLE PRECISION, DDAY DATE, STAMP TIMESTAMP, NOTE BLOB SUB_TYPE TEXT)");
    connection_.DefaultTransaction().Commit();
  }
  void Run(const std::string& sql) {
    TqnFbStatement statement(connection_);
    statement.Execute(sql);
  }
  int CountRows(TqnFbTransaction& transaction) {
    TqnFbStatement count(connection_, transaction);
    count.Execute("SELECT COUNT(*) AS N FROM T");
    EXPECT_TRUE(count.Fetch());
    return count.AsInteger("N");
  }

  TqnFbConnection connection_;
};

TEST_F(ConnectionTest, ErrorsAreToldApartByStatusCode) {
  TqnFbConnection other;
  std::string missing = dir_.File("missing.fd3");
  other.SetDatabaseName(fbtest::Fb30Path(missing));
  try {
    other.Attach();
    FAIL() << "attached a missing file";
  } catch (const Exception& e) {
    EXPECT_EQ(e.StatusCode(), fb::isc_io_error);
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }
  EXPECT_FALSE(other.Attached());

  other.SetDatabaseName(connection_.DatabaseName());
  other.SetPassword("wrong");
  try {
    other.Attach();
    FAIL() << "attached with a wrong password";
  } catch (const Exception& e) {
    EXPECT_EQ(e.StatusCode(), fb::isc_login);
    EXPECT_NE(std::string(e.what()), "");
  }
  other.SetPassword(fbtest::kPassword);
  EXPECT_NO_THROW(other.Attach());

  // A statement error carries its own code and the server's text.
  TqnFbStatement bad(connection_);
  try {
    bad.Prepare("SELECT NOSUCH FROM T");
    FAIL() << "prepared a bad statement";
  } catch (const EqnFbError& e) {
    EXPECT_NE(e.StatusCode(), 0);
    EXPECT_NE(e.StatusCode(), fb::isc_io_error);
    EXPECT_NE(std::string(e.what()).find("NOSUCH"), std::string::npos) << e.what();
  }
}

TEST_F(ConnectionTest, OdsVersionMatchesWhatTheServerReports) {
  std::string output;
  ASSERT_EQ(fbtest::RunIsql("SELECT 'ODS=' || MON$ODS_MAJOR || '.' || MON$ODS_MINOR FROM MON$DATABASE;\n", output,
                            connection_.DatabaseName(), fbtest::kUser, fbtest::kPassword),
            0)
      << output;
  EXPECT_NE(output.find(Format("ODS=%d.%d", connection_.OdsMajorVersion(), connection_.OdsMinorVersion())),
            std::string::npos)
      << output;
  EXPECT_EQ(connection_.OdsMajorVersion(), 12);
}

// Forced writes are switched through an attachment of their own, which
// must name a database in a Russian folder as the connection does.
TEST_F(ConnectionTest, ForcedWritesSwitchForADatabaseInARussianFolder) {
  platform::ForceDirectories(dir_.File(Win1251("Бухгалтерия")));
  TqnFbConnection russian;
  russian.SetDatabaseName(fbtest::Fb30Path(dir_.File(Win1251("Бухгалтерия/база.fd3"))));
  russian.CreateDatabase();
  russian.DefaultTransaction().Commit();
  ASSERT_TRUE(russian.ForcedWrites());
  russian.Detach();
  russian.SetForcedWrites(false);
  russian.Attach();
  EXPECT_FALSE(russian.ForcedWrites());
  russian.Detach();
  russian.SetForcedWrites(true);
  russian.Attach();
  EXPECT_TRUE(russian.ForcedWrites());
}

TEST_F(ConnectionTest, AttachesWithTheFixedParameters) {
  TqnFbStatement who(connection_);
  who.Execute(
      "SELECT TRIM(A.MON$USER) AS WHO, TRIM(C.RDB$CHARACTER_SET_NAME) AS CS, D.MON$SQL_DIALECT AS DIALECT "
      "FROM MON$ATTACHMENTS A JOIN RDB$CHARACTER_SETS C ON C.RDB$CHARACTER_SET_ID = A.MON$CHARACTER_SET_ID "
      "CROSS JOIN MON$DATABASE D WHERE A.MON$ATTACHMENT_ID = CURRENT_CONNECTION");
  ASSERT_TRUE(who.Fetch());
  EXPECT_EQ(who.AsString("WHO"), connection_.UserName());
  EXPECT_EQ(who.AsString("CS"), kFbCharacterSet);
  EXPECT_EQ(who.AsInteger("DIALECT"), kFbSqlDialect);
}

// The server's default lets a client choose: encrypted unless asked not to,
// and asked only for a database reached over the loopback.
TEST_F(ConnectionTest, PlainWireOnlyWhenAskedAndOnlyOverTheLoopback) {
  auto encrypted = [this] {
    TqnFbStatement query(connection_);
    query.Execute("SELECT RDB$GET_CONTEXT('SYSTEM', 'WIRE_ENCRYPTED') AS E FROM RDB$DATABASE");
    EXPECT_TRUE(query.Fetch());
    return query.AsString("E");
  };
  EXPECT_EQ(encrypted(), "TRUE");
  connection_.SetPlainLoopbackWire(true);
  connection_.Attach();
  EXPECT_EQ(encrypted(), "FALSE");
  connection_.SetPlainLoopbackWire(false);
  connection_.Attach();
  EXPECT_EQ(encrypted(), "TRUE");

  for (const char* local : {"localhost/53030:/data/x.fd3", "127.0.0.1:C:\\x.fdb", "LocalHost:/x.fdb",
                            "inet4://127.0.0.2:53030/x.fd3", "/data/x.fdb", "C:\\Data\\x.fdb"})
    EXPECT_TRUE(IsLoopbackDatabaseName(local)) << local;
  for (const char* remote :
       {"server:C:\\x.fdb", "127.example.org:/x.fdb", "192.168.0.5/3050:/x.fdb", "inet4://office/x.fd3", "x"})
    EXPECT_FALSE(IsLoopbackDatabaseName(remote)) << remote;
}

TEST_F(ConnectionTest, NamedParametersAndFieldsByName) {
  TqnFbStatement insert(connection_);
  insert.Prepare(
      "INSERT INTO T (ID, NAME, BIG, AMOUNT, RATE, DDAY, STAMP) VALUES (:id, :name, :big, :amount, :rate, :day, "
      ":stamp)");
  ASSERT_EQ(insert.ParamCount(), 7);
  EXPECT_EQ(insert.ParamSqlType(insert.ParamIndex("ID")), fb::SQL_LONG);
  EXPECT_EQ(insert.ParamSqlType(insert.ParamIndex("amount")), fb::SQL_INT64);
  EXPECT_EQ(insert.ParamScale(insert.ParamIndex("amount")), -2);
  EXPECT_EQ(insert.ParamIndex("nosuch"), -1);
  EXPECT_THROW(insert.SetString("nosuch", "x"), Exception);

  insert.SetInteger("id", 1);
  insert.SetString("name", "first");
  insert.SetInt64("big", 9000000000LL);
  insert.SetString("amount", "12.34");  // text converted by the server
  insert.SetDouble("rate", 0.125);
  insert.SetDate(insert.ParamIndex("day"), 2024, 3, 5);
  insert.SetTimestamp(insert.ParamIndex("stamp"), 2024, 3, 5, 6, 30, 12, 450);
  insert.Execute();
  // Values stay set; the second row differs in two of them.
  insert.SetInteger("id", 2);
  insert.SetString("big", "-17");
  insert.Execute();

  TqnFbStatement select(connection_);
  select.Prepare(
      "SELECT ID, NAME AS \"Label\", BIG, AMOUNT, RATE, DDAY, STAMP FROM T WHERE ID >= :low AND ID <= :low + 1 ORDER "
      "BY ID");
  select.SetInteger("low", 1);
  select.Execute();
  ASSERT_TRUE(select.Fetch());
  EXPECT_EQ(select.FieldCount(), 7);
  EXPECT_EQ(select.FieldName(1), "Label");
  EXPECT_EQ(select.AsInteger("ID"), 1);
  EXPECT_EQ(select.AsString("Label"), "first");
  EXPECT_EQ(select.AsString("label"), "first");  // ASCII case does not matter
  EXPECT_EQ(select.AsInt64("BIG"), 9000000000LL);
  EXPECT_EQ(select.AsString("AMOUNT"), "12.34");
  EXPECT_DOUBLE_EQ(select.AsDouble("AMOUNT"), 12.34);
  EXPECT_EQ(select.AsInteger("AMOUNT"), 12);
  EXPECT_DOUBLE_EQ(select.AsDouble("RATE"), 0.125);
  EXPECT_EQ(select.AsString("DDAY"), "2024-03-05");
  EXPECT_EQ(select.AsString("STAMP"), "2024-03-05 06:30:12.0450");
  ASSERT_TRUE(select.Fetch());
  EXPECT_EQ(select.AsInteger("ID"), 2);
  EXPECT_EQ(select.AsString("BIG"), "-17");
  EXPECT_FALSE(select.Fetch());
  EXPECT_FALSE(select.Fetch());
  EXPECT_THROW(select.AsInteger("ID"), Exception);  // no current row
  EXPECT_EQ(select.FieldIndex("nosuch"), -1);
  EXPECT_THROW(select.AsString("nosuch"), Exception);
}

TEST_F(ConnectionTest, Win1251TextRoundTripsAsSingleBytes) {
  // "ёлка и Ёжик" (fir tree and hedgehog): Cyrillic letters on both sides of the
  // Windows-1251 table, including the two outside the main block.
  const std::string text = Win1251("ёлка и Ёжик");
  ASSERT_EQ(text.size(), 11u);
  TqnFbStatement insert(connection_);
  insert.Prepare("INSERT INTO T (ID, NAME, NOTE) VALUES (1, :n, :n)");
  insert.SetString("n", text);  // one name at two positions: a VARCHAR and a text blob
  insert.Execute();

  TqnFbStatement select(connection_);
  select.Execute(
      "SELECT NAME, NOTE, OCTET_LENGTH(NAME) AS BYTES, CHAR_LENGTH(NAME) AS CHARS, "
      "UPPER(NAME) AS UP FROM T");
  ASSERT_TRUE(select.Fetch());
  EXPECT_EQ(select.AsString("NAME"), text);
  EXPECT_EQ(select.AsString("NOTE"), text);
  EXPECT_EQ(select.AsInteger("BYTES"), 11);
  EXPECT_EQ(select.AsInteger("CHARS"), 11);
  // The server knows the letters: its upper case is the Windows-1251 upper case.
  EXPECT_EQ(select.AsString("UP"), UpperCase(text));
}

TEST_F(ConnectionTest, NullsAndBlobs) {
  TqnFbStatement insert(connection_);
  insert.Prepare("INSERT INTO T (ID, NAME, BIG, NOTE) VALUES (:id, :name, :big, :note)");
  insert.SetInteger("id", 1);
  insert.SetString("name", "x");
  insert.SetNull("name");  // set, then NULL again
  // "big" is never set: NULL as well. The note is larger than one blob segment.
  std::string note;
  for (int i = 0; note.size() < 100000; ++i) note += Format("line %d\r\n", i);
  insert.SetString("note", note);
  insert.Execute();
  insert.SetInteger("id", 2);
  insert.SetString("name", "");
  insert.SetInt64("big", 0);
  insert.SetNull("note");
  insert.Execute();

  TqnFbStatement select(connection_);
  select.Execute("SELECT ID, NAME, BIG, NOTE FROM T ORDER BY ID");
  ASSERT_TRUE(select.Fetch());
  EXPECT_TRUE(select.IsNull("NAME"));
  EXPECT_TRUE(select.IsNull("BIG"));
  EXPECT_EQ(select.AsString("NAME"), "");
  EXPECT_EQ(select.AsInt64("BIG"), 0);
  EXPECT_FALSE(select.IsNull("NOTE"));
  EXPECT_EQ(select.AsString("NOTE"), note);
  ASSERT_TRUE(select.Fetch());
  EXPECT_FALSE(select.IsNull("NAME"));  // empty text is no NULL
  EXPECT_FALSE(select.IsNull("BIG"));
  EXPECT_TRUE(select.IsNull("NOTE"));
  EXPECT_FALSE(select.IsNull("ID"));
}

TEST_F(ConnectionTest, ExecutedProcedureGivesOneRow) {
  Run("CREATE PROCEDURE ADD2 (A INTEGER, B INTEGER) RETURNS (S INTEGER) AS BEGIN S = A + B; END");
  connection_.DefaultTransaction().Commit();
  TqnFbStatement call(connection_);
  call.Prepare("EXECUTE PROCEDURE ADD2(:a, :b)");
  call.SetInteger("a", 40);
  call.SetString("b", "2");
  call.Execute();
  ASSERT_TRUE(call.Fetch());
  EXPECT_EQ(call.AsInteger("S"), 42);
  EXPECT_FALSE(call.Fetch());
}

TEST_F(ConnectionTest, TransactionsCommitRollBackAndAreRolledBackOnDetach) {
  TqnFbTransaction writer(connection_);
  TqnFbTransaction reader(connection_);
  TqnFbStatement insert(connection_, writer);
  insert.Prepare("INSERT INTO T (ID) VALUES (:id)");
  insert.SetInteger("id", 1);
  insert.Execute();
  EXPECT_EQ(CountRows(reader), 0);  // not committed yet
  writer.Rollback();
  EXPECT_FALSE(writer.Active());
  insert.Execute();  // the transaction starts again
  writer.Commit();
  EXPECT_EQ(CountRows(reader), 1);  // read committed sees it now

  // Work left on the default transaction is rolled back when detaching.
  Run("INSERT INTO T (ID) VALUES (2)");
  EXPECT_TRUE(connection_.DefaultTransaction().Active());
  connection_.Detach();
  EXPECT_FALSE(connection_.DefaultTransaction().Active());
  EXPECT_FALSE(writer.Active());
  EXPECT_THROW(insert.Execute(), Exception);  // prepared on the attachment that is gone
  connection_.Attach();
  EXPECT_EQ(CountRows(reader), 1);
}

TEST_F(ConnectionTest, DefaultTransactionDoesNotWaitForLocks) {
  Run("INSERT INTO T (ID) VALUES (1)");
  connection_.DefaultTransaction().Commit();
  TqnFbTransaction other(connection_);
  TqnFbStatement hold(connection_, other);
  hold.Execute("UPDATE T SET NAME = 'held' WHERE ID = 1");
  // The row is locked by the other transaction: no wait means an error at once.
  TqnFbStatement update(connection_);
  update.Prepare("UPDATE T SET NAME = 'mine' WHERE ID = 1");
  EXPECT_THROW(update.Execute(), EqnFbError);
}

}  // namespace
}  // namespace qn
