#include "firebird/fb_error.h"

#include "base/text.h"

namespace qn {

bool StatusFailed(const fb::ISC_STATUS* status) { return status[0] == fb::isc_arg_gds && status[1] != 0; }

long FirstErrorCode(const fb::ISC_STATUS* status) { return StatusFailed(status) ? static_cast<long>(status[1]) : 0; }

std::string StatusMessage(const fb::TqnFbApi& api, const fb::ISC_STATUS* status) {
  if (!StatusFailed(status)) return {};
  std::string text;
  char line[1024];
  auto add = [&](const char* part) {
    if (!text.empty()) text += "\r\n";
    text += part;
  };
  if (api.fb_interpret) {
    const fb::ISC_STATUS* cursor = status;
    while (api.fb_interpret(line, sizeof line, &cursor) > 0) add(line);
  } else if (api.isc_interprete) {
    // The old interpreter advances a non-const cursor; it does not write the vector.
    fb::ISC_STATUS* cursor = const_cast<fb::ISC_STATUS*>(status);
    while (api.isc_interprete(line, &cursor) > 0) add(line);
  }
  return text;
}

void CheckStatus(const fb::TqnFbApi& api, const fb::ISC_STATUS* status) {
  if (!StatusFailed(status)) return;
  long code = FirstErrorCode(status);
  std::string message = StatusMessage(api, status);
  if (message.empty()) message = Format("Firebird error %ld", code);
  long sqlCode = api.isc_sqlcode ? static_cast<long>(api.isc_sqlcode(status)) : 0;
  throw EqnFbError(message, code, sqlCode);
}

}  // namespace qn
