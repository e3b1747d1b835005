// Loading a data member into a database of the Firebird 3.0 server: values
// of each type, the object register, generators, replaced rows, triggers,
// index statistics, and failures that roll the load back.
#include "dump/dump_loader.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <sstream>

#include "base/error.h"
#include "base/text.h"
#include "dump/dump_batch.h"
#include "dump/dump_params.h"
#include "dump/dump_text.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_script.h"
#include "firebird/fb_statement.h"
#include "firebird/fb_test_support.h"
#include "firebird/fb_values.h"
#include "test_support/fake_clock.h"

namespace qn {
namespace {

// A number the server wrote, read the same under any process locale.
double Number(const std::string& text) {
  double value = -1;
  EXPECT_TRUE(ParseDouble(text, value)) << text;
  return value;
}

const char* kSchema =
    "CREATE TABLE \"tObject\" (\"UID\" CHAR(12) NOT NULL PRIMARY KEY, \"fAge\" INTEGER, \"fCreated\" INTEGER,"
    " \"fChanged\" TIMESTAMP, \"fTable\" VARCHAR(40), \"fState\" CHAR(1), \"fLazy\" INTEGER);\n"
    "CREATE TABLE \"tPerson\" (\"fObject\" CHAR(12) NOT NULL PRIMARY KEY, \"fName\" VARCHAR(40) CHARACTER SET "
    "WIN1251, \"fAge\" INTEGER, \"fBig\" BIGINT, \"fAmount\" NUMERIC(15,2), \"fBorn\" DATE, \"fSeen\" TIMESTAMP,"
    " \"fNote\" BLOB SUB_TYPE TEXT, \"fRate\" DOUBLE PRECISION, \"fBoss\" CHAR(12));\n"
    "CREATE TABLE \"tDoc\" (\"fObject\" CHAR(12) NOT NULL PRIMARY KEY, \"fName\" VARCHAR(40), \"fNum\" INTEGER,"
    " \"fDate\" DATE);\n"
    "CREATE TABLE \"tLog\" (\"fObject\" CHAR(12) NOT NULL, \"fText\" VARCHAR(20));\n"
    "CREATE TABLE \"tSyncUserActions\" (\"fObject\" CHAR(12) NOT NULL, \"fVersion\" BIGINT);\n"
    "CREATE TABLE \"tClock\" (\"fObject\" CHAR(12) NOT NULL, \"fAt\" TIME, \"fWhen\" TIMESTAMP, \"fFlag\" BOOLEAN);\n"
    "CREATE TABLE \"tLedger\" (\"fObject\" CHAR(12) NOT NULL, \"fSum\" NUMERIC(18,2), \"fPrice\" DECIMAL(9,3),"
    " \"fRate\" DOUBLE PRECISION);\n"
    "CREATE TABLE \"tTimes\" (\"fObject\" CHAR(12) NOT NULL, \"fAt\" TIME, \"fPrice\" DECIMAL(9,3),"
    " \"fSmall\" SMALLINT, \"fWhen\" TIMESTAMP);\n"
    "CREATE GENERATOR \"gDoc\";\n"
    "CREATE GENERATOR \"gCounter\";\n"
    "CREATE GENERATOR \"gSyncUserActionsVersion\";\n"
    // Index names are written unquoted by the statistics step, so they are upper case.
    "CREATE INDEX IPERSONNAME ON \"tPerson\" (\"fName\");\n"
    "SET TERM ^ ;\n"
    "CREATE TRIGGER \"trLog\" FOR \"tLog\" BEFORE INSERT AS BEGIN\n"
    "  IF (RDB$GET_CONTEXT('USER_TRANSACTION', 'trigger.disabled') IS NULL) THEN NEW.\"fText\" = 'trigger';\n"
    "END^\n"
    "SET TERM ; ^\n"
    "INSERT INTO \"tDoc\" VALUES ('000000000000', 'empty', 0, NULL);\n"
    "INSERT INTO \"tPerson\" (\"fObject\", \"fName\") VALUES ('070000000001', 'old');\n"
    "INSERT INTO \"tObject\" (\"UID\", \"fTable\") VALUES ('070000000001', 'old');\n";

const char* kMeta =
    "(meta"
    " (types (TUid (d CHAR 12)) (TName (d VARCHAR 40)) (TInt (d INTEGER)) (TBig (d BIGINT)) (TMoney (d NUMERIC 15))"
    "  (TDate (d DATE)) (TStamp (d TIMESTAMP)) (TText (d BLOB)) (TReal (d DOUBLE)) (TShort (d VARCHAR 20))"
    "  (TTime (d TIME)) (TBool (d BOOLEAN)) (TAmount (d NUMERIC)))"
    " (tables"
    "  (Person (fields (Object (type TUid)) (Name (type TName)) (Age (type TInt)) (Big (type TBig))"
    "   (Amount (type TAmount)) (Born (type TDate)) (Seen (type TStamp)) (Note (type TText)) (Rate (type TReal))"
    "   (Boss (type Person))))"
    "  (Doc (fields (Object (type TUid)) (Name (type TName)) (Date (type TDate))))"
    "  (Log (tags other unmanaged) (fields (Object (type TUid)) (Text (type TShort))))"
    "  (SyncUserActions (fields (Object (type TUid)) (Version (type TBig))))"
    "  (Clock (tags unmanaged) (fields (Object (type TUid)) (At (type TTime)) (When (type TStamp)) (Flag (type "
    "TBool))))"
    "  (Ledger (tags unmanaged) (fields (Object (type TUid)) (Sum (type TAmount)) (Price (type TMoney)) (Rate (type "
    "TReal))))"
    "  (Times (tags unmanaged) (fields (Object (type TUid)) (At (type TTime)) (Price (type TAmount)) (Small (type "
    "TInt))"
    "   (When (type TStamp)))))"
    " (generators (Doc) (Counter)))";

class DumpLoaderTest : public fbtest::ServerTest {
 protected:
  void SetUp() override {
    fbtest::ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    connection_.SetDatabaseName(fbtest::Fb30Path(dir_.File("load.fd3")));
    connection_.CreateDatabase();
    RunScript(connection_, connection_.DefaultTransaction(), kSchema);
    connection_.DefaultTransaction().Commit();
  }

