// POSIX stand-in for Windows named kernel objects.
//
// Each object is a small file in a namespace folder: one per user on
// /dev/shm, the same for every process of the user whatever its session,
// and one for "Global\" names, /run/qndbmgr-objects, which only root makes
// (the package at boot, or the first root process) and which is accepted
// only while root owns it and other users cannot write it. Its files are
// for root and the group "qndbmgr" (the services and the administrators);
// other users may only learn that a name exists. Files are opened relative
// to the checked folder's descriptor, never through a link. A handle holds a shared
// open-file-description lock on byte 0 of the file; a name "exists" exactly
// while some handle holds that lock, so the kernel forgets a name when the
// last process holding it ends, however it ends. Creation and opening are
// serialised per namespace by an exclusive lock on the folder's ".guard" file,
// which makes "create if new, else open" atomic across processes.
//
// Mutex ownership across processes is an exclusive lock on byte 1; a flag in
// the mapped page tells whether the previous owner released it, so that a
// dead owner's mutex is reported as abandoned. Within a process, threads take
// turns through a local owner record. Events are a word in the mapped page,
// waited on with a futex.

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <optional>
#include <mutex>
#include <thread>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/named_objects.h"
#include "platform/named_objects_folders_posix.h"

namespace qn::platform {

namespace {

constexpr size_t kPage = 4096;
constexpr const char* kGlobalPrefix = "Global\\";
constexpr const char* kLocalPrefix = "Local\\";

[[noreturn]] void ThrowErrno(int code) { throw EqnOsError(ErrorText(code), code); }

using detail::FileMode;
using detail::FolderFd;
using detail::NamespaceFolder;
using detail::NamespaceGuard;

std::string EscapeName(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-' || c == '_')
      out += static_cast<char>(c);
    else
      out += Format("%%%02X", c);
  }
  if (out.size() > 200) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a keeps long names distinct
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
    out = out.substr(0, 180) + Format("~%016llx", static_cast<unsigned long long>(h));
  }
  return out;
}

struct ObjectPath {
  std::string folder;
  std::string file;  // the whole path: this process's key of the name
  std::string base;  // the file's name in the folder
  bool global = false;
};

ObjectPath PathOf(const char* kind, const std::string& name) {
  std::string bare = name;
  bool global = false;
  if (bare.rfind(kGlobalPrefix, 0) == 0) {
    global = true;
    bare = bare.substr(7);
  } else if (bare.rfind(kLocalPrefix, 0) == 0) {
    bare = bare.substr(6);
  }
  ObjectPath p;
  p.global = global;
  p.folder = NamespaceFolder(global);
  p.base = std::string(kind) + "." + EscapeName(bare);
  p.file = JoinPath(p.folder, p.base);
  return p;
}

bool RangeLock(int fd, short type, off_t start, bool wait) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = 1;
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
    if (errno == EINTR) continue;
    return false;
  }
}

// True when another open file description holds a lock on byte 0.
bool HeldElsewhere(int fd) {
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1;
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) ThrowErrno(errno);
  return fl.l_type != F_UNLCK;
}

struct MutexPage {
  std::atomic<uint32_t> ownedFlag;  // 1 while some process owns the mutex
};

struct EventPage {
  std::atomic<uint32_t> signaled;
  std::atomic<uint32_t> manualReset;
};

long Futex(std::atomic<uint32_t>* addr, int op, uint32_t val, const struct timespec* timeout) {
  return ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(addr), op, val, timeout, nullptr, 0);
}

}  // namespace

// One open object of this process, shared by all of its handles to the name.
struct NamedObjectState {
  std::string folder, file, base;
  bool global = false;
  int fd = -1;
  void* map = nullptr;
  size_t mapSize = 0;

  // Mutex ownership inside this process.
  std::mutex localMutex;
  std::condition_variable localFree;
  std::thread::id owner;
  int levels = 0;

  ~NamedObjectState();
};

