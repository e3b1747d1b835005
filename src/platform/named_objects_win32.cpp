// Named kernel objects on Windows: the system's own mutexes, manual-reset
// events and paging-file sections. Names go to the kernel as they are, so
// "Global\" and "Local\" keep their meaning there.
//
// A machine-wide ("Global\") name is the service's, which runs as the
// system: the system and the administrators may use it; any other user may
// only learn that it exists (the kernel refuses to open it for them, which
// answers so), and so is told whom to ask instead of starting a second
// instance beside the service. Other names keep the creator's defaults.

#include "platform/win32.h"

#include <aclapi.h>
#include <sddl.h>

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

// The system and the administrators: full access; every other signed-in
// user: only the right to read the object's security. Not even
// SYNCHRONIZE: with it a user could take the service's mutexes and stall
// its channel.
constexpr const wchar_t* kGlobalObjectSecurity = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;RC;;;AU)";

bool IsGlobalName(const std::string& name) { return name.rfind("Global\\", 0) == 0; }

// The security a new object of this name gets; made once, kept for the
// process's life.
class ObjectSecurity {
 public:
  explicit ObjectSecurity(const std::string& name) {
    if (!IsGlobalName(name)) return;
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = GlobalDescriptor();
    attributes_.bInheritHandle = FALSE;
    used_ = true;
  }
  SECURITY_ATTRIBUTES* get() { return used_ ? &attributes_ : nullptr; }

 private:
  static PSECURITY_DESCRIPTOR GlobalDescriptor() {
    static const PSECURITY_DESCRIPTOR descriptor = [] {
      PSECURITY_DESCRIPTOR sd = nullptr;
      if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kGlobalObjectSecurity, SDDL_REVISION_1, &sd, nullptr))
        ThrowLastError();
      return sd;
    }();
    return descriptor;
  }
  SECURITY_ATTRIBUTES attributes_{};
  bool used_ = false;
};

// A name that exists but is not this user's to use: known only to exist.
// Its waits fail, as on a handle that was never opened.
bool RefusedButExists() { return ::GetLastError() == ERROR_ACCESS_DENIED; }

std::shared_ptr<NamedObjectState> ExistenceOnly() { return std::make_shared<NamedObjectState>(nullptr); }

}  // namespace

// ---- NamedMutex ----

NamedMutex::NamedMutex(std::shared_ptr<NamedObjectState> state) : state_(std::move(state)) {}

NamedMutex::~NamedMutex() {
  // Ownership taken through this handle ends with it, as the layer promises;
  // the kernel would otherwise keep the mutex owned until the thread ends.
  while (ownedLevels_ > 0 && ::ReleaseMutex(AsHandle(state_))) --ownedLevels_;
}

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name, bool initialOwner, bool* alreadyExisted) {
  ObjectSecurity security(name);
  HANDLE h = ::CreateMutexA(security.get(), initialOwner ? TRUE : FALSE, name.c_str());
  if (!h && RefusedButExists()) {
    if (alreadyExisted) *alreadyExisted = true;
    return std::unique_ptr<NamedMutex>(new NamedMutex(ExistenceOnly()));
  }
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
  if (!h && RefusedButExists()) h = ::OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
  // Refused even that: the name exists all the same (the service's, seen
  // by another user).
  if (!h && RefusedButExists()) return std::unique_ptr<NamedMutex>(new NamedMutex(ExistenceOnly()));
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
  ObjectSecurity security(name);
  HANDLE h = ::CreateEventA(security.get(), manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, name.c_str());
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
  ObjectSecurity security(name);
  HANDLE h =
      ::CreateFileMappingA(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, static_cast<DWORD>(wanted >> 32),
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

// ---- Who made a name ----

namespace {

HANDLE OpenForSecurity(NamedObjectKind kind, const std::string& name) {
  switch (kind) {
    case NamedObjectKind::Mutex: return ::OpenMutexA(READ_CONTROL, FALSE, name.c_str());
    case NamedObjectKind::Event: return ::OpenEventA(READ_CONTROL, FALSE, name.c_str());
    case NamedObjectKind::Section: return ::OpenFileMappingA(READ_CONTROL, FALSE, name.c_str());
  }
  return nullptr;
}

// The user this process runs as, or the owner it gives the objects it makes
// (the administrators for an elevated administrator).
bool IsOwnUser(PSID sid) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(TOKEN_USER) char buffer[256];
  DWORD size = 0;
  bool same = ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
              ::EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, sid);
  same = same || (::GetTokenInformation(token, TokenOwner, buffer, sizeof buffer, &size) &&
                  ::EqualSid(reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner, sid));
  ::CloseHandle(token);
  return same;
}

std::string AccountName(PSID sid) {
  char name[256], domain[256];
  DWORD nameSize = sizeof name, domainSize = sizeof domain;
  SID_NAME_USE use;
  if (::LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
    return domainSize > 0 && domain[0] ? std::string(domain) + "\\" + name : std::string(name);
  char* text = nullptr;
  if (!::ConvertSidToStringSidA(sid, &text)) return "?";
  std::string out(text);
  ::LocalFree(text);
  return out;
}

}  // namespace

NameMaker WhoMadeName(NamedObjectKind kind, const std::string& name) {
  NameMaker maker;
  if (!IsGlobalName(name)) {
    // A session's own names: no other user's program runs in the session.
    maker.exists = NameExists(kind, name);
    maker.trusted = true;
    return maker;
  }
  HANDLE h = OpenForSecurity(kind, name);
  if (!h) {
    // The service's own objects let every signed-in user read their
    // security; one that refuses even that is not the service's.
    maker.exists = RefusedButExists();
    if (maker.exists) maker.account = "?";
    return maker;
  }
  maker.exists = true;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (::GetSecurityInfo(h, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &sd) ==
          ERROR_SUCCESS &&
      owner) {
    maker.trusted = ::IsWellKnownSid(owner, WinLocalSystemSid) ||
                    ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsOwnUser(owner);
    maker.account = AccountName(owner);
  } else {
    maker.account = "?";
  }
  if (sd) ::LocalFree(sd);
  ::CloseHandle(h);
  return maker;
}

}  // namespace qn::platform