  void Load(const std::string& data, bool disableTriggers = true, const TqnDumpLoadOptions& options = {}) {
    std::istringstream stream(data);
    LoadDumpData(
        stream, connection_, kMeta, [this] { ++progressCalls_; }, disableTriggers, clock_, options);
  }
  std::string LoadError(const std::string& data, const TqnDumpLoadOptions& options = {}) {
    try {
      Load(data, true, options);
    } catch (const Exception& e) {
      return e.what();
    }
    return "(no failure)";
  }

  // The rows of a query, each as its fields' texts joined by "|".
  std::vector<std::string> Rows(const std::string& sql) {
    TqnFbTransaction transaction(connection_);
    TqnFbStatement query(connection_, transaction);
    query.Execute(sql);
    std::vector<std::string> rows = fbtest::FetchRows(query);
    transaction.Commit();
    return rows;
  }
  // A second database of the same schema (and the extra script), loaded
  // row by row: what every other way of loading must give.
  void LoadRowByRow(const std::string& data, const std::string& extra = "") {
    rowByRow_.SetDatabaseName(fbtest::Fb30Path(dir_.File("rows.fd3")));
    rowByRow_.CreateDatabase();
    RunScript(rowByRow_, rowByRow_.DefaultTransaction(), kSchema + extra);
    rowByRow_.DefaultTransaction().Commit();
    std::istringstream stream(data);
    TqnDumpLoadOptions alone;
    alone.maxBlockRows = 1;
    LoadDumpData(
        stream, rowByRow_, kMeta, [this] { ++rowByRowCalls_; }, true, clock_, alone);
  }
  // The query's rows, the same in both databases.
  std::vector<std::string> BothGive(const std::string& sql) {
    std::vector<std::string> mine = Rows(sql);
    TqnFbTransaction transaction(rowByRow_);
    TqnFbStatement query(rowByRow_, transaction);
    query.Execute(sql);
    std::vector<std::string> theirs = fbtest::FetchRows(query);
    transaction.Commit();
    EXPECT_EQ(mine, theirs) << sql;
    return mine;
  }
  int64_t Generator(const std::string& name) {
    return std::stoll(Rows("select gen_id(\"" + name + "\", 0) from rdb$database").at(0));
  }

