// HandleInfoPacket: the dispatcher both transports feed. It refuses packets
// over 2048 characters, checks the packet's check sum, splits the payload
// into words at blanks and runs the command the first word names (the
// command set, info_commands.h). Log lines go to the context's log.
#pragma once

#include <string>

#include "infoserver/info_context.h"

namespace qn {

// Returns the framed reply (numbered with the instance number), or
// kInvalidReply when nothing is to be sent: oversize packet, bad check sum,
// no words, unknown command, or a command that gives no reply. peer is the
// sender's IP address for UDP and "" for TCP. Errors a command raises, other
// than those of a remote backup, propagate to the transport, which then
// sends nothing. Safe to call from several threads at once.
std::string HandleInfoPacket(const TqnInfoContext& ctx, const std::string& packet, const std::string& peer);

}  // namespace qn
