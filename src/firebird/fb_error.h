// Errors raised by the Firebird client library, carried as the program's
// general exception: the full message text of the status vector and the
// first error code of the vector as the status code (isc_io_error,
// isc_login, ...), so that callers can tell the failures apart.
#pragma once

#include <string>

#include "base/error.h"
#include "firebird/fb_api.h"

namespace qn {

class EqnFbError : public Exception {
 public:
  EqnFbError(const std::string& message, long statusCode, long sqlCode = 0)
      : Exception(message, statusCode), sqlCode_(sqlCode) {}
  // The SQL error code of the vector (e.g. -902), 0 when unknown.
  long SqlCode() const { return sqlCode_; }

 private:
  long sqlCode_;
};

// True when the vector reports an error (warnings alone are no error).
bool StatusFailed(const fb::ISC_STATUS* status);

// The first error code of the vector, 0 when it reports none.
long FirstErrorCode(const fb::ISC_STATUS* status);

// The texts of all messages of the vector as the library words them, joined
// by CR LF. Empty when the library has no interpreter or the vector no error.
std::string StatusMessage(const fb::TqnFbApi& api, const fb::ISC_STATUS* status);

// Throws EqnFbError built from a failed vector; returns when it holds no error.
void CheckStatus(const fb::TqnFbApi& api, const fb::ISC_STATUS* status);

}  // namespace qn