namespace {

std::mutex gRegistryMutex;
std::map<std::string, std::weak_ptr<NamedObjectState>> gRegistry;

enum class OpenMode { CreateOrOpen, OpenExisting };

// The answer for a name whose file exists but may not be opened for lack of
// rights (another user's object): it exists while a holder's lock is on it,
// which the kernel tells whoever may read the file; a file that cannot be
// read at all counts as existing. The handle can only be closed.
std::shared_ptr<NamedObjectState> ExistenceOnly(int folderFd, const ObjectPath& path) {
  int fd = ::openat(folderFd, path.base.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0 && errno == ENOENT) return nullptr;
  bool held = true;
  if (fd >= 0) {
    try {
      held = HeldElsewhere(fd);
    } catch (const EqnOsError&) {
    }
    ::close(fd);
  }
  if (!held) return nullptr;
  return std::make_shared<NamedObjectState>();
}

// A file no one holds any more is a leftover: whoever makes the name anew
// makes it as its own, so that the file's owner is always the maker of the
// live name (which is how others tell who made it). Where the leftover
// cannot be removed (another user's file in the sticky machine-wide
// folder), the file stays as it is and its owner tells the truth about it.
int RenewLeftover(int folderFd, const ObjectPath& path, int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || st.st_uid == ::geteuid() || HeldElsewhere(fd)) return fd;
  if (::unlinkat(folderFd, path.base.c_str(), 0) != 0) return fd;
  ::close(fd);
  const int renewed =
      ::openat(folderFd, path.base.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_CREAT | O_EXCL, FileMode(path.global));
  if (renewed < 0) ThrowErrno(errno);
  return renewed;
}

// Finds or makes this process's state of a name. Returns nullptr for
// OpenExisting when the name does not exist. *existed tells whether the name
// existed before the call.
std::shared_ptr<NamedObjectState> Acquire(const char* kind, const std::string& name, OpenMode mode, size_t size,
                                          bool* existed, void (*init)(void* map, size_t size, const void* arg),
                                          const void* initArg) {
  ObjectPath path = PathOf(kind, name);
  std::lock_guard<std::mutex> reg(gRegistryMutex);
  if (auto it = gRegistry.find(path.file); it != gRegistry.end()) {
    if (auto live = it->second.lock()) {
      if (existed) *existed = true;
      return live;
    }
  }
  FolderFd folder(path.folder, path.global);
  if (folder.get() < 0) {
    // No machine-wide folder, or one root may not trust: no such names.
    if (mode == OpenMode::OpenExisting && (errno == ENOENT || errno == EACCES)) return nullptr;
    ThrowErrno(errno == ENOENT ? EACCES : errno);
  }
  std::optional<NamespaceGuard> guard;
  try {
    guard.emplace(folder.get(), path.global);
  } catch (const EqnOsError& e) {
    if (e.Code() != EACCES || !path.global) throw;
    // Root's and its group's names: another user learns only whether one
    // exists, and can neither make nor hold one.
    auto known = ExistenceOnly(folder.get(), path);
    if (existed) *existed = known != nullptr;
    if (known || mode == OpenMode::OpenExisting) return known;
    throw;
  }
  const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (mode == OpenMode::CreateOrOpen ? O_CREAT : 0);
  int fd = ::openat(folder.get(), path.base.c_str(), flags, FileMode(path.global));
  if (fd < 0) {
    if (mode == OpenMode::OpenExisting && errno == ENOENT) return nullptr;
    ThrowErrno(errno);
  }
  if (mode == OpenMode::CreateOrOpen) fd = RenewLeftover(folder.get(), path, fd);
  {
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid()) ::fchmod(fd, FileMode(path.global));  // past the umask
  }
  void* map = MAP_FAILED;
  size_t mapSize = ((size < kPage ? kPage : size) + kPage - 1) / kPage * kPage;
  bool held = false;
  try {
    held = HeldElsewhere(fd);
    if (!held && mode == OpenMode::OpenExisting) {
      ::close(fd);
      return nullptr;
    }
    if (!held) {
      // A new object, or the leftover file of holders that have all gone.
      if (::ftruncate(fd, 0) != 0 || ::ftruncate(fd, static_cast<off_t>(mapSize)) != 0) ThrowErrno(errno);
    } else {
      struct stat st;
      if (::fstat(fd, &st) != 0) ThrowErrno(errno);
      if (static_cast<size_t>(st.st_size) > mapSize) mapSize = static_cast<size_t>(st.st_size);
    }
    map = ::mmap(nullptr, mapSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) ThrowErrno(errno);
    if (!held && init) init(map, mapSize, initArg);
    if (!RangeLock(fd, F_RDLCK, 0, false)) ThrowErrno(errno);
  } catch (...) {
    if (map != MAP_FAILED) ::munmap(map, mapSize);
    ::close(fd);
    throw;
  }
  auto state = std::make_shared<NamedObjectState>();
  state->folder = path.folder;
  state->file = path.file;
  state->base = path.base;
  state->global = path.global;
  state->fd = fd;
  state->map = map;
  state->mapSize = mapSize;
  if (existed) *existed = held;
  gRegistry[path.file] = state;
  return state;
}

}  // namespace

