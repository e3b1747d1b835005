#include "firebird/fb_connection.h"

#include <algorithm>

#include "base/error.h"
#include "base/text.h"
#include "firebird/fb_error.h"
#include "firebird/fb_paths.h"
#include "platform/files.h"

namespace qn {

namespace {

// One clumplet of a parameter block: tag, one length byte, the bytes.
void AddShortItem(std::string& block, char tag, const std::string& value) {
  if (value.size() > 255) throw Exception(Format("Parameter %d is longer than 255 bytes", tag));
  block += tag;
  block += static_cast<char>(value.size());
  block += value;
}

void AddIntItem(std::string& block, char tag, uint32_t value) {
  block += tag;
  block += static_cast<char>(4);
  for (int i = 0; i < 4; ++i) block += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string QuoteSqlLiteral(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::string CreateDatabaseSql(const std::string& path, const std::string& user, const std::string& password,
                              const std::string& characterSet, int pageSize) {
  // Quotes doubled: a quote in a path, user name or password must not end its literal early.
  return Format("CREATE DATABASE '%s' USER '%s' PASSWORD '%s' SET NAMES '%s' PAGE_SIZE %d DEFAULT CHARACTER SET %s",
                QuoteSqlLiteral(path).c_str(), QuoteSqlLiteral(user).c_str(), QuoteSqlLiteral(password).c_str(),
                characterSet.c_str(), pageSize, characterSet.c_str());
}

bool IsLoopbackDatabaseName(const std::string& name) {
  TFbLocation location;
  try {
    // A drive path's type does not matter here: any file path is local.
    location = ParseDatabasePath(name, [](const std::string&) { return platform::DriveType::Fixed; });
  } catch (const std::exception&) {
    return false;
  }
  std::string host = LowerCase(TrimBlanks(location.host));
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const bool loopbackV4 = host.rfind("127.", 0) == 0 && host.find_first_not_of("0123456789.") == std::string::npos;
  return host.empty() || host == kLocalHostName || host == "::1" || loopbackV4;
}

std::string DefaultTransactionParameters() {
  return std::string{fb::isc_tpb_version3, fb::isc_tpb_write, fb::isc_tpb_nowait, fb::isc_tpb_read_committed,
                     fb::isc_tpb_rec_version};
}

// ---- connection -------------------------------------------------------------

TqnFbConnection::TqnFbConnection()
    : libraryName_(kSystemFbClient),
      databaseName_(kFbDefaultDatabase),
      userName_(kFbDefaultUser),
      password_(kFbDefaultPassword),
      trnAuto_(std::make_unique<TqnFbTransaction>(*this)) {}

TqnFbConnection::~TqnFbConnection() {
  try {
    Detach();
  } catch (...) {
  }
  trnAuto_.reset();
}

void TqnFbConnection::SetLibraryName(const std::string& path) {
  if (path == libraryName_) return;
  UnloadLibrary();
  libraryName_ = path;
}

void TqnFbConnection::UnloadLibrary() {
  try {
    Detach();
  } catch (...) {
    client_.reset();
    throw;
  }
  client_.reset();
}

const std::shared_ptr<TqnFbClient>& TqnFbConnection::Client() {
  if (!client_) client_ = TqnFbClient::Load(libraryName_);
  return client_;
}

std::string TqnFbConnection::DatabaseParameterBlock() const {
  std::string dpb(1, fb::isc_dpb_version1);
  AddShortItem(dpb, fb::isc_dpb_user_name, userName_);
  AddShortItem(dpb, fb::isc_dpb_password, password_);
  AddIntItem(dpb, fb::isc_dpb_sql_dialect, kFbSqlDialect);
  AddShortItem(dpb, fb::isc_dpb_lc_ctype, kFbCharacterSet);
  // The name goes in the kernel's form, which here is UTF-8: said so, the
  // client hands it on as it is.
  if (platform::kUtf8FileNames) AddShortItem(dpb, fb::isc_dpb_utf8_filename, "");
  return dpb;
}

void TqnFbConnection::Attach() {
  Detach();
  const fb::TqnFbApi& api = Client()->Api();
  const std::string dpb = DatabaseParameterBlock();
  // The server opens the file by its real name, the kernel's form of ours.
  const std::string name = platform::KernelFileName(databaseName_);
  if (name.size() > 32767) throw Exception("Database name too long");
  fb::ISC_STATUS_ARRAY status = {};
  fb::isc_db_handle handle = 0;
  auto attach = [&](const std::string& parameters) {
    handle = 0;
    std::fill(std::begin(status), std::end(status), 0);
    api.isc_attach_database(status, static_cast<short>(name.size()), name.data(), &handle,
                            static_cast<short>(parameters.size()), parameters.data());
  };
  if (plainLoopbackWire_ && IsLoopbackDatabaseName(databaseName_)) {
    std::string plain = dpb;
    AddShortItem(plain, fb::isc_dpb_config, "WireCrypt = Disabled");
    attach(plain);
    // Refused (a server that requires encryption, say): attached as
    // usual, any failure then being the usual attach's.
    if (StatusFailed(status)) attach(dpb);
  } else {
    attach(dpb);
  }
  CheckStatus(api, status);
  handle_ = handle;
  ++attachmentSerial_;
}

void TqnFbConnection::ForgetHandle() {
  for (TqnFbTransaction* t : transactions_) t->handle_ = 0;
  handle_ = 0;
}

void TqnFbConnection::RollbackAll(const fb::TqnFbApi& api) {
  for (TqnFbTransaction* t : transactions_) {
    if (!t->handle_) continue;
    fb::ISC_STATUS_ARRAY status = {};
    api.isc_rollback_transaction(status, &t->handle_);
    t->handle_ = 0;
  }
}

void TqnFbConnection::Detach() {
  if (!handle_) return;
  const fb::TqnFbApi& api = client_->Api();
  RollbackAll(api);
  fb::ISC_STATUS_ARRAY status = {};
  api.isc_detach_database(status, &handle_);
  ForgetHandle();
  CheckStatus(api, status);
}

void TqnFbConnection::DropDatabase() {
  const fb::TqnFbApi& api = Api();
  RollbackAll(api);
  fb::ISC_STATUS_ARRAY status = {};
  fb::isc_db_handle handle = handle_;
  api.isc_drop_database(status, &handle);
  if (handle) {
    // Refused: the attachment stays, and is let go.
    fb::ISC_STATUS_ARRAY ignored = {};
    api.isc_detach_database(ignored, &handle);
  }
  ForgetHandle();
  CheckStatus(api, status);
}

void TqnFbConnection::CreateDatabase(int pageSize, const std::string& characterSet) {
  Detach();
  const fb::TqnFbApi& api = Client()->Api();
  std::string sql =
      CreateDatabaseSql(platform::KernelFileName(databaseName_), userName_, password_, characterSet, pageSize);
  fb::ISC_STATUS_ARRAY status = {};
  fb::isc_db_handle handle = 0;
  fb::isc_tr_handle transaction = 0;
  api.isc_dsql_execute_immediate(status, &handle, &transaction, 0, sql.c_str(), fb::kSqlDialect3, nullptr);
  CheckStatus(api, status);
  handle_ = handle;
  ++attachmentSerial_;
}

fb::isc_db_handle* TqnFbConnection::Handle() {
  if (!handle_) throw Exception("Database is not attached");
  return &handle_;
}

const fb::TqnFbApi& TqnFbConnection::Api() {
  if (!handle_) throw Exception("Database is not attached");
  return client_->Api();
}

int TqnFbConnection::DatabaseInfoNumber(char item) {
  const fb::TqnFbApi& api = Api();
  char items[] = {item, fb::isc_info_end};
  char buffer[64] = {};
  fb::ISC_STATUS_ARRAY status = {};
  api.isc_database_info(status, &handle_, sizeof items, items, sizeof buffer, buffer);
  CheckStatus(api, status);
  // item, 2-byte little-endian length, little-endian value
  if (buffer[0] != item) throw Exception(Format("Database information item %d not returned", item));
  int length = static_cast<unsigned char>(buffer[1]) | (static_cast<unsigned char>(buffer[2]) << 8);
  if (length < 1 || length > 4) throw Exception(Format("Database information item %d has length %d", item, length));
  uint32_t value = 0;
  for (int i = 0; i < length; ++i) value |= static_cast<uint32_t>(static_cast<unsigned char>(buffer[3 + i])) << (8 * i);
  return static_cast<int>(value);
}

bool TqnFbConnection::InTransaction() const {
  return std::any_of(transactions_.begin(), transactions_.end(), [](const TqnFbTransaction* t) { return t->Active(); });
}

bool TqnFbConnection::ForcedWrites() { return DatabaseInfoNumber(fb::isc_info_forced_writes) != 0; }

void TqnFbConnection::SetForcedWrites(bool on) {
  const fb::TqnFbApi& api = Client()->Api();
  std::string dpb = DatabaseParameterBlock();
  dpb += fb::isc_dpb_force_write;
  dpb += static_cast<char>(1);
  dpb += static_cast<char>(on ? 1 : 0);
  fb::ISC_STATUS_ARRAY status = {};
  fb::isc_db_handle handle = 0;
  // The same name as the attachment's: a Cyrillic path travels as UTF-8.
  const std::string name = platform::KernelFileName(databaseName_);
  api.isc_attach_database(status, static_cast<short>(name.size()), name.data(), &handle, static_cast<short>(dpb.size()),
                          dpb.data());
  CheckStatus(api, status);
  api.isc_detach_database(status, &handle);
  CheckStatus(api, status);
}

int TqnFbConnection::OdsMajorVersion() { return DatabaseInfoNumber(fb::isc_info_ods_version); }
int TqnFbConnection::OdsMinorVersion() { return DatabaseInfoNumber(fb::isc_info_ods_minor_version); }

// ---- transaction -------------------------------------------------------------

TqnFbTransaction::TqnFbTransaction(TqnFbConnection& connection, std::string parameters)
    : connection_(connection), parameters_(std::move(parameters)) {
  connection_.transactions_.push_back(this);
}

TqnFbTransaction::~TqnFbTransaction() {
  try {
    Rollback();
  } catch (...) {
  }
  auto& list = connection_.transactions_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TqnFbTransaction::Start() {
  if (handle_) throw Exception("Transaction is already active");
  const fb::TqnFbApi& api = connection_.Api();
  fb::TqnTeb teb{connection_.Handle(), static_cast<intptr_t>(parameters_.size()), parameters_.data()};
  fb::ISC_STATUS_ARRAY status = {};
  api.isc_start_multiple(status, &handle_, 1, &teb);
  if (StatusFailed(status)) handle_ = 0;
  CheckStatus(api, status);
}

void TqnFbTransaction::EnsureStarted() {
  if (!handle_) Start();
}

void TqnFbTransaction::Commit() {
  if (!handle_) return;
  const fb::TqnFbApi& api = connection_.Api();
  fb::ISC_STATUS_ARRAY status = {};
  api.isc_commit_transaction(status, &handle_);
  CheckStatus(api, status);
  handle_ = 0;
}

void TqnFbTransaction::Rollback() {
  if (!handle_) return;
  const fb::TqnFbApi& api = connection_.Api();
  fb::ISC_STATUS_ARRAY status = {};
  api.isc_rollback_transaction(status, &handle_);
  handle_ = 0;  // a failed rollback leaves nothing to retry: the server ends it with the attachment
  CheckStatus(api, status);
}

}  // namespace qn
