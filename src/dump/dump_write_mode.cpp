#include "dump/dump_write_mode.h"

#include <exception>

#include "firebird/fb_connection.h"
#include "firebird/fb_statement.h"

namespace qn {

TqnWriteModeGuard::TqnWriteModeGuard(TqnFbConnection& connection) : connection_(connection) {
  try {
    if (connection_.InTransaction() || !connection_.ForcedWrites() || OtherAttachments()) return;
    // Counted as switched before the switch: whatever fails after it
    // (the attachment again, say), the destructor puts the flag back.
    switched_ = true;
    Switch(false);
  } catch (const std::exception&) {
    // Not the owner, or a server that refuses: the load only runs slower.
    if (!connection_.Attached()) connection_.Attach();
  }
}

TqnWriteModeGuard::~TqnWriteModeGuard() {
  try {
    Restore();
  } catch (const std::exception&) {
    // the failure that ends the load is the one to report
  }
}

void TqnWriteModeGuard::Restore() {
  if (!switched_) return;
  switched_ = false;
  Switch(true);
}

bool TqnWriteModeGuard::OtherAttachments() {
  TqnFbTransaction transaction(connection_);
  TqnFbStatement query(connection_, transaction);
  query.Execute(
      "select count(*) from mon$attachments where mon$attachment_id <> current_connection and "
      "mon$system_flag = 0");
  bool others = query.Fetch() && query.AsInteger(0) > 0;
  query.Close();
  transaction.Commit();
  return others;
}

// The flag is set through an attachment of its own; a detach that fails
// (a connection already lost) must not keep the flag from being set.
void TqnWriteModeGuard::Switch(bool on) {
  try {
    if (connection_.Attached()) connection_.Detach();
  } catch (const std::exception&) {
  }
  try {
    connection_.SetForcedWrites(on);
  } catch (...) {
    if (!connection_.Attached()) connection_.Attach();
    throw;
  }
  connection_.Attach();
}

}  // namespace qn
