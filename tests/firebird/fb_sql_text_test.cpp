// The lexical rules: named parameters and the splitting of scripts.
#include "firebird/fb_sql_text.h"

#include "base/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qn {
namespace {

using Names = std::vector<std::string>;

TEST(TranslateNamedParams, NamesBecomePositionsInOrder) {
  Names names;
  EXPECT_EQ(TranslateNamedParams("update t set a = :pd, b = :pm where id = :pd", names),
            "update t set a = ?, b = ? where id = ?");
  EXPECT_EQ(names, (Names{"pd", "pm", "pd"}));

  EXPECT_EQ(TranslateNamedParams("values (:aObject, :a_Name$1)", names), "values (?, ?)");
  EXPECT_EQ(names, (Names{"aObject", "a_Name$1"}));
}

TEST(TranslateNamedParams, StringsCommentsAndIdentifiersAreLeftAlone) {
  Names names;
  const std::string sql =
      "select ':no', \"col:x\", 'it''s :no' /* :no */ -- :no\n"
      "from t where a = :yes";
  EXPECT_EQ(TranslateNamedParams(sql, names),
            "select ':no', \"col:x\", 'it''s :no' /* :no */ -- :no\nfrom t where a = ?");
  EXPECT_EQ(names, Names{"yes"});

  // A colon not followed by a name character is no parameter.
  EXPECT_EQ(TranslateNamedParams("select a[1 : 2] from t", names), "select a[1 : 2] from t");
  EXPECT_TRUE(names.empty());
}

// Fields of a dump may have Russian names; their parameters are named after
// them, in Windows-1251.
TEST(TranslateNamedParams, RussianNamesAreWholeParameters) {
  Names names;
  const std::string a = Win1251("aИмя"), b = Win1251("aСумма_1");
  EXPECT_EQ(TranslateNamedParams("insert into t values (:aObject, :" + a + ", :" + b + ")", names),
            "insert into t values (?, ?, ?)");
  EXPECT_EQ(names, (Names{"aObject", a, b}));
  EXPECT_EQ(TranslateNamedParams("where x = :" + Win1251("Ё") + "", names), "where x = ?");
  EXPECT_EQ(names, (Names{Win1251("Ё")}));
}

TEST(TranslateNamedParams, QuestionMarksKeepTheirPositions) {
  Names names;
  EXPECT_EQ(TranslateNamedParams("insert into t values (?, :b, '?', ?)", names), "insert into t values (?, ?, '?', ?)");
  EXPECT_EQ(names, (Names{"", "b", ""}));
}

TEST(SplitScript, TerminatorsInsideStringsAndCommentsDoNotSplit) {
  const std::string script =
      "/* heading; with a semicolon */\n"
      "CREATE TABLE A (X VARCHAR(10) DEFAULT ';');\n"
      "-- a line comment; still a comment\n"
      "INSERT INTO A VALUES ('a;b''c;');\n"
      "INSERT INTO \"A\" (\"X\") VALUES ('--not a comment');\n"
      ";;  \n"
      "SELECT 1 FROM RDB$DATABASE /* ; */";
  EXPECT_EQ(SplitScript(script), (Names{
                                     "CREATE TABLE A (X VARCHAR(10) DEFAULT ';')",
                                     "INSERT INTO A VALUES ('a;b''c;')",
                                     "INSERT INTO \"A\" (\"X\") VALUES ('--not a comment')",
                                     "SELECT 1 FROM RDB$DATABASE /* ; */",
                                 }));
}

TEST(SplitScript, SetTermChangesTheTerminatorForProcedureBodies) {
  const std::string script =
      "CREATE TABLE T (N INTEGER);\n"
      "set term ^ ;\n"
      "CREATE PROCEDURE P RETURNS (R INTEGER) AS\n"
      "BEGIN\n"
      "  R = 1; /* ^ in a comment */ SUSPEND;\n"
      "END^\n"
      "SET TERM ; ^\n"
      "INSERT INTO T VALUES (1);";
  Names statements = SplitScript(script);
  ASSERT_EQ(statements.size(), 3u);
  EXPECT_EQ(statements[0], "CREATE TABLE T (N INTEGER)");
  EXPECT_EQ(statements[1],
            "CREATE PROCEDURE P RETURNS (R INTEGER) AS\nBEGIN\n  R = 1; /* ^ in a comment */ SUSPEND;\nEND");
  EXPECT_EQ(statements[2], "INSERT INTO T VALUES (1)");
}

TEST(SplitScript, MultiCharacterTerminatorAndUnclosedText) {
  EXPECT_EQ(SplitScript("SET TERM !! ;\nA; B!!C !!"), (Names{"A; B", "C"}));
  // An unclosed string runs to the end and is one statement.
  EXPECT_EQ(SplitScript("A; B 'x; y"), (Names{"A", "B 'x; y"}));
  EXPECT_TRUE(SplitScript(" \r\n/* only a comment */ ; -- and another\n").empty());
}

TEST(LeadingWords, UpperCasedWordsSkippingComments) {
  EXPECT_EQ(LeadingWords("  set /* c */ term ^", 2), "SET TERM");
  EXPECT_EQ(LeadingWords("commit", 3), "COMMIT");
  EXPECT_EQ(LeadingWords("-- x\nRollback Work;", 2), "ROLLBACK WORK");
  EXPECT_EQ(LeadingWords("(select", 2), "");
}

}  // namespace
}  // namespace qn