NamedObjectState::~NamedObjectState() {
  if (map) ::munmap(map, mapSize);
  if (fd < 0) return;
  // The last holder on the machine tidies the folder.
  try {
    FolderFd dir(folder, global);
    if (dir.get() < 0) throw EqnOsError(ErrorText(errno), errno);
    NamespaceGuard guard(dir.get(), global);
    struct flock fl = {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    ::fcntl(fd, F_OFD_SETLK, &fl);
    if (!HeldElsewhere(fd)) ::unlinkat(dir.get(), base.c_str(), 0);
    ::close(fd);
  } catch (...) {
    ::close(fd);
  }
}

// ---- NamedMutex ----

NamedMutex::NamedMutex(std::shared_ptr<NamedObjectState> state) : state_(std::move(state)) {}

NamedMutex::~NamedMutex() {
  // Closing a handle does not release ownership; when the state goes away
  // with ownership still held, the next owner finds the mutex abandoned.
  if (ownedLevels_ > 0) {
    std::lock_guard<std::mutex> lock(state_->localMutex);
    if (state_->owner == std::this_thread::get_id()) {
      state_->levels -= ownedLevels_;
      if (state_->levels <= 0) {
        state_->levels = 0;
        state_->owner = std::thread::id();
        RangeLock(state_->fd, F_UNLCK, 1, false);
        state_->localFree.notify_all();
      }
    }
  }
}

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name, bool initialOwner, bool* alreadyExisted) {
  bool existed = false;
  auto state = Acquire("mutex", name, OpenMode::CreateOrOpen, kPage, &existed, nullptr, nullptr);
  if (alreadyExisted) *alreadyExisted = existed;
  std::unique_ptr<NamedMutex> m(new NamedMutex(state));
  if (initialOwner && !existed) m->Wait(0);
  return m;
}

std::unique_ptr<NamedMutex> NamedMutex::Open(const std::string& name) {
  auto state = Acquire("mutex", name, OpenMode::OpenExisting, kPage, nullptr, nullptr, nullptr);
  if (!state) return nullptr;
  return std::unique_ptr<NamedMutex>(new NamedMutex(state));
}

WaitResult NamedMutex::Wait(uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const bool forever = timeoutMs == kInfinite;
  const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  NamedObjectState& s = *state_;
  if (!s.map) return WaitResult::Failed;  // another user's mutex, known only to exist
  const auto me = std::this_thread::get_id();
  {
    std::unique_lock<std::mutex> lock(s.localMutex);
    if (s.owner == me) {
      ++s.levels;
      ++ownedLevels_;
      return WaitResult::Signaled;
    }
    while (s.owner != std::thread::id()) {
      if (forever) {
        s.localFree.wait(lock);
      } else if (s.localFree.wait_until(lock, deadline) == std::cv_status::timeout && s.owner != std::thread::id()) {
        return WaitResult::Timeout;
      }
    }
    s.owner = me;  // reserved while this thread takes the lock of the machine
  }
  bool got = false;
  auto pause = std::chrono::microseconds(50);
  for (;;) {
    if (RangeLock(s.fd, F_WRLCK, 1, false)) {
      got = true;
      break;
    }
    if (errno != EAGAIN && errno != EACCES) break;
    if (!forever && Clock::now() >= deadline) break;
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(2)) pause *= 2;
  }
  std::lock_guard<std::mutex> lock(s.localMutex);
  if (!got) {
    s.owner = std::thread::id();
    s.localFree.notify_all();
    return WaitResult::Timeout;
  }
  auto* page = static_cast<MutexPage*>(s.map);
  bool abandoned = page->ownedFlag.exchange(1) == 1;
  s.levels = 1;
  ownedLevels_ = 1;
  return abandoned ? WaitResult::Abandoned : WaitResult::Signaled;
}

bool NamedMutex::Release() {
  NamedObjectState& s = *state_;
  if (!s.map) return false;
  std::lock_guard<std::mutex> lock(s.localMutex);
  if (s.owner != std::this_thread::get_id() || s.levels == 0) return false;
  --s.levels;
  if (ownedLevels_ > 0) --ownedLevels_;
  if (s.levels == 0) {
    static_cast<MutexPage*>(s.map)->ownedFlag.store(0);
    RangeLock(s.fd, F_UNLCK, 1, false);
    s.owner = std::thread::id();
    s.localFree.notify_all();
  }
  return true;
}

// ---- NamedEvent ----

namespace {

struct EventInit {
  bool manualReset;
  bool initialState;
};

void InitEvent(void* map, size_t, const void* arg) {
  auto* page = static_cast<EventPage*>(map);
  auto* init = static_cast<const EventInit*>(arg);
  page->manualReset.store(init->manualReset ? 1 : 0);
  page->signaled.store(init->initialState ? 1 : 0);
}

}  // namespace

