// Whether anyone else works in a database: asked of the server that holds
// it, through its monitoring tables, before its file is moved away.
#pragma once

#include "firebird/fb_connection.h"

namespace qn {

enum class TqnAttachmentCount {
  None,     // no attachment but the question's own
  Others,   // some other client is attached
  Unknown,  // the server cannot tell (no monitoring tables; a damaged file)
};

// Attaches the connection (its name, user, password and library set),
// counts the other user attachments and detaches again. A refused login
// and an unreachable server are thrown as their EqnFbError: a caller that
// is about to replace the database must not go on then. Any other failure
// to attach or to ask means the server cannot tell.
TqnAttachmentCount OtherAttachments(TqnFbConnection& connection);

}  // namespace qn
