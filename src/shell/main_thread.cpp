#include "shell/main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace qn {

void RunOnMainThread(const std::function<void()>& work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(
      app, [&work] { work(); }, Qt::BlockingQueuedConnection);
}

void ProcessMainThreadEvents() { QCoreApplication::processEvents(); }

void QuitMainThreadLoop() { QCoreApplication::quit(); }

void PostToMainThread(std::function<void()> work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) {
    work();
    return;
  }
  QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

}  // namespace qn
