// The database connection and its transactions.
//
// TqnFbConnection holds the client library it works through, the database
// name and the fixed attach parameters (user_name, password, sql_dialect 3,
// lc_ctype WIN1251), and its default transaction trnAuto (no wait, read
// committed, record version). The library is loaded on the first attach or
// create and stays loaded until UnloadLibrary or a change of LibraryName;
// objects that still work through it (statements) keep it loaded.
//
// Transactions and statements refer to their connection, which must outlive
// them. Detaching rolls back every transaction of the connection that is
// still active; statements prepared before then are dead afterwards.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "firebird/fb_api.h"
#include "firebird/fb_client.h"

namespace qn {

inline constexpr const char* kFbDefaultUser = "SYSDBA";
inline constexpr const char* kFbDefaultPassword = "quillfern";
inline constexpr const char* kFbDefaultDatabase = "localhost:";
inline constexpr const char* kFbCharacterSet = "WIN1251";
inline constexpr int kFbSqlDialect = 3;
inline constexpr int kFbPageSize = 4096;

class TqnFbTransaction;

class TqnFbConnection {
 public:
  TqnFbConnection();
  ~TqnFbConnection();  // detaches; never throws
  TqnFbConnection(const TqnFbConnection&) = delete;
  TqnFbConnection& operator=(const TqnFbConnection&) = delete;

  // The client library file (see SelectClientLibrary). A different name
  // detaches and unloads first. Default: the system's client.
  void SetLibraryName(const std::string& path);
  const std::string& LibraryName() const { return libraryName_; }
  // Detaches and lets go of the library; the next attach loads LibraryName.
  void UnloadLibrary();
  bool LibraryLoaded() const { return client_ != nullptr; }
  // The library, loaded now when it is not yet; throws Exception as
  // TqnFbClient::Load does.
  const std::shared_ptr<TqnFbClient>& Client();

  void SetDatabaseName(const std::string& name) { databaseName_ = name; }
  const std::string& DatabaseName() const { return databaseName_; }
  void SetUserName(const std::string& user) { userName_ = user; }
  const std::string& UserName() const { return userName_; }
  void SetPassword(const std::string& password) { password_ = password; }
  const std::string& Password() const { return password_; }

  // The attach parameter block of the fixed parameters.
  std::string DatabaseParameterBlock() const;

  // Attaches to DatabaseName; throws EqnFbError. Detaches first when attached.
  void Attach();
  // While on, Attach asks for an unencrypted wire when DatabaseName is on
  // this machine (a local file, or the host "localhost", 127.x.x.x or
  // "::1"): its traffic never leaves the machine, and encrypting it costs
  // both sides time on every round trip. A server that insists on
  // encryption is attached as usual. Off by default; an attachment made
  // keeps its wire until detached.
  void SetPlainLoopbackWire(bool on) { plainLoopbackWire_ = on; }
  bool PlainLoopbackWire() const { return plainLoopbackWire_; }
  // Rolls back the active transactions and detaches. Throws EqnFbError when
  // the library refuses; the connection counts as detached all the same.
  // Does nothing when not attached.
  void Detach();
  bool Attached() const { return handle_ != 0; }
  // Deletes the attached database (its file, on the server) and detaches;
  // the server refuses while other attachments use it. Throws EqnFbError;
  // the connection counts as detached all the same.
  void DropDatabase();
  // Whether a transaction of the connection is active.
  bool InTransaction() const;

  // Creates DatabaseName with the user name and password by the statement
  // of CreateDatabaseSql, executed immediately in dialect 3, after
  // detaching. The new database stays attached. Throws EqnFbError.
  void CreateDatabase(int pageSize = kFbPageSize, const std::string& characterSet = kFbCharacterSet);

  // The on-disk structure version of the attached database
  // (isc_info_ods_version, isc_info_ods_minor_version). Throws EqnFbError,
  // or Exception when not attached.
  int OdsMajorVersion();
  int OdsMinorVersion();

  // Whether the server writes every changed page through to the disk at
  // once (forced writes) for the attached database; SetForcedWrites changes
  // that flag of the database through an attachment of its own (the user
  // must own the database). The server reopens the database's file for
  // that, which pages being written by other attachments at that moment
  // do not survive: change it only while no other attachment is open.
  // Throw EqnFbError.
  bool ForcedWrites();
  void SetForcedWrites(bool on);

  // The default transaction trnAuto.
  TqnFbTransaction& DefaultTransaction() { return *trnAuto_; }

  // For the classes of this layer: the handle and the entry points of an
  // attached connection (throws Exception "Database is not attached").
  fb::isc_db_handle* Handle();
  const fb::TqnFbApi& Api();
  // Counts attachments, so that a statement can tell that the attachment it
  // was prepared on is gone.
  uint64_t AttachmentSerial() const { return attachmentSerial_; }

 private:
  friend class TqnFbTransaction;
  void ForgetHandle();
  // Rolls back the connection's active transactions, ignoring failures.
  void RollbackAll(const fb::TqnFbApi& api);
  int DatabaseInfoNumber(char item);

  std::string libraryName_;
  std::shared_ptr<TqnFbClient> client_;
  std::string databaseName_, userName_, password_;
  fb::isc_db_handle handle_ = 0;
  uint64_t attachmentSerial_ = 0;
  bool plainLoopbackWire_ = false;
  std::vector<TqnFbTransaction*> transactions_;
  std::unique_ptr<TqnFbTransaction> trnAuto_;
};

// The CREATE DATABASE statement: "CREATE DATABASE '%s' USER '%s' PASSWORD
// '%s' SET NAMES '%s' PAGE_SIZE %d DEFAULT CHARACTER SET %s" with path,
// user, password, the connection character set, the page size and the
// default character set; single quotes in path, user and password doubled.
std::string CreateDatabaseSql(const std::string& path, const std::string& user, const std::string& password,
                              const std::string& characterSet, int pageSize);

// Whether a database name reaches its server over this machine's loopback
// only: a local file, or a host of "localhost", 127.x.x.x or "::1" (in the
// classic form or as a URL). Never throws.
bool IsLoopbackDatabaseName(const std::string& name);

// Doubles every single quote, so that a text stays inside its '...' literal.
std::string QuoteSqlLiteral(const std::string& text);

// The transaction parameter block of trnAuto: write, no wait, read
// committed, record version.
std::string DefaultTransactionParameters();

class TqnFbTransaction {
 public:
  explicit TqnFbTransaction(TqnFbConnection& connection, std::string parameters = DefaultTransactionParameters());
  ~TqnFbTransaction();  // rolls back when active; never throws
  TqnFbTransaction(const TqnFbTransaction&) = delete;
  TqnFbTransaction& operator=(const TqnFbTransaction&) = delete;

  // Throws EqnFbError; Exception when already active or not attached.
  void Start();
  // Starts unless active.
  void EnsureStarted();
  // Throw EqnFbError; do nothing when not active.
  void Commit();
  void Rollback();
  bool Active() const { return handle_ != 0; }

  TqnFbConnection& Connection() { return connection_; }
  fb::isc_tr_handle* Handle() { return &handle_; }

 private:
  friend class TqnFbConnection;
  TqnFbConnection& connection_;
  std::string parameters_;
  fb::isc_tr_handle handle_ = 0;
};

}  // namespace qn