NamedEvent::NamedEvent(std::shared_ptr<NamedObjectState> state) : state_(std::move(state)) {}
NamedEvent::~NamedEvent() = default;

std::unique_ptr<NamedEvent> NamedEvent::Create(const std::string& name, bool manualReset, bool initialState,
                                               bool* alreadyExisted) {
  EventInit init{manualReset, initialState};
  auto state = Acquire("event", name, OpenMode::CreateOrOpen, kPage, alreadyExisted, InitEvent, &init);
  return std::unique_ptr<NamedEvent>(new NamedEvent(state));
}

std::unique_ptr<NamedEvent> NamedEvent::Open(const std::string& name) {
  auto state = Acquire("event", name, OpenMode::OpenExisting, kPage, nullptr, nullptr, nullptr);
  if (!state || !state->map) return nullptr;
  return std::unique_ptr<NamedEvent>(new NamedEvent(state));
}

void NamedEvent::Set() {
  auto* page = static_cast<EventPage*>(state_->map);
  page->signaled.store(1);
  Futex(&page->signaled, FUTEX_WAKE, INT32_MAX, nullptr);
}

void NamedEvent::Reset() { static_cast<EventPage*>(state_->map)->signaled.store(0); }

WaitResult NamedEvent::Wait(uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  auto* page = static_cast<EventPage*>(state_->map);
  const bool forever = timeoutMs == kInfinite;
  const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  for (;;) {
    uint32_t v = page->signaled.load();
    if (v != 0) {
      if (page->manualReset.load() != 0) return WaitResult::Signaled;
      uint32_t expected = 1;
      if (page->signaled.compare_exchange_strong(expected, 0)) return WaitResult::Signaled;
      continue;
    }
    struct timespec ts;
    const struct timespec* tp = nullptr;
    if (!forever) {
      auto left = deadline - Clock::now();
      if (left <= Clock::duration::zero()) return WaitResult::Timeout;
      auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      ts.tv_sec = static_cast<time_t>(ns / 1000000000);
      ts.tv_nsec = static_cast<long>(ns % 1000000000);
      tp = &ts;
    }
    if (Futex(&page->signaled, FUTEX_WAIT, 0, tp) != 0 && errno != EAGAIN && errno != EINTR && errno != ETIMEDOUT)
      return WaitResult::Failed;
  }
}

// ---- SharedMemory ----

SharedMemory::SharedMemory(std::shared_ptr<NamedObjectState> state, void* data, size_t size)
    : state_(std::move(state)), data_(data), size_(size) {}
SharedMemory::~SharedMemory() = default;

std::unique_ptr<SharedMemory> SharedMemory::Create(const std::string& name, size_t size, bool* alreadyExisted) {
  auto state = Acquire("section", name, OpenMode::CreateOrOpen, size, alreadyExisted, nullptr, nullptr);
  return std::unique_ptr<SharedMemory>(new SharedMemory(state, state->map, state->mapSize));
}

std::unique_ptr<SharedMemory> SharedMemory::Open(const std::string& name) {
  auto state = Acquire("section", name, OpenMode::OpenExisting, 0, nullptr, nullptr, nullptr);
  if (!state || !state->map) return nullptr;
  return std::unique_ptr<SharedMemory>(new SharedMemory(state, state->map, state->mapSize));
}

// ---- Who made a name ----

namespace {

// The service's own account, which makes the machine-wide names when the
// system runs it.
constexpr const char* kServiceAccount = "qndbmgr";

const char* KindFile(NamedObjectKind kind) {
  switch (kind) {
    case NamedObjectKind::Mutex: return "mutex";
    case NamedObjectKind::Event: return "event";
    case NamedObjectKind::Section: return "section";
  }
  return "";
}

}  // namespace

NameMaker WhoMadeName(NamedObjectKind kind, const std::string& name) {
  NameMaker maker;
  maker.exists = NameExists(kind, name);
  if (!maker.exists) return maker;
  // The name's file belongs to whoever made it first; later holders only
  // open it.
  const ObjectPath path = PathOf(KindFile(kind), name);
  struct stat st;
  if (::lstat(path.file.c_str(), &st) != 0) {
    maker.account = "?";
    return maker;
  }
  const struct passwd* service = ::getpwnam(kServiceAccount);
  maker.trusted = st.st_uid == 0 || st.st_uid == ::geteuid() || (service && st.st_uid == service->pw_uid);
  const struct passwd* who = ::getpwuid(st.st_uid);
  maker.account = who ? FromKernelFileName(who->pw_name) : Format("%u", static_cast<unsigned>(st.st_uid));
  return maker;
}

}  // namespace qn::platform
