#include "shell/run_loop.h"

#include <QCoreApplication>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qn {

namespace {

int gSignalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  char c = 1;
  ssize_t ignored = ::write(gSignalPipe[1], &c, 1);
  (void)ignored;
}

}  // namespace

TqnRunLoop::TqnRunLoop(TqnApplication& core, QObject* parent) : QObject(parent), core_(core) {
  timStarter_.setObjectName("timStarter");
  timStarter_.setSingleShot(true);
  timStarter_.setInterval(TqnApplication::kStarterIntervalMs);
  connect(&timStarter_, &QTimer::timeout, this, &TqnRunLoop::StarterFired);
  timBackup_.setObjectName("timBackup");
  timBackup_.setInterval(TqnApplication::kBackupIntervalMs);
  connect(&timBackup_, &QTimer::timeout, this, [this] { core_.BackupTimerFired(); });
  core_.SetBackupTimerControl([this](bool enabled) {
    if (enabled)
      timBackup_.start();
    else
      timBackup_.stop();
  });

  // SIGTERM and SIGINT end the run with the normal shutdown, through the
  // event loop (a signal handler may do no more than write a byte).
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) == 0) {
    signalNotifier_ = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, &TqnRunLoop::SignalReceived);
    struct sigaction sa = {};
    sa.sa_handler = OnTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
  }
}

TqnRunLoop::~TqnRunLoop() {
  core_.SetBackupTimerControl({});
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGINT, SIG_DFL);
}

void TqnRunLoop::StartTimers() { timStarter_.start(); }

void TqnRunLoop::Exec() { QCoreApplication::exec(); }

void TqnRunLoop::StarterFired() {
  timStarter_.stop();
  core_.StarterTimerFired();
  timBackup_.start();
}

void TqnRunLoop::SignalReceived() {
  char buf[16];
  ssize_t ignored = ::read(gSignalPipe[0], buf, sizeof buf);
  (void)ignored;
  core_.ExitProgram();
}

}  // namespace qn
