#include "infoserver/info_handler.h"

#include "infoserver/info_commands.h"
#include "infoserver/info_packet.h"

namespace qn {

void InfoLog(const TqnInfoContext& ctx, const std::string& text, int level) {
  if (ctx.log) ctx.log->LogMessage(text, level);
}

std::string HandleInfoPacket(const TqnInfoContext& ctx, const std::string& packet, const std::string& peer) {
  if (packet.size() > kInfoPacketLimit) {
    InfoLog(ctx, "data too big", 0);
    return kInvalidReply;
  }
  InfoLog(ctx, "Receiving packet length " + std::to_string(packet.size()), 2);
  const TqnDecodedPacket request = DecodePacket(packet, ctx.packetKey);
  InfoLog(ctx, "Receiving command " + request.payload, 2);
  const std::vector<std::string> words = SplitWords(request.payload, " ");
  if (words.empty()) return kInvalidReply;

  const TqnCommandReply reply = RunInfoCommand(ctx, words, request.number, peer);
  if (!reply.answered) return kInvalidReply;
  if (reply.logged) InfoLog(ctx, "Reply " + reply.payload, 2);
  return EncodePacket(reply.payload, ctx.packetKey, ctx.instanceNumber);
}

}  // namespace qn
