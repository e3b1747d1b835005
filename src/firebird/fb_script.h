// Runs a multi-statement SQL text (a schema script) on a connection.
#pragma once

#include <functional>
#include <string>

namespace qn {

class TqnFbConnection;
class TqnFbTransaction;

// Called with each statement's text before it runs.
using TqnScriptStatementHandler = std::function<void(const std::string& statement)>;

// Splits the script as SplitScript does and runs its statements in order on
// the transaction (started when needed):
//   - every DDL statement is committed at once;
//   - "COMMIT [WORK]" and "ROLLBACK [WORK]" end the transaction;
//   - the interactive tool's own settings ("SET SQL DIALECT", "SET NAMES",
//     "SET AUTODDL", "SET ECHO", "SET BAIL", "SET LIST", "SET COUNT",
//     "SET HEADING", "SET WARNINGS", "SET STATS", "SET PLAN", "SET TIME",
//     "SET WIDTH", "SET BLOB") are reported but not sent;
//   - ":x" in statements is left to the server (procedure variables);
//   - rows of a query are not read.
// At the end the transaction is committed when still active. The first
// failure ends the run with its exception; the transaction stays as it was
// then (the caller rolls it back). Returns the number of statements run.
int RunScript(TqnFbConnection& connection, TqnFbTransaction& transaction, const std::string& script,
              const TqnScriptStatementHandler& onStatement = {});

}  // namespace qn
