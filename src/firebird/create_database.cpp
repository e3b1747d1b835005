#include "firebird/create_database.h"

#include "base/text.h"
#include "firebird/fb_client.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_error.h"
#include "firebird/fb_statement.h"
#include "platform/files.h"

namespace qn {

namespace {

constexpr const char* kCreateMarkerTable = "CREATE TABLE TPROTO(FNAME VARCHAR(30), FSTATE VARCHAR(30))";
constexpr const char* kInsertMarkerRow = "INSERT INTO TPROTO(FNAME, FSTATE) VALUES ('TX7', 'PROTO')";

void DetachQuietly(TqnFbConnection& connection) {
  try {
    connection.Detach();
  } catch (...) {
  }
}

void CreateMarkerTable(TqnFbConnection& connection) {
  TqnFbTransaction transaction(connection);
  TqnFbStatement statement(connection, transaction);
  transaction.Start();
  statement.Execute(kCreateMarkerTable);
  transaction.Commit();
  transaction.Start();
  statement.Execute(kInsertMarkerRow);
  transaction.Commit();
}

}  // namespace

void CreateAttachedDatabase(TqnFbConnection& connection, const TqnLoginCallback& askLogin,
                            const std::function<void(TqnFbConnection&)>& afterCreate) {
  for (;;) {
    try {
      connection.CreateDatabase(kFbPageSize, kFbCharacterSet);
      if (afterCreate) afterCreate(connection);
      return;
    } catch (const EqnFbError& error) {
      DetachQuietly(connection);
      if (error.StatusCode() == fb::isc_login) {
        std::string user = connection.UserName();
        std::string password = connection.Password();
        if (!askLogin || !askLogin(user, password)) throw;
        connection.SetUserName(user);
        connection.SetPassword(password);
        continue;
      }
      if (error.StatusCode() == fb::isc_io_error)
        throw EqnFbError(Format(Win1251("Путь \"%s\" указывает на недоступный каталог,\r\n"
                                        "или база данных с этим путем уже существует")
                                    .c_str(),
                                connection.DatabaseName().c_str()),
                         fb::isc_io_error);
      throw;
    } catch (...) {
      DetachQuietly(connection);
      throw;
    }
  }
}

TqnDbCredentials FinishDatabaseCreation(TqnFbConnection& connection,
                                        const std::function<void(const std::string&)>& logError) {
  TqnDbCredentials result{connection.DatabaseName(), connection.UserName(), connection.Password()};
  try {
    connection.Detach();
  } catch (const std::exception& e) {
    // The database and its marker are committed: it exists, whatever the
    // goodbye to the server said.
    if (logError) logError("detaching the new database " + result.path + " failed: " + e.what());
  }
  return result;
}

TqnDbCredentials CreateDatabase(TqnFbConnection& connection, const TqnDbCredentials& credentials,
                                const TqnLoginCallback& askLogin,
                                const std::function<void(const std::string&)>& logError) {
  connection.UnloadLibrary();
  connection.SetDatabaseName(credentials.path);
  connection.SetUserName(credentials.user);
  connection.SetPassword(credentials.password);
  connection.SetLibraryName(SelectClientLibrary(platform::ExecutableFolder(), true));
  CreateAttachedDatabase(connection, askLogin, CreateMarkerTable);
  return FinishDatabaseCreation(connection, logError);
}

}  // namespace qn
