// Named kernel objects on Windows: the system's own mutexes, manual-reset
// events and paging-file sections. Names go to the kernel as they are, so
// "Global\" and "Local\" keep their meaning there.

#include "platform/win32.h"

#include "base/error.h"
#include "platform/files.h"
#include "platform/named_objects.h"

namespace qn::platform {

namespace {

[[noreturn]] void ThrowLastError() {
  const int code = LastErrorCode();
  throw EqnOsError(ErrorText(code), code);
}

WaitResult ToWaitResult(DWORD rc) {
  switch (rc) {
    case WAIT_OBJECT_0: return WaitResult::Signaled;
    case WAIT_ABANDONED: return WaitResult::Abandoned;
    case WAIT_TIMEOUT: return WaitResult::Timeout;
    default: return WaitResult::Failed;
  }
}

}  // namespace

// One kernel handle, closed with the last object that shares it.
struct NamedObjectState {
  explicit NamedObjectState(HANDLE h) : handle(h) {}
  ~NamedObjectState() {
    if (handle) ::CloseHandle(handle);
  }
  NamedObjectState(const NamedObjectState&) = delete;
  NamedObjectState& operator=(const NamedObjectState&) = delete;
  HANDLE handle;
};

namespace {

HANDLE AsHandle(const std::shared_ptr<NamedObjectState>& state) { return state->handle; }

// Wraps a handle the kernel just gave, or throws its error.
std::shared_ptr<NamedObjectState> Adopt(HANDLE h) {
  if (!h) ThrowLastError();
  return std::make_shared<NamedObjectState>(h);
}

}  // namespace

// ---- NamedMutex ----

NamedMutex::NamedMutex(std::shared_ptr<NamedObjectState> state) : state_(std::move(state)) {}

NamedMutex::~NamedMutex() {
  // Ownership taken through this handle ends with it, as the layer promises;
  // the kernel would otherwise keep the mutex owned until the thread ends.
  while (ownedLevels_ > 0 && ::ReleaseMutex(AsHandle(state_))) --ownedLevels_;
}

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name, bool initialOwner, bool* alreadyExisted) {
  HANDLE h = ::CreateMutexA(nullptr, initialOwner ? TRUE : FALSE, name.c_str());
  const bool existed = h && ::GetLastError() == ERROR_ALREADY_EXISTS;
  std::unique_ptr<NamedMutex> m(new NamedMutex(Adopt(h)));
  if (alreadyExisted) *alreadyExisted = existed;
  if (initialOwner && !existed) m->ownedLevels_ = 1;
  return m;
}

std::unique_ptr<NamedMutex> NamedMutex::Open(const std::string& name) {
  // SYNCHRONIZE alone is enough to learn that the name exists; a mutex of
  // another user that refuses full access still answers so.
  HANDLE h = ::OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
  if (!h && ::GetLastError() == ERROR_ACCESS_DENIED) h = ::OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
  if (!h) return nullptr;
  return std::unique_ptr<NamedMutex>(new NamedMutex(std::make_shared<NamedObjectState>(h)));
}

WaitResult NamedMutex::Wait(uint32_t timeoutMs) {
  const WaitResult r = ToWaitResult(::WaitForSingleObject(AsHandle(state_), timeoutMs));
  if (r == WaitResult::Signaled || r == WaitResult::Abandoned) ++ownedLevels_;
  return r;
}

bool NamedMutex::Release() {
  if (!::ReleaseMutex(AsHandle(state_))) return false;
  if (ownedLevels_ > 0) --ownedLevels_;
  return true;
}

// ---- NamedEvent ----

NamedEvent::NamedEvent(std::shared_ptr<NamedObjectState> state) : state_(std::move(state)) {}
NamedEvent::~NamedEvent() = default;

std::unique_ptr<NamedEvent> NamedEvent::Create(const std::string& name, bool manualReset, bool initialState,
                                               bool* alreadyExisted) {
  HANDLE h = ::CreateEventA(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, name.c_str());
  const bool existed = h && ::GetLastError() == ERROR_ALREADY_EXISTS;
  auto state = Adopt(h);
  if (alreadyExisted) *alreadyExisted = existed;
  return std::unique_ptr<NamedEvent>(new NamedEvent(state));
}

std::unique_ptr<NamedEvent> NamedEvent::Open(const std::string& name) {
  HANDLE h = ::OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name.c_str());
  if (!h) return nullptr;
  return std::unique_ptr<NamedEvent>(new NamedEvent(std::make_shared<NamedObjectState>(h)));
}

void NamedEvent::Set() { ::SetEvent(AsHandle(state_)); }
void NamedEvent::Reset() { ::ResetEvent(AsHandle(state_)); }

WaitResult NamedEvent::Wait(uint32_t timeoutMs) {
  return ToWaitResult(::WaitForSingleObject(AsHandle(state_), timeoutMs));
}

// ---- SharedMemory ----

namespace {

// The size of a mapped view, rounded to whole pages as the kernel maps it.
size_t ViewSize(void* view) {
  MEMORY_BASIC_INFORMATION info{};
  if (::VirtualQuery(view, &info, sizeof info) == 0) return 0;
  return info.RegionSize;
}

}  // namespace

SharedMemory::SharedMemory(std::shared_ptr<NamedObjectState> state, void* data, size_t size)
    : state_(std::move(state)), data_(data), size_(size) {}

SharedMemory::~SharedMemory() {
  if (data_) ::UnmapViewOfFile(data_);
}

std::unique_ptr<SharedMemory> SharedMemory::Create(const std::string& name, size_t size, bool* alreadyExisted) {
  const unsigned long long wanted = size == 0 ? 1 : size;
  HANDLE h = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(wanted >> 32),
                                  static_cast<DWORD>(wanted & 0xFFFFFFFFu), name.c_str());
  const bool existed = h && ::GetLastError() == ERROR_ALREADY_EXISTS;
  auto state = Adopt(h);
  void* view = ::MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (!view) ThrowLastError();
  if (alreadyExisted) *alreadyExisted = existed;
  return std::unique_ptr<SharedMemory>(new SharedMemory(state, view, ViewSize(view)));
}

std::unique_ptr<SharedMemory> SharedMemory::Open(const std::string& name) {
  HANDLE h = ::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
  if (!h) return nullptr;
  auto state = std::make_shared<NamedObjectState>(h);
  void* view = ::MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (!view) return nullptr;
  return std::unique_ptr<SharedMemory>(new SharedMemory(state, view, ViewSize(view)));
}

}  // namespace qn::platform
