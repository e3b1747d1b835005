// The program as a Windows service: the Service Control Manager's
// dispatcher, the service's control handler and the states it reports.
// The run itself goes on a thread of the dispatcher's, which becomes the
// run's main thread; the process's first thread stays in the dispatcher
// and takes the manager's controls.

#include "platform/win32.h"

#include <exception>
#include <mutex>

#include "base/error.h"
#include "platform/files.h"
#include "platform/system.h"

namespace qn::platform {

namespace {

// How long a start or stop may go without a word before the manager may
// think the service hangs: a stop waits for the operation in hand.
constexpr DWORD kPendingWaitHintMs = 30000;

struct ServiceRun {
  const std::function<int()>* run = nullptr;
  const std::function<void()>* stop = nullptr;
  SERVICE_STATUS_HANDLE handle = nullptr;
  std::mutex mutex;  // one state change at a time
  DWORD state = SERVICE_STOPPED;
  DWORD checkPoint = 0;
  int code = 0;
  std::exception_ptr failure;
};

// The service of this process, while the dispatcher runs.
ServiceRun* gService = nullptr;

// Sets and reports the state (the caller holds the mutex).
void Report(ServiceRun& s, DWORD state, int exitCode = 0) {
  s.state = state;
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  // Controls are taken only while running: before, the run has no loop to
  // end yet; after, it is ending already.
  // Told before the system shuts down (minutes, not the seconds a service
  // has at shutdown), so that the orderly exit has the time it needs.
  status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_SHUTDOWN : 0;
  if (exitCode != 0) {
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
  }
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  status.dwCheckPoint = pending ? ++s.checkPoint : 0;
  status.dwWaitHint = pending ? kPendingWaitHintMs : 0;
  ::SetServiceStatus(s.handle, &status);
}

// Moves from one state to the next; false when the service is elsewhere.
bool Move(ServiceRun& s, DWORD from, DWORD to) {
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.state != from) return false;
  Report(s, to);
  return true;
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void* context) {
  auto& s = *static_cast<ServiceRun*>(context);
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_PRESHUTDOWN:
    case SERVICE_CONTROL_SHUTDOWN:
      // The orderly shutdown, asked once.
      if (Move(s, SERVICE_RUNNING, SERVICE_STOP_PENDING)) (*s.stop)();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
  ServiceRun& s = *gService;
  // The manager names the service it starts; a service of its own process
  // is the only one here.
  s.handle = ::RegisterServiceCtrlHandlerExA(argc > 0 && argv[0] ? argv[0] : "", OnControl, &s);
  if (!s.handle) {
    const int code = LastErrorCode();
    s.failure = std::make_exception_ptr(EqnOsError(ErrorText(code), code));
    return;
  }
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    Report(s, SERVICE_START_PENDING);
  }
  try {
    s.code = (*s.run)();
  } catch (...) {
    s.failure = std::current_exception();
    s.code = 1;
  }
  std::lock_guard<std::mutex> lock(s.mutex);
  Report(s, SERVICE_STOPPED, s.code);
}

}  // namespace

void NotifyServiceManager(const std::string& state) {
  ServiceRun* s = gService;
  if (!s || !s->handle) return;
  if (state == "READY=1") Move(*s, SERVICE_START_PENDING, SERVICE_RUNNING);
  if (state == "STOPPING=1") Move(*s, SERVICE_RUNNING, SERVICE_STOP_PENDING);
}

std::optional<int> RunUnderServiceManager(const std::function<int()>& run, const std::function<void()>& stop) {
  ServiceRun s;
  s.run = &run;
  s.stop = &stop;
  gService = &s;
  // The name is not looked at for a service of its own process.
  char name[] = "qndbmgr";
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  const BOOL dispatched = ::StartServiceCtrlDispatcherA(table);
  const int error = dispatched ? 0 : LastErrorCode();
  gService = nullptr;
  if (!dispatched) {
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return std::nullopt;
    throw EqnOsError(ErrorText(error), error);
  }
  if (s.failure) std::rethrow_exception(s.failure);
  return s.code;
}

}  // namespace qn::platform