  TqnFbConnection connection_, rowByRow_;
  FakeClock clock_{2026, 12, 8, 10, 20, 30};
  int progressCalls_ = 0, rowByRowCalls_ = 0;
};

TEST_F(DumpLoaderTest, LoadsEveryKindOfValueRegisterAndGenerators) {
  DateTime now = clock_.Now();
  now.msec = 123;
  clock_.Set(now);
  std::string name = Win1251("Иван");
  std::string data =
      // Before any version directive the escape is the byte 0xA4 and a tilde is ordinary.
      "&Log\tObject\tText\n"
      "00000000000E\ta~41\xA4"
      "42\n"
      "#VERSION 0.1.0.0\r\n"
      "&Person\tObject\tName\tAge\tBig\tAmount\tBorn\tSeen\tNote\tRate\tBoss\tExtra\r\n"
      "00000000000A\t" +
      name +
      "~09x\t42\t3000000000\t12.25\t2020-02-29\t2021-07-15 13:45:30.1239\t"
      "line1~0D~0Aline2  \t0.5\t00000000000BEXTRA\tignored\tdropped\r\n"
      "00000000000B\tBob   \tabc\t\t\t1999-02-30\t2021-01-01 00:00:00.0000\n"
      "000000000000\tthe null row of another table is skipped\n"
      "\n"
      "&Unknown\tObject\tX\n"
      "00000000000C\tskipped\n"
      "&Doc\tObject\tName\tNum\tDate\n"
      "000000000000\tHead\t7\t2022-03-04\n"
      "00000000000D\tDoc one\t99\t2022-01-02\n"
      "&SyncUserActions\tObject\tVersion\n"
      "00000000000F\t5\n"
      "00000000000G\t17\n"
      "00000000000H\tnan\n"
      "&Database\tObject\tX\n"
      "00000000000I\tx\n"
      "&Generators\tDoc\tCounter\tNotAGenerator\n"
      "000000000010\t00000000000A\tbad\n"
      "&Person\tObject\tName\n"
      "00000000000Q\tthe unended last line";
  Load(data);

  EXPECT_EQ(
      Rows("select \"fObject\", \"fName\", \"fAge\", \"fBig\", \"fAmount\", \"fBorn\", \"fSeen\", \"fNote\","
           " \"fRate\", \"fBoss\" from \"tPerson\" order by 1"),
      (std::vector<std::string>{"00000000000A|" + name +
                                    " x|42|3000000000|12.25|2020-02-29|2021-07-15 13:45:30.1230|"
                                    "line1\r\nline2  |0.5|00000000000B",
                                // Not-numbers give 0, an impossible date gives day 0, an empty reference an empty text.
                                "00000000000B|Bob|0|0|0.00|1899-12-30|2021-01-01 00:00:00.0000||0|            ",
                                "070000000001|old|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>"}));
  // The header's Num is not a field of the table's metadata: it is not loaded.
  EXPECT_EQ(Rows("select \"fObject\", \"fName\", \"fNum\", \"fDate\" from \"tDoc\" order by 1"),
            (std::vector<std::string>{"000000000000|Head|7|2022-03-04", "00000000000D|Doc one|<null>|2022-01-02"}));
  // Triggers were disabled; Log is unmanaged.
  EXPECT_EQ(Rows("select \"fObject\", \"fText\" from \"tLog\""), std::vector<std::string>{"00000000000E|a~41B"});
  EXPECT_EQ(Rows("select \"UID\", \"fAge\", \"fCreated\", \"fChanged\", \"fTable\", \"fState\", \"fLazy\""
                 " from \"tObject\" where \"UID\" <> '070000000001' order by 1"),
            (std::vector<std::string>{"00000000000A|0|0|2026-12-08 10:20:30.1230|Person|E|0",
                                      "00000000000B|0|0|2026-12-08 10:20:30.1230|Person|E|0",
                                      "00000000000D|0|0|2026-12-08 10:20:30.1230|Doc|E|0",
                                      "00000000000F|0|0|2026-12-08 10:20:30.1230|SyncUserActions|E|0",
                                      "00000000000G|0|0|2026-12-08 10:20:30.1230|SyncUserActions|E|0",
                                      "00000000000H|0|0|2026-12-08 10:20:30.1230|SyncUserActions|E|0"}));
  EXPECT_EQ(Generator("gDoc"), 64);
  EXPECT_EQ(Generator("gCounter"), 10);
  EXPECT_EQ(Generator("gSyncUserActionsVersion"), 17);
  // One step per loaded row (1 Log, 2 Person, 1 Doc, 3 SyncUserActions) and one per user index.
  EXPECT_EQ(progressCalls_, 7 + 1);
  // The index statistics were recomputed over the loaded rows.
  std::vector<std::string> statistics =
      Rows("select rdb$statistics from rdb$indices where rdb$index_name = 'IPERSONNAME'");
  ASSERT_EQ(statistics.size(), 1u);
  EXPECT_NEAR(Number(statistics[0]), 1.0 / 3, 1e-6);
}

TEST_F(DumpLoaderTest, ReplacingIdentifiersDeleteTheirRowAndRegisterEntryFirst) {
  Load("&Person\tObject\tName\n070000000001\tnew\n");
  EXPECT_EQ(Rows("select \"fObject\", \"fName\" from \"tPerson\""), std::vector<std::string>{"070000000001|new"});
  EXPECT_EQ(Rows("select \"UID\", \"fTable\" from \"tObject\""), std::vector<std::string>{"070000000001|Person"});
}

TEST_F(DumpLoaderTest, TriggersRunUnlessDisabled) {
  Load("&Log\tObject\tText\n00000000000E\tlogged\n", false);
  EXPECT_EQ(Rows("select \"fText\" from \"tLog\""), std::vector<std::string>{"trigger"});
}

TEST_F(DumpLoaderTest, TheSyncVersionGeneratorIsLeftToAnExplicitField) {
  Load(
      "&SyncUserActions\tObject\tVersion\n00000000000F\t30\n"
      "&Generators\tDoc\tSyncUserActionsVersion\n000000000002\t000000000003\n");
  // SyncUserActionsVersion is no generator of the metadata, and its field stops the
  // largest version from being set.
  EXPECT_EQ(Generator("gSyncUserActionsVersion"), 0);
  EXPECT_EQ(Generator("gDoc"), 2);
}

TEST_F(DumpLoaderTest, FailuresRollTheLoadBackAndNameTheRow) {
  const std::string good = "&Person\tObject\tName\n00000000000A\tfirst\n";
  struct Case {
    std::string data, message;
  } cases[] = {
      {good + "&Person\tObject\tName\tBorn\tAge\n00000000000B\tsecond\t\t5\n",
       "can not classify date str \"\"\r\nPerson: 00000000000B; second; ; 5;"},
      {good + "&SyncUserActions\tObject\n00000000000F\n",
       "field \"Version\" not found (r)\r\nSyncUserActions: 00000000000F;"},
      {good + "&Doc\tObject\tName\tDate\n000000000000\tx\t2020-01-01\n",
       "field \"Num\" not found (r)\r\nDoc: 000000000000; x; 2020-01-01;"},
      {good + "&Generators\tDoc\n0000000010\n", "invalid object value\r\nGenerators: 0000000010;"},
      {good + "#VERSION 0.1.0.0\n00000000000B\tab~4\n", "invalid hexadecimal number \"4\"\r\nPerson: 00000000000B;"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LoadError(c.data), c.message);
    EXPECT_EQ(Rows("select count(*) from \"tPerson\" where \"fObject\" = '00000000000A'"),
              std::vector<std::string>{"0"});
  }
  // The database's own errors carry the context too.
  std::string message = LoadError(good + "00000000000A\tduplicate\n");
  EXPECT_NE(message.find("\r\nPerson: 00000000000A; duplicate;"), std::string::npos) << message;
  EXPECT_EQ(Rows("select count(*) from \"tObject\""), std::vector<std::string>{"1"});
}

TEST_F(DumpLoaderTest, TimesDatesIntoTimeStampsAndUnknownParameterTypes) {
  // A time of day, and a date alone given to a time stamp column.
  Load("&Clock\tObject\tAt\tWhen\n00000000000T\t08:30:15.5000\t2020-05-06\n");
  EXPECT_EQ(Rows("select \"fAt\", \"fWhen\" from \"tClock\""),
            std::vector<std::string>{"08:30:15.5000|2020-05-06 00:00:00.0000"});
  EXPECT_EQ(
      LoadError("&Clock\tObject\tFlag\n00000000000U\ttrue\n"),
      Format("fbSetParamAsVarchar: data type \"%d\" unknown", fb::SQL_BOOLEAN) + "\r\nClock: 00000000000U; true;");
}

TEST_F(DumpLoaderTest, NumbersAreExactAndIndependentOfTheProcessLocale) {
  // Qt sets the process locale from the environment; a Russian one has the
  // comma as its decimal separator.
  ASSERT_NE(std::setlocale(LC_ALL, "ru_RU.UTF-8"), nullptr)
      << "the locale ru_RU.UTF-8 is missing: localedef -i ru_RU -f UTF-8 ru_RU.UTF-8";
  struct RestoreLocale {
    ~RestoreLocale() { std::setlocale(LC_ALL, "C"); }
  } restore;
  ASSERT_EQ(std::strtod("12.50", nullptr), 12.0) << "the locale does not change the separator";
  Load(
      "&Ledger\tObject\tSum\tPrice\tRate\n"
      "00000000000L\t12.50\t1.0005\t0.25\n"
      "00000000000M\t1234567890123456.78\t-2.0005\t-1e3\n"
      "00000000000N\t12,50\t\tx\n");
  EXPECT_EQ(Rows("select \"fObject\", \"fSum\", \"fPrice\", \"fRate\" from \"tLedger\" order by 1"),
            (std::vector<std::string>{"00000000000L|12.50|1.001|0.25", "00000000000M|1234567890123456.78|-2.001|-1000",
                                      "00000000000N|0.00|0.000|0"}));
  EXPECT_EQ(Rows("select count(*) from \"tLedger\" where \"fSum\" = 1234567890123456.78"),
            std::vector<std::string>{"1"});
}

TEST_F(DumpLoaderTest, AFailureInsideABlockNamesItsRowAndCommitsNothing) {
  TqnDumpLoadStats stats;
  TqnDumpLoadOptions options;
  options.stats = &stats;
  // The fourth row repeats the first one's key: its block fails as a whole.
  std::string message = LoadError(
      "&Person\tObject\tName\n00000000000A\tfirst\n00000000000B\tsecond\n00000000000C\tthird\n"
      "00000000000A\tagain\n00000000000D\tfifth\n",
      options);
  EXPECT_NE(message.find("\r\nPerson: 00000000000A; again;"), std::string::npos) << message;
  EXPECT_EQ(stats.replayedBlocks, 1);
  // The rows before it were stored and counted once each, then all undone.
  EXPECT_EQ(progressCalls_, 3);
  EXPECT_EQ(Rows("select count(*) from \"tPerson\""), std::vector<std::string>{"1"});
  EXPECT_EQ(Rows("select count(*) from \"tObject\""), std::vector<std::string>{"1"});
}

TEST_F(DumpLoaderTest, ReplacingRowsReplaceRowsOfTheirOwnAndOfEarlierBlocks) {
  TqnDumpLoadStats stats;
  TqnDumpLoadOptions options;
  options.maxBlockRows = 4;
  options.stats = &stats;
  Load(
      "&Person\tObject\tName\n"
      "070000000002\ta\n00000000000B\tb\n070000000002\tc\n070000000001\td\n"  // one block
      "00000000000C\te\n070000000002\tf\n",                                   // the last, of two
      true, options);
  EXPECT_EQ(stats.blocks, 2);
  EXPECT_EQ(stats.blockRows, 6);
  EXPECT_EQ(Rows("select \"fObject\", \"fName\" from \"tPerson\" order by 1"),
            (std::vector<std::string>{"00000000000B|b", "00000000000C|e", "070000000001|d", "070000000002|f"}));
  EXPECT_EQ(Rows("select \"UID\", \"fTable\" from \"tObject\" order by 1"),
            (std::vector<std::string>{"00000000000B|Person", "00000000000C|Person", "070000000001|Person",
                                      "070000000002|Person"}));
  EXPECT_EQ(progressCalls_, 6 + 1);
}

TEST_F(DumpLoaderTest, BlocksEndAtSectionChangesAndTheLastRowAndLongBlobsGoAlone) {
  TqnDumpLoadStats stats;
  TqnDumpLoadOptions options;
  options.maxBlockRows = 4;
  options.stats = &stats;
  // Written with escapes in the member; the blob keeps every byte.
  std::string note = Win1251("Запись ") + "\x98\xFF\r\n \n";
  std::string written = Win1251("Запись ") + "\x98\xFF~0D~0A ~0A";
  std::string longNote(40000, 'n');
  std::string data = "&Person\tObject\tName\tNote\n";
  for (int i = 1; i <= 5; ++i) data += EncodeObjectId(i) + "\tp" + std::to_string(i) + "\t" + written + "\n";
  data = "#VERSION 0.1.0.0\n" + data + "&Log\tObject\tText\n";
  for (int i = 6; i <= 8; ++i) data += EncodeObjectId(i) + "\tlog" + std::to_string(i) + "\n";
  data += "&Person\tObject\tName\tNote\n" + EncodeObjectId(9) + "\tp9\t" + longNote + "\n" + EncodeObjectId(10) +
          "\tp10\tshort\n";
  Load(data, true, options);
  // Person 4 + 1 alone, Log 2 + 1 alone, Person: the long note alone, then 1 alone.
  EXPECT_EQ(stats.blocks, 2);
  EXPECT_EQ(stats.blockRows, 6);
  EXPECT_EQ(stats.aloneRows, 4);
  EXPECT_EQ(progressCalls_, 10 + 1);
  std::vector<std::string> expected;
  for (int i = 1; i <= 5; ++i) expected.push_back(EncodeObjectId(i) + "|p" + std::to_string(i) + "|" + note);
  expected.push_back(EncodeObjectId(9) + "|p9|" + longNote);
  expected.push_back(EncodeObjectId(10) + "|p10|short");
  expected.push_back("070000000001|old|<null>");
  EXPECT_EQ(Rows("select \"fObject\", \"fName\", \"fNote\" from \"tPerson\" order by 1"), expected);
  EXPECT_EQ(Rows("select count(*), min(\"fText\"), max(\"fText\") from \"tLog\""),
            std::vector<std::string>{"3|log6|log8"});
  EXPECT_EQ(Rows("select count(*) from \"tObject\" where \"fTable\" = 'Person'"), std::vector<std::string>{"7"});
  EXPECT_EQ(Rows("select count(*) from \"tObject\" where \"fTable\" = 'Log'"), std::vector<std::string>{"0"});
}

TEST_F(DumpLoaderTest, PagesAreWrittenWithoutWaitingForTheDiskDuringTheLoadOnly) {
  ASSERT_TRUE(connection_.ForcedWrites());
  std::vector<bool> during;
  std::istringstream data("&Person\tObject\tName\n00000000000A\tfirst\n");
  LoadDumpData(
      data, connection_, kMeta, [&] { during.push_back(connection_.ForcedWrites()); }, true, clock_);
  EXPECT_EQ(during, (std::vector<bool>{false, false}));  // the row, the index statistics
  EXPECT_TRUE(connection_.ForcedWrites());
  EXPECT_NE(LoadError("&Person\tObject\tName\n00000000000A\tagain\n"), "(no failure)");
  EXPECT_TRUE(connection_.ForcedWrites());
}

TEST_F(DumpLoaderTest, IndexStatisticsFindAnIndexOfAQuotedMixedCaseName) {
  RunScript(connection_, connection_.DefaultTransaction(),
            "CREATE INDEX \"iPerson \"\"Age\"\"\" ON \"tPerson\" (\"fAge\");\n");
  connection_.DefaultTransaction().Commit();
  Load("&Person\tObject\tAge\n00000000000A\t42\n");
  // Two rows, two distinct ages (one of them NULL).
  std::vector<std::string> statistics =
      Rows("select rdb$statistics from rdb$indices where rdb$index_name = 'iPerson \"Age\"'");
  ASSERT_EQ(statistics.size(), 1u);
  EXPECT_NEAR(Number(statistics[0]), 0.5, 1e-6);
  EXPECT_EQ(progressCalls_, 1 + 2);
}

// The schema as the server records it: keys with their index, indexes with
// their kind and columns in order.
const char* const kSchemaQueries[] = {
    "select rdb$constraint_name, rdb$relation_name, rdb$constraint_type, rdb$index_name"
    " from rdb$relation_constraints where rdb$relation_name starting with 't' order by 1",
    "select i.rdb$index_name, i.rdb$relation_name, i.rdb$unique_flag, coalesce(i.rdb$index_type, 0),"
    " coalesce(i.rdb$index_inactive, 0), i.rdb$segment_count, i.rdb$foreign_key, s.rdb$field_position,"
    " s.rdb$field_name from rdb$indices i join rdb$index_segments s on s.rdb$index_name = i.rdb$index_name"
    " where i.rdb$relation_name starting with 't' order by 1, s.rdb$field_position",
};

TEST_F(DumpLoaderTest, KeysBuiltAfterTheRowsGiveTheRowByRowResult) {
  // Keys of every kind the schema script may declare: a named unique key on
  // two columns in a descending index, a plain index on two columns, and a
  // foreign key, whose target key stays in place.
  const char* const keys =
      "ALTER TABLE \"tLedger\" ADD CONSTRAINT \"uLedger\" UNIQUE (\"fRate\", \"fObject\")"
      " USING DESCENDING INDEX \"iLedger\";\n"
      "CREATE INDEX \"iLog\" ON \"tLog\" (\"fText\", \"fObject\");\n"
      "ALTER TABLE \"tClock\" ADD CONSTRAINT \"fkClock\" FOREIGN KEY (\"fObject\") REFERENCES \"tDoc\";\n";
  RunScript(connection_, connection_.DefaultTransaction(), keys);
  connection_.DefaultTransaction().Commit();
  // Replacing identifiers: new ones, one the schema script stored, one met
  // again in the next block, in another section and in another table.
  std::string data = "&Person\tObject\tName\tAge\n";
  for (int i = 1; i <= 12; ++i)
    data += EncodeObjectId(i) + "\tp" + std::to_string(i) + "\t" + std::to_string(i % 3) + "\n";
  data += "070000000001\treplaced\t1\n070000000002\tfirst\t2\n070000000003\tthree\t3\n";
  for (int i = 13; i <= 20; ++i) data += EncodeObjectId(i) + "\tp" + std::to_string(i) + "\t7\n";
  data +=
      "070000000002\tsecond\t4\n"
      "&Ledger\tObject\tSum\tRate\n00000000000L\t1.50\t0.5\n00000000000M\t2.50\t0.5\n070000000003\t3.00\t1\n"
      "&Log\tObject\tText\n00000000000N\tb\n00000000000O\ta\n00000000000P\tb\n"
      "&Doc\tObject\tName\n0000000000ZD\tdoc\n"
      "&Clock\tObject\tAt\n0000000000ZD\t08:00:00.0000\n"
      "&Person\tObject\tName\n070000000002\tthird\n070000000004\tlast\n";
  TqnDumpLoadOptions deferred;
  deferred.deferIndexes = true;
  deferred.maxBlockRows = 4;
  Load(data, true, deferred);
  LoadRowByRow(data, keys);
  EXPECT_EQ(progressCalls_, rowByRowCalls_);

  for (const char* sql : kSchemaQueries) EXPECT_GT(BothGive(sql).size(), 5u);
  EXPECT_EQ(BothGive("select \"fObject\", \"fName\", \"fAge\" from \"tPerson\" where \"fObject\" starting with '07'"
                     " order by 1"),
            (std::vector<std::string>{"070000000001|replaced|1", "070000000002|third|<null>", "070000000003|three|3",
                                      "070000000004|last|<null>"}));
  EXPECT_EQ(BothGive("select \"UID\", \"fTable\", \"fChanged\" from \"tObject\" order by 1").size(), 20u + 3 + 1);
  BothGive("select * from \"tPerson\" order by 1");
  BothGive("select * from \"tLedger\" order by 1");
  BothGive("select * from \"tLog\" order by 1");
  BothGive("select * from \"tClock\" order by 1");
  // Keys built after the rows have their selectivity from the build, where
  // the statistics step of the row-by-row load leaves the server's zero on
  // the keys of generated names: those are compared by being there above.
  BothGive(
      "select rdb$index_name, rdb$statistics from rdb$indices where rdb$relation_name starting with 't'"
      " and rdb$index_name not starting with 'RDB$' order by 1");
}

// Rows enough for many blocks, each stored while the next one is made:
// amounts first, then persons with a section of another table between
// theirs, and replacements new and met again.
std::string ManyRows(int badLedgerRow) {
  std::string data = "&Ledger\tObject\tSum\tPrice\tRate\n";
  for (int i = 1; i <= 600; ++i)
    data += EncodeObjectId(100000 + i) + "\t1.50\t" + (i == badLedgerRow ? "99999999.5" : "2.5") + "\t0.5\n";
  data += "&Person\tObject\tName\tAmount\tBorn\n";
  for (int i = 1; i <= 3000; ++i) {
    if (i == 1500) data += "&Log\tObject\tText\n00000000ZZZ1\tbetween\n&Person\tObject\tName\tAmount\tBorn\n";
    data += EncodeObjectId(i) + "\t" + Win1251("Лицо ") + std::to_string(i) + "\t" + std::to_string(i) +
            ".25\t2020-01-02\n";
    if (i % 1000 == 0) data += "070000000001\treplaced " + std::to_string(i) + "\t1\t2021-01-01\n";
  }
  return data;
}

TEST_F(DumpLoaderTest, ManyBlocksWithKeysAfterTheRowsGiveTheRowByRowResult) {
  TqnDumpLoadStats stats;
  TqnDumpLoadOptions deferred;
  deferred.deferIndexes = true;
  deferred.maxBlockRows = 128;
  deferred.stats = &stats;
  const std::string data = ManyRows(0);
  Load(data, true, deferred);
  EXPECT_GT(stats.blocks, 20);
  LoadRowByRow(data);
  EXPECT_EQ(progressCalls_, rowByRowCalls_);
  for (const char* sql : kSchemaQueries) BothGive(sql);
  EXPECT_EQ(BothGive("select * from \"tPerson\" order by 1").size(), 3001u);
  EXPECT_EQ(BothGive("select * from \"tLedger\" order by 1").size(), 600u);
  EXPECT_EQ(BothGive("select \"fName\" from \"tPerson\" where \"fObject\" = '070000000001'"),
            std::vector<std::string>{"replaced 3000"});
  EXPECT_EQ(BothGive("select \"UID\", \"fTable\", \"fChanged\" from \"tObject\" order by 1").size(), 3001u);
  BothGive("select * from \"tLog\"");
}

// Blocks take most values packed into one text a row and read them back on
// the server: every kind of value, at the ends of its range, comes back as
// the row-by-row load stores it. The first rows of each section hold what
// an office's tables start with: the empty values its NULLs are written as,
// the smallest and largest integers and amounts, years of one to four
// digits, texts as long as their columns and longer ones cut to them. All
// of them travel packed; a value that cannot (a time stamp given to a time
// of day) sends only its own row alone.
TEST_F(DumpLoaderTest, PackedValuesGiveTheRowByRowResult) {
  const std::string longName = Win1251("Поступление товаров и услуг по счёту 1234567");  // longer than 40
  const std::string fullName = longName.substr(0, 40);
  const std::string data0 = "&Person\tObject\tName\tAge\tBig\tAmount\tBorn\tSeen\tBoss\n";
  std::string data = data0 + EncodeObjectId(1) +
                     "\t\t\t-9223372036854775808\t-92233720368547758.08\t0001-01-01\t0001-01-01 00:00:00.0000\t\n" +
                     EncodeObjectId(2) + "\t" + fullName +
                     "\t-2147483648\t9223372036854775807\t92233720368547758.07\t0999-12-31\t"
                     "0099-06-15 12:00:00.0001\t" +
                     EncodeObjectId(1) + "\n" + EncodeObjectId(3) +
                     "\ttrailing\xA4"
                     "09blanks   \t2147483647\t\t\t1900-01-01\t1900-01-01\t\n" +
                     EncodeObjectId(4) + "\t" + longName + "\t0\t-1\t-0.05\t9999-12-31\t9999-12-31 23:59:59.9999\t" +
                     EncodeObjectId(2) + "EXTRA\n";
  const char* const amounts[] = {"-0.05", "12.5", "0", "-123456789012.34", ""};
  const char* const ages[] = {"-2147483648", "", "-7", "0"};
  const char* const bigs[] = {"-9223372036854775807", "9223372036854775807", "", "42"};
  const char* const seen[] = {"2021-07-15", "2021-07-15 13:45:30.1239", "1999-02-30", "9999-12-31 23:59:59.9999"};
  for (int i = 5; i <= 40; ++i) {
    std::string name = i == 20 ? "  leading" : i % 3 == 0 ? "" : Win1251("Лицо ") + std::to_string(i);
    std::string born = i % 2 ? "2020-02-29" : "1000-01-01";
    data += EncodeObjectId(i) + "\t" + name + "\t" + ages[i % 4] + "\t" + bigs[i % 4] + "\t" + amounts[i % 5] + "\t" +
            born + "\t" + seen[i % 4] + "\t" + (i % 3 ? EncodeObjectId(i + 1) : "") + "\n";
  }
  data += "&Times\tObject\tAt\tPrice\tSmall\tWhen\n";
  const char* const prices[] = {"2147483.647", "-2147483.648", "0.001", ""};
  const char* const smalls[] = {"-32768", "32767", "", "-1"};
  for (int i = 1; i <= 24; ++i)
    data += EncodeObjectId(500 + i) + "\t" +
            (i == 11 ? "2021-07-15 13:45:30.1239"
             : i % 2 ? "23:59:59.9990"
                     : "00:00:00.0000") +
            "\t" + prices[i % 4] + "\t" + smalls[(i / 4) % 4] + "\t" + seen[i % 4] + "\n";
  TqnDumpLoadStats stats;
  TqnDumpLoadOptions options;
  options.maxBlockRows = 8;
  options.stats = &stats;
  Load(data, true, options);
  LoadRowByRow(data);
  // Every row but that one in blocks whose rows went wholly packed.
  EXPECT_EQ(stats.loopRows, 63);
  EXPECT_EQ(stats.aloneRows, 1);
  EXPECT_EQ(stats.replayedBlocks, 0);
  EXPECT_EQ(BothGive("select * from \"tPerson\" order by 1").size(), 41u);
  EXPECT_EQ(
      BothGive("select \"fName\", \"fAge\", \"fBig\", \"fAmount\", \"fBorn\", \"fSeen\", \"fBoss\" from \"tPerson\""
               " where \"fObject\" < '" +
               EncodeObjectId(5) + "' order by \"fObject\""),
      (std::vector<std::string>{
          "|0|-9223372036854775808|-92233720368547758.08|0001-01-01|0001-01-01 00:00:00.0000|            ",
          fullName + "|-2147483648|9223372036854775807|92233720368547758.07|0999-12-31|0099-06-15 12:00:00.0000|" +
              EncodeObjectId(1),
          "trailing blanks|2147483647|0|0.00|1900-01-01|1900-01-01 00:00:00.0000|            ",
          fullName + "|0|-1|-0.05|9999-12-31|9999-12-31 23:59:59.9990|" + EncodeObjectId(2)}));
  EXPECT_EQ(BothGive("select * from \"tTimes\" order by 1").size(), 24u);
  EXPECT_EQ(BothGive("select \"fAt\" from \"tTimes\" where \"fObject\" = '" + EncodeObjectId(511) + "'"),
            std::vector<std::string>{"13:45:30.1230"});
  BothGive("select \"UID\", \"fTable\", \"fChanged\" from \"tObject\" order by 1");
}

// NULLs, which no dump value gives but a caller of the batch may, travel
// packed behind their column's marker from the first one on, and store as
// NULLs, as the row-by-row load stores them.
TEST_F(DumpLoaderTest, NullParametersTravelPackedAndStoreAsNulls) {
  rowByRow_.SetDatabaseName(fbtest::Fb30Path(dir_.File("rows.fd3")));
  rowByRow_.CreateDatabase();
  RunScript(rowByRow_, rowByRow_.DefaultTransaction(), kSchema);
  rowByRow_.DefaultTransaction().Commit();
  const std::string columns = "\"fObject\", \"fAt\", \"fPrice\", \"fSmall\", \"fWhen\"";
  const char* const texts[] = {"12:30:00.0000", "-2147483.648", "-32768", "0001-01-01 00:00:00.0000"};
  auto store = [&](TqnFbConnection& connection, int maxRows) {
    TqnDumpLoadStats stats;
    TqnDumpLoadOptions options;
    options.maxBlockRows = maxRows;
    options.stats = &stats;
    TqnFbTransaction transaction(connection, LoadTransactionParameters());
    TqnFbStatement insert(connection, transaction);
    insert.Prepare("insert into \"tTimes\" (" + columns + ") values (:aObject, :aAt, :aPrice, :aSmall, :aWhen)");
    std::vector<std::string> context;
    const TqnLoadProgress progress = [] {};
    TqnDumpBatch batch(connection, transaction, progress, "2026-12-08 10:20:30.0000", options, context);
    batch.StartSection("Times", insert, columns, std::vector<bool>(5, false), false);
    for (int i = 0; i < 30; ++i) {
      TqnDumpRow row;
      row.id = EncodeObjectId(700 + i);
      row.values = {row.id};
      fbSetParamAsVarchar(insert, 0, row.id);
      row.params.push_back(insert.ParamValue(0));
      for (int p = 1; p <= 4; ++p) {
        // The first row all NULLs; then a NULL in a column every few rows.
        if (i == 0 || (i + p) % 4 == 0)
          insert.SetNull(p);
        else
          fbSetParamAsVarchar(insert, p, texts[p - 1]);
        row.params.push_back(insert.ParamValue(p));
      }
      batch.Add(std::move(row));
    }
    batch.EndSection();
    transaction.Commit();
    return stats;
  };
  const TqnDumpLoadStats packed = store(connection_, 8);
  store(rowByRow_, 1);
  EXPECT_EQ(packed.loopRows, 30);
  EXPECT_EQ(packed.aloneRows, 0);
  EXPECT_EQ(BothGive("select * from \"tTimes\" order by 1").size(), 30u);
  EXPECT_EQ(BothGive("select count(*), count(\"fAt\"), count(\"fPrice\"), count(\"fSmall\"), count(\"fWhen\")"
                     " from \"tTimes\""),
            std::vector<std::string>{"30|22|22|21|22"});
}

// A block that loops over packed rows fails as a whole when one row is
// refused; its rows are then stored one by one up to that row, which the
// failure names, and nothing is committed.
TEST_F(DumpLoaderTest, AFailureInsideALoopBlockNamesItsRowAndCommitsNothing) {
  RunScript(connection_, connection_.DefaultTransaction(),
            "ALTER TABLE \"tTimes\" ADD CONSTRAINT \"cSmall\" CHECK (\"fSmall\" < 30000);\n");
  connection_.DefaultTransaction().Commit();
  std::string data = "&Times\tObject\tAt\tPrice\tSmall\tWhen\n";
  for (int i = 1; i <= 40; ++i)
    data += EncodeObjectId(500 + i) + "\t12:00:00.0000\t1.5\t" + (i == 25 ? "31000" : "7") + "\t2021-07-15\n";
  TqnDumpLoadStats stats;
  TqnDumpLoadOptions options;
  options.maxBlockRows = 16;
  options.stats = &stats;
  const std::string message = LoadError(data, options);
  EXPECT_NE(message.find("\r\nTimes: " + EncodeObjectId(525) + "; 12:00:00.0000; 1.5; 31000; 2021-07-15"),
            std::string::npos)
      << message;
  EXPECT_EQ(stats.replayedBlocks, 1);
  EXPECT_EQ(progressCalls_, 24);
  EXPECT_EQ(Rows("select count(*) from \"tTimes\""), std::vector<std::string>{"0"});
}

TEST_F(DumpLoaderTest, AFailureOfABlockStoredWhileTheNextIsMadeNamesItsRowAndCommitsNothing) {
  TqnDumpLoadOptions deferred;
  deferred.deferIndexes = true;
  // The price does not fit DECIMAL(9,3): the server refuses the row's
  // block while the loader makes the next one.
  const std::string message = LoadError(ManyRows(100), deferred);
  EXPECT_NE(message.find("\r\nLedger: " + EncodeObjectId(100100) + "; 1.50; 99999999.5; 0.5;"), std::string::npos)
      << message;
  // Stored and counted once each: the rows before it, alone again; none of
  // the blocks behind it.
  EXPECT_EQ(progressCalls_, 99);
  EXPECT_EQ(Rows("select count(*) from \"tLedger\""), std::vector<std::string>{"0"});
  EXPECT_EQ(Rows("select count(*) from \"tPerson\""), std::vector<std::string>{"1"});
  EXPECT_EQ(Rows("select count(*) from \"tObject\""), std::vector<std::string>{"1"});
  EXPECT_EQ(Rows("select count(*) from \"tLog\""), std::vector<std::string>{"0"});
  // The keys are back.
  EXPECT_EQ(Rows("select count(*) from rdb$relation_constraints where rdb$constraint_type = 'PRIMARY KEY'"),
            std::vector<std::string>{"3"});
}

TEST_F(DumpLoaderTest, AKeyTheRowsBreakFailsItsRebuildNamingTheTableAndTheValue) {
  RunScript(connection_, connection_.DefaultTransaction(),
            "ALTER TABLE \"tLog\" ADD CONSTRAINT \"uLog\" UNIQUE (\"fObject\");\n");
  connection_.DefaultTransaction().Commit();
  TqnDumpLoadOptions deferred;
  deferred.deferIndexes = true;
  std::string message = LoadError(
      "&Log\tObject\tText\n00000000000A\tfirst\n00000000000B\tb\n"
      "&Person\tObject\tName\n00000000000C\tc\n"
      "&Log\tObject\tText\n00000000000A\tagain\n",
      deferred);
  EXPECT_NE(message.find("00000000000A"), std::string::npos) << message;
  EXPECT_NE(message.find("\r\ntLog: UNIQUE uLog"), std::string::npos) << message;
  // The other keys and indexes are built all the same.
  EXPECT_EQ(Rows("select count(*) from rdb$relation_constraints where rdb$constraint_type = 'PRIMARY KEY'"),
            std::vector<std::string>{"3"});
  EXPECT_EQ(Rows("select count(*) from rdb$indices where rdb$index_name = 'IPERSONNAME' and"
                 " coalesce(rdb$index_inactive, 0) = 0"),
            std::vector<std::string>{"1"});
}

TEST_F(DumpLoaderTest, NamesWithADoubleQuoteLoad) {
  RunScript(
      connection_, connection_.DefaultTransaction(),
      "CREATE TABLE \"tOdd\"\"Name\" (\"fObject\" CHAR(12) NOT NULL PRIMARY KEY, \"fSay \"\"hi\"\"\" VARCHAR(10));\n"
      "CREATE GENERATOR \"gOdd\"\"Gen\";\n");
  connection_.DefaultTransaction().Commit();
  const std::string meta =
      "(meta (types (TUid (d CHAR 12)) (TShort (d VARCHAR 10)))"
      " (tables (Odd\"Name (fields (Object (type TUid)) (Say\\S\"hi\" (type TShort)))))"
      " (generators (Odd\"Gen)))";
  std::istringstream data(
      "&Odd\"Name\tObject\tSay \"hi\"\n00000000000A\tquoted\n070000000009\tagain\n"
      "070000000009\treplaced\n&Generators\tOdd\"Gen\n00000000000C\n");
  LoadDumpData(
      data, connection_, meta, [] {}, true, clock_);
  EXPECT_EQ(Rows("select \"fObject\", \"fSay \"\"hi\"\"\" from \"tOdd\"\"Name\" order by 1"),
            (std::vector<std::string>{"00000000000A|quoted", "070000000009|replaced"}));
  EXPECT_EQ(Rows("select \"fTable\" from \"tObject\" where \"UID\" = '00000000000A'"),
            std::vector<std::string>{"Odd\"Name"});
  EXPECT_EQ(Generator("gOdd\"\"Gen"), 12);
}

// A stream of many rows that counts the bytes handed out.
class CountingRows : public std::streambuf {
 public:
  CountingRows(int rows, int badRow) : rows_(rows), badRow_(badRow) { Refill(); }
  size_t consumed() const { return consumed_; }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    return Refill() ? traits_type::to_int_type(*gptr()) : traits_type::eof();
  }

