// The info command set: the eight commands a workstation may send, each
// answered with one reply payload built from the database register (the
// element "data" of the settings) or from the owner's callbacks.
//
//   get-active-servers                         active-server R host count
//   get-database-info-by-num N [V3]            database-info R N key caption address user password
//   get-database-info-by-name K [V3]           the same, N the entry's position; or error database-not-exists K
//   get-database-backup-path-by-name K         database-backup-path-by-name K folder; or the error above
//   perform-database-backup K                  database-backup-info R success | error message
//   get-fb30-support                           fb30-support 1|0
//   set-database-fb30-convert-lock K           the reply of the conversion switch
//   set-database-fb30-convert-unlock K [switch-to-fb30]
//
// R is the request number as 8 upper-case hex digits; fields that may hold
// blanks are escaped with EscapeField. Missing argument words are taken as
// empty. Commands are matched exactly, case-sensitively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "infoserver/info_context.h"

namespace qn {

struct TqnCommandReply {
  bool answered = false;  // false: no reply at all
  std::string payload;
  bool logged = true;  // whether the "Reply " debug line is written
};

// Runs the command of words[0] (words must not be empty). Errors raised
// while reading the register propagate; backup failures become error replies.
TqnCommandReply RunInfoCommand(const TqnInfoContext& ctx, const std::vector<std::string>& words, int32_t requestNumber,
                               const std::string& peer);

}  // namespace qn
