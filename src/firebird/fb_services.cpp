#include "firebird/fb_services.h"

#include "base/error.h"
#include "base/text.h"
#include "firebird/fb_error.h"

namespace qn {

namespace {

constexpr size_t kLineBufferSize = 1024;

void AddShortText(std::string& block, char tag, const std::string& value) {
  if (value.size() > 255) throw Exception(Format("Service parameter %d is longer than 255 bytes", tag));
  block += tag;
  block += static_cast<char>(value.size());
  block += value;
}

void AddText(std::string& block, char tag, const std::string& value) {
  if (value.size() > 0xFFFF) throw Exception(Format("Service parameter %d is longer than 65535 bytes", tag));
  block += tag;
  block += static_cast<char>(value.size() & 0xFF);
  block += static_cast<char>((value.size() >> 8) & 0xFF);
  block += value;
}

void AddNumber(std::string& block, char tag, uint32_t value) {
  block += tag;
  for (int i = 0; i < 4; ++i) block += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string ServiceManagerName(const std::string& host, int port) {
  return (port != 0 ? host + "/" + std::to_string(port) : host) + ":service_mgr";
}

std::string ServiceAttachBlock(const std::string& user, const std::string& password) {
  std::string block{fb::isc_spb_version, fb::isc_spb_current_version};
  AddShortText(block, fb::isc_spb_user_name, user);
  AddShortText(block, fb::isc_spb_password, password);
  return block;
}

std::string BackupRequestBlock(const TqnFbBackupRequest& request) {
  std::string block(1, fb::isc_action_svc_backup);
  AddText(block, fb::isc_spb_dbname, request.database);
  AddText(block, fb::isc_spb_bkp_file, request.backupFile);
  if (request.verbose) block += fb::isc_spb_verbose;
  AddNumber(block, fb::isc_spb_options, request.options);
  return block;
}

std::string RestoreRequestBlock(const TqnFbRestoreRequest& request) {
  std::string block(1, fb::isc_action_svc_restore);
  AddText(block, fb::isc_spb_bkp_file, request.backupFile);
  AddText(block, fb::isc_spb_dbname, request.database);
  if (request.verbose) block += fb::isc_spb_verbose;
  AddNumber(block, fb::isc_spb_options, request.options);
  if (!request.fixFssMetadata.empty()) AddText(block, fb::isc_spb_res_fix_fss_metadata, request.fixFssMetadata);
  if (request.pageBuffers > 0) AddNumber(block, fb::isc_spb_res_buffers, request.pageBuffers);
  return block;
}

bool ParseServiceLine(const char* buffer, size_t size, std::string& line) {
  line.clear();
  if (size < 3 || buffer[0] != fb::isc_info_svc_line) return false;
  size_t length =
      static_cast<unsigned char>(buffer[1]) | (static_cast<size_t>(static_cast<unsigned char>(buffer[2])) << 8);
  line.assign(buffer + 3, std::min(length, size - 3));
  return true;
}

TqnFbServices::TqnFbServices(std::shared_ptr<TqnFbClient> client) : client_(std::move(client)) {}

TqnFbServices::~TqnFbServices() {
  try {
    Detach();
  } catch (...) {
  }
}

void TqnFbServices::Attach(const std::string& host, int port, const std::string& user, const std::string& password) {
  Detach();
  const fb::TqnFbApi& api = client_->Api();
  std::string name = ServiceManagerName(host, port);
  std::string block = ServiceAttachBlock(user, password);
  fb::ISC_STATUS_ARRAY status = {};
  fb::isc_svc_handle handle = 0;
  api.isc_service_attach(status, static_cast<unsigned short>(name.size()), name.data(), &handle,
                         static_cast<unsigned short>(block.size()), block.data());
  CheckStatus(api, status);
  handle_ = handle;
}

void TqnFbServices::Detach() {
  if (!handle_) return;
  const fb::TqnFbApi& api = client_->Api();
  fb::ISC_STATUS_ARRAY status = {};
  api.isc_service_detach(status, &handle_);
  handle_ = 0;
  CheckStatus(api, status);
}

void TqnFbServices::Start(const std::string& requestBlock) {
  if (!handle_) throw Exception("Service is not attached");
  if (requestBlock.size() > 0xFFFF) throw Exception("Service request too long");
  const fb::TqnFbApi& api = client_->Api();
  fb::ISC_STATUS_ARRAY status = {};
  api.isc_service_start(status, &handle_, nullptr, static_cast<unsigned short>(requestBlock.size()),
                        requestBlock.data());
  CheckStatus(api, status);
}

void TqnFbServices::ReadLines(const TqnServiceLineHandler& onLine) {
  if (!handle_) throw Exception("Service is not attached");
  const fb::TqnFbApi& api = client_->Api();
  const char request[] = {fb::isc_info_svc_line};
  char buffer[kLineBufferSize];
  std::string line;
  for (;;) {
    fb::ISC_STATUS_ARRAY status = {};
    buffer[0] = 0;
    api.isc_service_query(status, &handle_, nullptr, 0, nullptr, sizeof request, request, sizeof buffer, buffer);
    CheckStatus(api, status);
    if (!ParseServiceLine(buffer, sizeof buffer, line))
      throw Exception(Format("Unexpected service answer %d", static_cast<unsigned char>(buffer[0])));
    if (line.empty()) return;
    if (onLine) onLine(line);
  }
}

void TqnFbServices::Run(const std::string& host, int port, const std::string& user, const std::string& password,
                        const std::string& requestBlock, bool verbose, const TqnServiceLineHandler& onLine) {
  Attach(host, port, user, password);
  try {
    Start(requestBlock);
    if (verbose) ReadLines(onLine);
  } catch (...) {
    try {
      Detach();
    } catch (...) {
    }
    throw;
  }
  Detach();
}

void TqnFbServices::Backup(const std::string& host, int port, const std::string& user, const std::string& password,
                           const TqnFbBackupRequest& request, const TqnServiceLineHandler& onLine) {
  Run(host, port, user, password, BackupRequestBlock(request), request.verbose, onLine);
}

void TqnFbServices::Restore(const std::string& host, int port, const std::string& user, const std::string& password,
                            const TqnFbRestoreRequest& request, const TqnServiceLineHandler& onLine) {
  Run(host, port, user, password, RestoreRequestBlock(request), request.verbose, onLine);
}

}  // namespace qn