 private:
  bool Refill() {
    chunk_.clear();
    if (next_ == 0) chunk_ = "&Person\tObject\tName\tBorn\n";
    for (; next_ < rows_ && chunk_.size() < 4096; ++next_)
      chunk_ += EncodeObjectId(next_ + 1) + "\tname\t" + (next_ == badRow_ ? "" : "2020-01-01") + "\n";
    consumed_ += chunk_.size();
    setg(chunk_.data(), chunk_.data(), chunk_.data() + chunk_.size());
    return !chunk_.empty();
  }
  int rows_, badRow_, next_ = 0;
  size_t consumed_ = 0;
  std::string chunk_;
};

TEST_F(DumpLoaderTest, AFailureStopsTheReadingThreadWhileItWaitsWithAFullQueue) {
  const int rows = 200000;
  CountingRows counting(rows, 1500);
  std::istream data(&counting);
  try {
    LoadDumpData(
        data, connection_, kMeta, [] {}, true, clock_);
    ADD_FAILURE() << "the empty date did not fail";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("can not classify date str"), std::string::npos) << e.what();
  }
  // The reader stopped a few queued batches past the failing row instead of
  // reading on to the end (or hanging on its full queue).
  EXPECT_LT(counting.consumed(), 200000u * 30 / 10) << counting.consumed();
  EXPECT_EQ(Rows("select count(*) from \"tPerson\""), std::vector<std::string>{"1"});
}

TEST(ProgressThrottleTest, PassesAStepOnlyAfterTheInterval) {
  using namespace std::chrono;
  steady_clock::time_point now{seconds(100)};
  int steps = 0;
  TqnProgressThrottle throttle(
      milliseconds(300), [&] { ++steps; }, [&] { return now; });
  throttle();
  EXPECT_EQ(steps, 1);
  now += milliseconds(299);
  throttle();
  EXPECT_EQ(steps, 1);
  now += milliseconds(1);
  throttle();
  EXPECT_EQ(steps, 2);
  now += milliseconds(200);
  throttle();
  now += milliseconds(200);
  throttle();
  EXPECT_EQ(steps, 3);
}

}  // namespace
}  // namespace qn
