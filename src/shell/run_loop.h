// The parts of a run that both programs share around the core: the two
// backup timers, SIGTERM and SIGINT as a request to exit, and the order of
// start-up and shutdown around the Qt event loop.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include "app/application.h"

namespace qn {

class TqnRunLoop : public QObject {
  Q_OBJECT
 public:
  explicit TqnRunLoop(TqnApplication& core, QObject* parent = nullptr);
  ~TqnRunLoop() override;

  // Starts the starter timer (10 minutes, one shot) that enables the
  // backup check timer (10 seconds).
  void StartTimers();
  // Runs Qt's event loop until the core exits.
  void Exec();

 private:
  void StarterFired();
  void SignalReceived();

  TqnApplication& core_;
  QTimer timStarter_;
  QTimer timBackup_;
  QSocketNotifier* signalNotifier_ = nullptr;
};

}  // namespace qn
