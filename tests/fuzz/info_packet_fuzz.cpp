// Fuzz target for the info server's packet path: the codec and the whole
// command set behind HandleInfoPacket, on a fixed in-memory register.
//
// The first input byte picks the mode: 0 takes the rest as a raw packet
// (mostly failing the check sum); any other value frames the rest as a
// payload with the right key, so that every command and its arguments are
// reached. Either way the reply is decoded again and the helpers run on the
// input too. Invariants that must hold are checked with __builtin_trap.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/clock.h"
#include "base/error.h"
#include "infoserver/info_handler.h"
#include "infoserver/info_packet.h"
#include "ipc/message_pane.h"
#include "xml/xml_parser.h"

namespace {

constexpr const char* kKey = "JD_LW4";

const char* kSettings =
    "<?xml version=\"1.0\" encoding=\"windows-1251\"?>"
    "<settings><PIN>JD_LW4</PIN><data>"
    "<db0000><path>localhost:C:\\Data\\tx.fdb</path><user>SYSDBA</user><pwd>quillfern</pwd>"
    "<caption>Main base</caption><backup><path>C:\\Backup\\0000</path></backup></db0000>"
    "<db0001><path>localhost/53030:C:\\Data\\tx1.fd3</path><user>SYS&#x26;DBA</user><pwd>p w</pwd>"
    "<hidepwd>1</hidepwd><backup><path>C:\\</path></backup></db0001>"
    "<other>x</other>"
    "<db0002><path>ab</path><caption></caption><backup><path>D:\\Copies\\</path></backup></db0002>"
    "<db0003><path>inet4://srv:53030/x.fd3</path></db0003>"
    "</data><tcp-port>7983</tcp-port></settings>";

class FixedClock : public qn::Clock {
 public:
  qn::DateTime Now() const override {
    qn::DateTime t;
    t.year = 2024;
    t.month = 3;
    t.day = 5;
    t.hour = 14;
    t.minute = 7;
    t.second = 9;
    t.msec = 123;
    return t;
  }
};

struct World {
  World() : root(qn::XmlLoadStream(kSettings, "settings")) {
    ctx.packetKey = kKey;
    ctx.instanceNumber = 0x1234ABCD;
    ctx.address.localHostName = "OFFICE1";
    ctx.pane = &pane;
    ctx.clock = &clock;
    ctx.readSettings = [this](const std::function<void(const qn::TqnNode&)>& fn) { fn(*root); };
    ctx.isFb30Running = [] { return true; };
    ctx.runFb30ConvertCommand = [](const std::vector<std::string>& words) {
      std::string reply = "database-fb30-convert-lock";
      for (size_t i = 1; i < words.size(); ++i) reply += " " + qn::EscapeField(words[i]);
      return reply;
    };
    ctx.performBackup = [](const qn::TqnRemoteBackupRequest& r) {
      if (r.fileName.size() % 2) throw qn::Exception("backup failed: " + r.fileName);
    };
  }
  std::unique_ptr<qn::TqnNode> root;
  qn::TqnMessagePane pane;
  FixedClock clock;
  qn::TqnInfoContext ctx;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World* world = new World;  // kept for the whole run
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool raw = data[0] == 0;
  // Odd modes come "by UDP", so the peer reaches the backup request.
  const std::string peer = (data[0] & 1) ? "192.168.1.7" : "";

  std::string packet = rest;
  if (!raw) {
    const int32_t number = qn::HexToInt(rest.substr(0, 8));
    packet = qn::EncodePacket(rest, kKey, number);
    if (packet.size() <= qn::kInfoPacketLimit) {
      const qn::TqnDecodedPacket back = qn::DecodePacket(packet, kKey);
      if (back.number != number || back.payload != rest) __builtin_trap();
    }
  }

  std::string reply;
  try {
    reply = qn::HandleInfoPacket(world->ctx, packet, peer);
  } catch (const qn::Exception&) {
    // A command's own error: the transports drop the request.
  }
  if (!reply.empty() && reply != qn::kInvalidReply) {
    const qn::TqnDecodedPacket decoded = qn::DecodePacket(reply, kKey);
    // Replies can be longer than a request may be; only those within the
    // limit are fully checked.
    if (reply.size() <= qn::kInfoPacketLimit && decoded.number != world->ctx.instanceNumber) __builtin_trap();
  }

  // The helpers on the raw bytes.
  const std::string escaped = qn::EscapeField(rest);
  for (char c : escaped)
    if (static_cast<unsigned char>(c) <= 32) __builtin_trap();
  (void)qn::HexToInt(rest);
  (void)qn::SplitWords(rest, " ");
  (void)qn::SplitWords(rest, rest.substr(0, 3));
  if (world->pane.LineCount() > 4 * qn::TqnMessagePane::kMaxLines) world->pane.Clear();
  return 0;
}
