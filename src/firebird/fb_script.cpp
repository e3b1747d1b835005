#include "firebird/fb_script.h"

#include <set>

#include "firebird/fb_connection.h"
#include "firebird/fb_sql_text.h"
#include "firebird/fb_statement.h"

namespace qn {

namespace {

enum class Kind { Sql, Commit, Rollback, ToolSetting };

Kind Classify(const std::string& statement) {
  static const std::set<std::string> kToolSettings = {"AUTODDL", "SQL",     "NAMES",       "ECHO",    "BAIL", "LIST",
                                                      "COUNT",   "HEADING", "WARNINGS",    "STATS",   "PLAN", "TIME",
                                                      "WIDTH",   "BLOB",    "BLOBDISPLAY", "PLANONLY"};
  std::string words = LeadingWords(statement, 3);
  std::string first = words.substr(0, words.find(' '));
  std::string rest = first.size() < words.size() ? words.substr(first.size() + 1) : std::string();
  if ((first == "COMMIT" || first == "ROLLBACK") && (rest.empty() || rest == "WORK"))
    return first == "COMMIT" ? Kind::Commit : Kind::Rollback;
  if (first == "SET") {
    std::string second = rest.substr(0, rest.find(' '));
    if (kToolSettings.count(second)) return Kind::ToolSetting;
  }
  return Kind::Sql;
}

}  // namespace

int RunScript(TqnFbConnection& connection, TqnFbTransaction& transaction, const std::string& script,
              const TqnScriptStatementHandler& onStatement) {
  int count = 0;
  TqnFbStatement statement(connection, transaction);
  statement.SetParamCheck(false);
  for (const std::string& text : SplitScript(script)) {
    if (onStatement) onStatement(text);
    ++count;
    switch (Classify(text)) {
      case Kind::Commit: transaction.Commit(); break;
      case Kind::Rollback: transaction.Rollback(); break;
      case Kind::ToolSetting: break;
      case Kind::Sql:
        statement.Prepare(text);
        statement.Execute();
        statement.Close();
        if (statement.StatementType() == fb::isc_info_sql_stmt_ddl) transaction.Commit();
        break;
    }
  }
  transaction.Commit();
  return count;
}

}  // namespace qn
