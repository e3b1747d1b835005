#include "ipc/channel.h"

#include <errno.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <cstring>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"

namespace qn {

namespace {

std::string ReadCounted(const uint8_t* field, size_t room) {
  size_t n = std::min<size_t>(field[0], room - 1);
  return std::string(reinterpret_cast<const char*>(field + 1), n);
}

void WriteCounted(uint8_t* field, size_t maxChars, const std::string& text) {
  size_t n = std::min(text.size(), maxChars);
  field[0] = static_cast<uint8_t>(n);
  std::memcpy(field + 1, text.data(), n);
}

// How often a waiting sender looks whether the server is still there.
constexpr int64_t kServerCheckMs = 200;

// True when the slot's mutex can be taken: its server has ended. Asked from
// a thread of its own, as a mutex is taken again by a thread that holds it
// (a server of this very thread would otherwise count as gone).
bool ServerGone(platform::NamedMutex& mutex) {
  return std::async(std::launch::async,
                    [&mutex] {
                      platform::WaitResult got = mutex.Wait(0);
                      if (got != platform::WaitResult::Signaled && got != platform::WaitResult::Abandoned) return false;
                      mutex.Release();
                      return true;
                    })
      .get();
}

[[noreturn]] void ThrowMissing() { throw EqnOsError(platform::ErrorText(ENOENT), ENOENT); }

TqnIpcMessage* RecordIn(platform::SharedMemory& section) { return static_cast<TqnIpcMessage*>(section.Data()); }

// Behind the record in the section: which exchange the record holds, which
// one the server handles and which one it answered last, and the handler's
// latest progress line. Read and written only under the slot's record lock.
struct TqnIpcControl {
  uint32_t lastNumber;  // the number given to the latest exchange (0 is none)
  uint32_t posted;      // the exchange whose request is in the record; 0 when withdrawn
  uint32_t taken;       // the exchange whose handler runs
  uint32_t answered;    // the latest exchange whose answer is in the record
  uint8_t progress[256];
};

constexpr size_t kSectionSize = sizeof(TqnIpcMessage) + sizeof(TqnIpcControl);

TqnIpcControl* ControlIn(platform::SharedMemory& section) {
  return reinterpret_cast<TqnIpcControl*>(static_cast<uint8_t*>(section.Data()) + sizeof(TqnIpcMessage));
}

// The record lock is held only for copies; a holder that never lets go
// (a process stopped in a debugger) costs the caller this long at most.
constexpr uint32_t kRecordLockMs = 15000;

class TqnRecordHold {
 public:
  explicit TqnRecordHold(platform::NamedMutex& lock) : lock_(lock) {
    const platform::WaitResult got = lock_.Wait(kRecordLockMs);
    if (got != platform::WaitResult::Signaled && got != platform::WaitResult::Abandoned)
      throw EqnOsError(platform::ErrorText(ETIMEDOUT), ETIMEDOUT);
  }
  ~TqnRecordHold() { lock_.Release(); }
  TqnRecordHold(const TqnRecordHold&) = delete;
  TqnRecordHold& operator=(const TqnRecordHold&) = delete;

