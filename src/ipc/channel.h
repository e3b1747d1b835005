// A small request/answer channel between the processes of one logon: up to
// ten servers under one channel name, each in its own slot, and a fixed
// 2120-byte message record copied through shared memory. A second instance
// of the program uses it to hand "activate" to the running one.
//
// Named objects of slot XX (two upper-case hex digits) of channel C:
// C.XX.mutex (the claim of the slot), C.XX.mapping (the record),
// C.XX.event (a message is waiting), C.XX.reply (created by the sender for
// one exchange, set when the message has been handled).
//
// Each exchange carries a number, kept in a small block behind the record
// in the section (C.XX.record guards it and the record): the server hands
// its handler a copy and writes the answer back only while that very
// exchange still waits, so a sender that gave up never receives another
// sender's answer, and a late answer never overwrites the next request.
// While the handler runs, the sender waits as long as the server lives, and
// may read the latest progress line the handler publishes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_objects.h"

namespace qn {

#pragma pack(push, 1)
struct TqnIpcMessage {
  uint8_t reserved[8];   // carried both ways unchanged
  uint8_t command[32];   // length byte and up to 31 characters
  uint8_t status[2080];  // length byte and characters; the rest carried unchanged

  std::string Command() const;
  // Cut to 31 characters, the most the record holds.
  void SetCommand(const std::string& text);
  std::string Status() const;
  void SetStatus(const std::string& text);  // cut to 255 characters
};
#pragma pack(pop)
static_assert(sizeof(TqnIpcMessage) == 2120, "the record is exchanged byte for byte");

constexpr uint32_t kIpcReplyTimeoutMs = 3000000;  // 50 minutes
constexpr int kIpcMaxSlots = 10;

class TqnIpcServer;
class TqnIpcListener;

using TqnIpcMessageHandler = std::function<void(TqnIpcServer& server, TqnIpcMessage& message)>;
// Runs a piece of work on the owner's main thread and returns when it is
// done. Without one, the dispatch runs on the listener thread.
using TqnMainThreadRunner = std::function<void(const std::function<void()>& work)>;

class TqnIpcServer {
 public:
  // Claims the first free slot of the channel whose objects no one else
  // made, and creates its objects; the listener waits to be started. Throws "TqnIpcServer.Create: too many
  // instances of TqnIpcServer with name "<C>"" when all ten are taken (naming
  // what someone else holds), and
  // EqnOsError when an object cannot be made.
  explicit TqnIpcServer(const std::string& channelName, TqnMainThreadRunner mainThread = nullptr);
  ~TqnIpcServer();
  TqnIpcServer(const TqnIpcServer&) = delete;
  TqnIpcServer& operator=(const TqnIpcServer&) = delete;

  void Start();
  // The run is ending: messages are no longer handed over nor answered,
  // and their senders notice this server's end with its process (see
  // SendIpcMessage). The server itself stays until the process ends, as
  // destroying it waits for a listener that may be waiting for the main
  // thread.
  void StopServing() { serving_ = false; }
  bool Serving() const { return serving_; }
  // Runs on the main thread; a message that arrives while none is assigned
  // is answered with the status "unassigned".
  void SetOnMessage(TqnIpcMessageHandler handler);
  // From the handler, while it runs: a line the waiting sender may show.
  void ReportProgress(const std::string& line);
  int Slot() const { return slot_; }
  const std::string& ChannelName() const { return channelName_; }

 private:
  friend class TqnIpcListener;
  void Dispatch();

  std::string channelName_;
  int slot_ = -1;
  std::unique_ptr<platform::NamedMutex> mutex_;
  std::unique_ptr<platform::NamedEvent> event_;
  std::unique_ptr<platform::SharedMemory> section_;
  std::unique_ptr<platform::NamedMutex> recordLock_;
  std::unique_ptr<TqnIpcListener> listener_;
  TqnMainThreadRunner mainThread_;
  std::atomic<bool> serving_{true};
  std::mutex handlerMutex_;
  TqnIpcMessageHandler onMessage_;
};

// The listener thread of a server: waits for the message event and hands
// each message to the main thread.
class TqnIpcListener {
 public:
  explicit TqnIpcListener(TqnIpcServer& server) : server_(server) {}
  ~TqnIpcListener();
  void Start();
  void Stop();  // asks the loop to end, wakes it and waits for it

 private:
  void Run();
  TqnIpcServer& server_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

// The name of one of a slot's objects, e.g. "C.00.event".
std::string IpcObjectName(const std::string& channelName, int slot, const char* suffix);

// Slots 0..9, ascending, whose message event exists and may be used. Only
// names the system or this user made count (platform::WhoMadeName): a
// stranger's planted name is no instance to hand anything to.
std::vector<int> ListIpcInstances(const std::string& channelName);

// True when some server holds a slot of the channel, also one this process
// may not reach (another user's machine-wide channel), as long as the
// system or this user made it.
bool IpcChannelInUse(const std::string& channelName);

// The first of the channel's server objects that someone else made (a name
// planted to keep the program from starting or to listen in), as
// "NAME (ACCOUNT)"; "" when there is none.
std::string UntrustedChannelHolder(const std::string& channelName);

// Called while the server handles the message, with its latest progress
// line ("" until the handler reports one), about every 200 ms.
using TqnIpcProgress = std::function<void(const std::string& line)>;

// Posts the record to the slot and waits for the answer, which is left in
// the record. The time-out bounds the wait for the server to take the
// message; once taken, the sender waits while the server lives. After the
// time-out the message is withdrawn and the record's status is "fail".
// Throws EqnOsError when the slot's server is gone, also when it goes while
// the message waits (its process ended without answering). Senders to one
// slot take turns.
void SendIpcMessage(const std::string& channelName, int slot, TqnIpcMessage& message,
                    uint32_t timeoutMs = kIpcReplyTimeoutMs, const TqnIpcProgress& progress = nullptr);

}  // namespace qn
