#include "firebird/fb_attachments.h"

#include "firebird/fb_api.h"
#include "firebird/fb_error.h"
#include "firebird/fb_statement.h"

namespace qn {

namespace {

// Status codes that mean the server was never asked about the file.
constexpr long kNetworkError = 335544721L;     // isc_network_error
constexpr long kNetConnectError = 335544722L;  // isc_net_connect_err

bool ServerNotReached(const EqnFbError& e) {
  const long code = e.StatusCode();
  return code == fb::isc_login || code == kNetworkError || code == kNetConnectError;
}

// The first query needs Firebird 3.0 (system attachments are flagged);
// the second serves 2.1 and 2.5, which list no system attachments.
const char* const kQueries[] = {
    "select count(*) from mon$attachments where mon$attachment_id <> current_connection and mon$system_flag = 0",
    "select count(*) from mon$attachments where mon$attachment_id <> current_connection",
};

}  // namespace

TqnAttachmentCount OtherAttachments(TqnFbConnection& connection) {
  try {
    connection.Attach();
  } catch (const EqnFbError& e) {
    if (ServerNotReached(e)) throw;
    return TqnAttachmentCount::Unknown;
  } catch (const std::exception&) {
    return TqnAttachmentCount::Unknown;
  }
  TqnAttachmentCount result = TqnAttachmentCount::Unknown;
  for (const char* sql : kQueries) {
    try {
      TqnFbTransaction transaction(connection);
      TqnFbStatement query(connection, transaction);
      query.Execute(sql);
      if (query.Fetch()) {
        result = query.AsInt64(0) > 0 ? TqnAttachmentCount::Others : TqnAttachmentCount::None;
        query.Close();
        transaction.Commit();
        break;
      }
    } catch (const EqnFbError&) {
      // An older server without this form of the question; try the next.
    }
  }
  try {
    connection.Detach();
  } catch (const std::exception&) {
  }
  return result;
}

}  // namespace qn
