// Creation of a new, empty database on the Firebird 3.0 server, with the
// retry on a refused login. Works on the connection it is given and leaves
// the settings alone: the caller stores what comes back.
#pragma once

#include <functional>
#include <string>

namespace qn {

class TqnFbConnection;

// Path (as sent to the server), user name and password of a database.
struct TqnDbCredentials {
  std::string path;
  std::string user;
  std::string password;
};

// The login dialog: given the current user name and password, returns true
// with the values typed, false when cancelled.
using TqnLoginCallback = std::function<bool(std::string& user, std::string& password)>;

// Creates the connection's database (page size 4096, character set WIN1251,
// dialect 3) and runs afterCreate on it, if given; repeats both from the
// creation on while the server refuses the login and askLogin confirms new
// values. On success the database stays attached. Failures:
//   - a refused login that askLogin cancels (or no askLogin): the login
//     error itself (status isc_login);
//   - isc_io_error: EqnFbError "Путь \"<database name>\" указывает на
//     недоступный каталог,\r\nили база данных с этим путем уже существует"
//     with status isc_io_error;
//   - anything else unchanged.
// The connection is detached after a failure.
void CreateAttachedDatabase(TqnFbConnection& connection, const TqnLoginCallback& askLogin,
                            const std::function<void(TqnFbConnection&)>& afterCreate = {});

// The new database of an entry: sets the connection's database name, user
// name and password from the credentials, unloads its client library and
// selects the "fb30c" one of the executable's folder (never the state
// folder, which others may write), creates the database with
// the marker table TPROTO and its row 'TX7', 'PROTO' (each step committed
// on a transaction of its own), and detaches in every case. Returns the
// path, user name and password that finally worked. Failures as
// CreateAttachedDatabase; a database file created before a later step
// failed is left in place. A failure of the last detach, once everything is
// committed, is no failure of the creation: it goes to logError.
TqnDbCredentials CreateDatabase(TqnFbConnection& connection, const TqnDbCredentials& credentials,
                                const TqnLoginCallback& askLogin,
                                const std::function<void(const std::string&)>& logError = {});

// The last step of CreateDatabase: the connection's name and credentials,
// then the detach; a detach that fails is told to logError, not thrown.
TqnDbCredentials FinishDatabaseCreation(TqnFbConnection& connection,
                                        const std::function<void(const std::string&)>& logError);

}  // namespace qn
