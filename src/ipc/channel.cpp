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
  return std::async(std::launch::async, [&mutex] {
           platform::WaitResult got = mutex.Wait(0);
           if (got != platform::WaitResult::Signaled && got != platform::WaitResult::Abandoned) return false;
           mutex.Release();
           return true;
         }).get();
}

[[noreturn]] void ThrowMissing() { throw EqnOsError(platform::ErrorText(ENOENT), ENOENT); }

TqnIpcMessage* RecordIn(platform::SharedMemory& section) { return static_cast<TqnIpcMessage*>(section.Data()); }

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
    if (!existed) {
      slot_ = s;
      mutex_ = std::move(m);
    }
  }
  if (slot_ < 0)
    throw Exception("TqnIpcServer.Create: too many instances of TqnIpcServer with name \"" + channelName + "\"");
  section_ = platform::SharedMemory::Create(IpcObjectName(channelName, slot_, "mapping"), sizeof(TqnIpcMessage));
  event_ = platform::NamedEvent::Create(IpcObjectName(channelName, slot_, "event"), true, false);
  listener_ = std::make_unique<TqnIpcListener>(*this);
}

TqnIpcServer::~TqnIpcServer() {
  listener_->Stop();
  listener_.reset();
  event_.reset();
  section_.reset();
  mutex_->Release();
}

void TqnIpcServer::Start() { listener_->Start(); }

void TqnIpcServer::SetOnMessage(TqnIpcMessageHandler handler) {
  std::lock_guard<std::mutex> lock(handlerMutex_);
  onMessage_ = std::move(handler);
}

void TqnIpcServer::Dispatch() {
  if (!serving_) return;
  auto reply = platform::NamedEvent::Open(IpcObjectName(channelName_, slot_, "reply"));
  if (!reply) return;
  TqnIpcMessage* record = RecordIn(*section_);
  record->SetStatus("unassigned");
  TqnIpcMessageHandler handler;
  {
    std::lock_guard<std::mutex> lock(handlerMutex_);
    handler = onMessage_;
  }
  // A failing handler must still answer, or its sender would wait 50 minutes.
  try {
    if (handler) handler(*this, *record);
  } catch (...) {
    reply->Set();
    throw;
  }
  reply->Set();
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
  for (int s = 0; s < kIpcMaxSlots; ++s)
    if (platform::NamedEvent::Open(IpcObjectName(channelName, s, "event"))) slots.push_back(s);
  return slots;
}

void SendIpcMessage(const std::string& channelName, int slot, TqnIpcMessage& message, uint32_t timeoutMs) {
  auto mutex = platform::NamedMutex::Open(IpcObjectName(channelName, slot, "mutex"));
  auto event = platform::NamedEvent::Open(IpcObjectName(channelName, slot, "event"));
  auto section = platform::SharedMemory::Open(IpcObjectName(channelName, slot, "mapping"));
  if (!mutex || !event || !section || section->Size() < sizeof(TqnIpcMessage)) ThrowMissing();
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
  reply->Reset();
  TqnIpcMessage* record = RecordIn(*section);
  std::memcpy(record, &message, sizeof message);
  record->SetStatus("unprocessed");
  event->Set();
  // The server may end without answering (it was shutting down): its slot's
  // mutex is then free, and the message will never be answered.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    const uint32_t slice = static_cast<uint32_t>(std::min<int64_t>(left.count(), kServerCheckMs));
    if (reply->Wait(slice) == platform::WaitResult::Signaled) {
      std::memcpy(&message, record, sizeof message);
      return;
    }
    if (ServerGone(*mutex)) ThrowMissing();
  }
  message.SetStatus("fail");
}

}  // namespace qn