 private:
  platform::NamedMutex& lock_;
};

// The objects a server makes for its slot, with their kinds.
struct TqnSlotObject {
  const char* suffix;
  platform::NamedObjectKind kind;
};
constexpr TqnSlotObject kServerObjects[] = {{"mutex", platform::NamedObjectKind::Mutex},
                                            {"record", platform::NamedObjectKind::Mutex},
                                            {"mapping", platform::NamedObjectKind::Section},
                                            {"event", platform::NamedObjectKind::Event}};

// "" when the object is missing or was made by the system or this user.
std::string Planted(const std::string& name, platform::NamedObjectKind kind) {
  const platform::NameMaker maker = platform::WhoMadeName(kind, name);
  return maker.exists && !maker.trusted ? name + " (" + maker.account + ")" : std::string();
}

bool SlotObjectsTrusted(const std::string& channelName, int slot) {
  for (const TqnSlotObject& o : kServerObjects)
    if (!Planted(IpcObjectName(channelName, slot, o.suffix), o.kind).empty()) return false;
  return true;
}

}  // namespace

std::string TqnIpcMessage::Command() const { return ReadCounted(command, sizeof command); }
void TqnIpcMessage::SetCommand(const std::string& text) { WriteCounted(command, 31, text); }
std::string TqnIpcMessage::Status() const { return ReadCounted(status, sizeof status); }
void TqnIpcMessage::SetStatus(const std::string& text) { WriteCounted(status, 255, text); }

std::string IpcObjectName(const std::string& channelName, int slot, const char* suffix) {
  return channelName + "." + HexUpper(static_cast<uint32_t>(slot), 2) + "." + suffix;
}

TqnIpcServer::TqnIpcServer(const std::string& channelName, TqnMainThreadRunner mainThread)
    : channelName_(channelName), mainThread_(std::move(mainThread)) {
  for (int s = 0; s < kIpcMaxSlots && slot_ < 0; ++s) {
    bool existed = false;
    auto m = platform::NamedMutex::Create(IpcObjectName(channelName, s, "mutex"), true, &existed);
    if (existed) continue;
    recordLock_ = platform::NamedMutex::Create(IpcObjectName(channelName, s, "record"), false);
    section_ = platform::SharedMemory::Create(IpcObjectName(channelName, s, "mapping"), kSectionSize);
    event_ = platform::NamedEvent::Create(IpcObjectName(channelName, s, "event"), true, false);
    // A slot whose objects a stranger made would carry the messages through
    // objects that stranger reads and writes, and others would not take it
    // for this server: the next slot is tried.
    if (SlotObjectsTrusted(channelName, s)) {
      slot_ = s;
      mutex_ = std::move(m);
    } else {
      event_.reset();
      section_.reset();
      recordLock_.reset();
      m->Release();
    }
  }
  if (slot_ < 0) {
    const std::string planted = UntrustedChannelHolder(channelName);
    throw Exception("TqnIpcServer.Create: too many instances of TqnIpcServer with name \"" + channelName + "\"" +
                    (planted.empty() ? std::string() : "; held by another user: " + planted));
  }
  listener_ = std::make_unique<TqnIpcListener>(*this);
}

TqnIpcServer::~TqnIpcServer() {
  listener_->Stop();
  listener_.reset();
  event_.reset();
  section_.reset();
  recordLock_.reset();
  mutex_->Release();
}

void TqnIpcServer::Start() { listener_->Start(); }

void TqnIpcServer::SetOnMessage(TqnIpcMessageHandler handler) {
  std::lock_guard<std::mutex> lock(handlerMutex_);
  onMessage_ = std::move(handler);
}

void TqnIpcServer::ReportProgress(const std::string& line) {
  TqnRecordHold hold(*recordLock_);
  TqnIpcControl* control = ControlIn(*section_);
  if (control->taken != 0) WriteCounted(control->progress, 255, line);
}

void TqnIpcServer::Dispatch() {
  if (!serving_) return;
  auto reply = platform::NamedEvent::Open(IpcObjectName(channelName_, slot_, "reply"));
  if (!reply) return;
  // The handler works on a copy: the record stays the sender's until the
  // answer is written back, and only while this exchange still waits.
  TqnIpcMessage record;
  uint32_t number = 0, outer = 0;
  {
    TqnRecordHold hold(*recordLock_);
    TqnIpcControl* control = ControlIn(*section_);
    number = control->posted;
    if (number == 0 || number == control->answered || number == control->taken) return;
    std::memcpy(&record, RecordIn(*section_), sizeof record);
    outer = control->taken;  // a dispatch from the progress steps of another's handler
    control->taken = number;
    control->progress[0] = 0;
  }
  record.SetStatus("unassigned");
  TqnIpcMessageHandler handler;
  {
    std::lock_guard<std::mutex> lock(handlerMutex_);
    handler = onMessage_;
  }
  auto answer = [&] {
    TqnRecordHold hold(*recordLock_);
    TqnIpcControl* control = ControlIn(*section_);
    if (control->posted == number && control->answered != number) {
      std::memcpy(RecordIn(*section_), &record, sizeof record);
      control->answered = number;
      reply->Set();
    }
    control->taken = outer;
  };
  // A failing handler must still answer, or its sender would wait on.
  try {
    if (handler) handler(*this, record);
  } catch (...) {
    answer();
    throw;
  }
  answer();
}

TqnIpcListener::~TqnIpcListener() { Stop(); }

void TqnIpcListener::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void TqnIpcListener::Stop() {
  stop_ = true;
  if (thread_.joinable()) {
    server_.event_->Set();
    thread_.join();
  }
}

void TqnIpcListener::Run() {
  while (!stop_) {
    if (server_.event_->Wait(platform::kInfinite) != platform::WaitResult::Signaled) break;
    server_.event_->Reset();
    if (stop_) break;
    if (!server_.serving_) continue;
    auto work = [this] {
      try {
        server_.Dispatch();
      } catch (...) {
        // A handler's failure is its own; the channel goes on listening.
      }
    };
    if (server_.mainThread_)
      server_.mainThread_(work);
    else
      work();
  }
}

std::vector<int> ListIpcInstances(const std::string& channelName) {
  std::vector<int> slots;
  for (int s = 0; s < kIpcMaxSlots; ++s) {
    // One this process may use, and made by whom it may trust.
    const std::string name = IpcObjectName(channelName, s, "event");
    if (platform::NamedEvent::Open(name) && platform::WhoMadeName(platform::NamedObjectKind::Event, name).trusted)
      slots.push_back(s);
  }
  return slots;
}

bool IpcChannelInUse(const std::string& channelName) {
  for (int s = 0; s < kIpcMaxSlots; ++s) {
    const platform::NameMaker mutex =
        platform::WhoMadeName(platform::NamedObjectKind::Mutex, IpcObjectName(channelName, s, "mutex"));
    if (mutex.exists && mutex.trusted) return true;
  }
  return false;
}

std::string UntrustedChannelHolder(const std::string& channelName) {
  for (int s = 0; s < kIpcMaxSlots; ++s)
    for (const TqnSlotObject& o : kServerObjects)
      if (std::string planted = Planted(IpcObjectName(channelName, s, o.suffix), o.kind); !planted.empty())
        return planted;
  return "";
}

void SendIpcMessage(const std::string& channelName, int slot, TqnIpcMessage& message, uint32_t timeoutMs,
                    const TqnIpcProgress& progress) {
  auto mutex = platform::NamedMutex::Open(IpcObjectName(channelName, slot, "mutex"));
  auto event = platform::NamedEvent::Open(IpcObjectName(channelName, slot, "event"));
  auto section = platform::SharedMemory::Open(IpcObjectName(channelName, slot, "mapping"));
  auto recordLock = platform::NamedMutex::Open(IpcObjectName(channelName, slot, "record"));
  if (!mutex || !event || !section || !recordLock || section->Size() < kSectionSize) ThrowMissing();
  // Two senders at once would overwrite each other's record and share the
  // reply event, so senders to one slot take turns.
  auto turn = platform::NamedMutex::Create(IpcObjectName(channelName, slot, "sender"), false);
  platform::WaitResult got = turn->Wait(timeoutMs);
  if (got != platform::WaitResult::Signaled && got != platform::WaitResult::Abandoned) {
    message.SetStatus("fail");
    return;
  }
  struct TurnRelease {
    platform::NamedMutex& m;
    ~TurnRelease() { m.Release(); }
  } release{*turn};
  auto reply = platform::NamedEvent::Create(IpcObjectName(channelName, slot, "reply"), true, false);
  TqnIpcMessage* record = RecordIn(*section);
  TqnIpcControl* control = ControlIn(*section);
  uint32_t number = 0;
  {
    TqnRecordHold hold(*recordLock);
    number = ++control->lastNumber;
    if (number == 0) number = ++control->lastNumber;
    std::memcpy(record, &message, sizeof message);
    record->SetStatus("unprocessed");
    control->posted = number;
    reply->Reset();
  }
  event->Set();
  // Until the server takes the message the time-out runs; once its handler
  // runs, the wait lasts while the server lives. A server that ends without
  // answering (it was shutting down) leaves its slot's mutex free.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const uint32_t slice = static_cast<uint32_t>(std::clamp<int64_t>(left.count(), 1, kServerCheckMs));
    const bool signaled = reply->Wait(slice) == platform::WaitResult::Signaled;
    bool taken = false;
    std::string line;
    {
      TqnRecordHold hold(*recordLock);
      if (control->answered == number) {
        std::memcpy(&message, record, sizeof message);
        return;
      }
      if (signaled) reply->Reset();  // another exchange's answer, long given up
      taken = control->taken == number;
      if (taken) line = ReadCounted(control->progress, sizeof control->progress);
      if (!taken && std::chrono::steady_clock::now() >= deadline) {
        control->posted = 0;  // withdrawn: a late handler's answer goes nowhere
        break;
      }
    }
    if (taken && progress) progress(line);
    if (ServerGone(*mutex)) ThrowMissing();
  }
  message.SetStatus("fail");
}

}  // namespace qn
