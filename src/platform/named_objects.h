// Named kernel objects shared between processes: mutexes, manual-reset
// events and shared memory sections, with the semantics of their Windows
// namesakes.
//
// Names live in one namespace per user logon; a name that begins with
// "Global\" lives in one namespace for the whole machine. A name exists for
// as long as some process holds a handle to it: a process that ends, even by
// kill -9, takes its handles, and so its names, with it.
//
// Handles are objects owned by the caller; destroying one closes it. A
// handle may be used from any thread. Failures of the operating system are
// thrown as EqnOsError with its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qn::platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

enum class WaitResult {
  Signaled,   // obtained (mutex) or signalled (event)
  Abandoned,  // mutex obtained, but its previous owner ended without releasing it
  Timeout,
  Failed,
};

struct NamedObjectState;

class NamedMutex {
 public:
  // Creates the mutex, or opens it when the name exists already (then
  // *alreadyExisted is set and initialOwner is ignored, as on Windows).
  static std::unique_ptr<NamedMutex> Create(const std::string& name, bool initialOwner, bool* alreadyExisted = nullptr);
  // Opens an existing mutex; nullptr when the name does not exist.
  static std::unique_ptr<NamedMutex> Open(const std::string& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Waits for ownership. Ownership is held by the calling thread and is
  // recursive, as for a Windows mutex.
  WaitResult Wait(uint32_t timeoutMs);
  // Gives up one level of ownership; false when the thread does not own it.
  bool Release();

 private:
  explicit NamedMutex(std::shared_ptr<NamedObjectState> state);
  std::shared_ptr<NamedObjectState> state_;
  int ownedLevels_ = 0;  // levels taken through this handle
};

class NamedEvent {
 public:
  static std::unique_ptr<NamedEvent> Create(const std::string& name, bool manualReset, bool initialState,
                                            bool* alreadyExisted = nullptr);
  // nullptr when the name does not exist.
  static std::unique_ptr<NamedEvent> Open(const std::string& name);
  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  void Set();
  void Reset();
  // Signaled or Timeout (Failed when the wait itself fails).
  WaitResult Wait(uint32_t timeoutMs);

 private:
  explicit NamedEvent(std::shared_ptr<NamedObjectState> state);
  std::shared_ptr<NamedObjectState> state_;
};

// A section of shared memory, mapped read/write at creation.
class SharedMemory {
 public:
  // Creates the section of at least size bytes (zero-filled), or opens it
  // when it exists.
  static std::unique_ptr<SharedMemory> Create(const std::string& name, size_t size, bool* alreadyExisted = nullptr);
  // nullptr when the name does not exist.
  static std::unique_ptr<SharedMemory> Open(const std::string& name);
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  void* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  SharedMemory(std::shared_ptr<NamedObjectState> state, void* data, size_t size);
  std::shared_ptr<NamedObjectState> state_;
  void* data_;
  size_t size_;
};

// Who made a name, so that a machine-wide name that some other user planted
// is never taken for the service's own: a program that trusted it would
// hand its start over to a fake, or talk through objects a stranger reads.
enum class NamedObjectKind { Mutex, Event, Section };
struct NameMaker {
  bool exists = false;
  // Made by the system's accounts (root or the service's account "qndbmgr";
  // SYSTEM or the administrators on Windows) or by this process's own user.
  bool trusted = false;
  std::string account;  // the maker's account name, or its number when it has none
};
NameMaker WhoMadeName(NamedObjectKind kind, const std::string& name);
// Whether a name of that kind exists, as its kind's Open tells.
bool NameExists(NamedObjectKind kind, const std::string& name);

}  // namespace qn::platform
