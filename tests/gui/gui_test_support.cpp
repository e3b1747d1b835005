#include "gui_test_support.h"

#include <QAbstractButton>
#include <QDialog>
#include <QMessageBox>
#include <QTest>

#include "settings/register.h"
#include "xml/xml_utils.h"

using namespace qn;

DialogScript::DialogScript() {
  timer_.setInterval(10);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  timer_.start();
}

DialogScript::~DialogScript() { EXPECT_TRUE(steps_.empty()) << steps_.size() << " expected dialog(s) never opened"; }

namespace {

std::string Describe(QWidget* w) {
  std::string d = w->objectName().toStdString() + " \"" + w->windowTitle().toStdString() + "\"";
  if (auto* box = qobject_cast<QMessageBox*>(w)) d += ": " + box->text().toStdString();
  return d;
}

void CloseDialog(QWidget* w) {
  if (auto* dialog = qobject_cast<QDialog*>(w))
    dialog->reject();
  else
    w->close();
}

}  // namespace

void DialogScript::Poll() {
  QWidget* w = QApplication::activeModalWidget();
  if (!w || !w->isVisible() || w == last_) return;
  last_ = w;
  if (steps_.empty()) {
    ADD_FAILURE() << "unexpected dialog " << Describe(w);
    CloseDialog(w);
    return;
  }
  Step step = std::move(steps_.front());
  steps_.pop_front();
  ++handled_;
  QPointer<QWidget> guard(w);
  step(w);
  if (guard && guard->isVisible() && guard == QApplication::activeModalWidget()) {
    ADD_FAILURE() << "dialog still open after its step: " << Describe(guard);
    CloseDialog(guard);
  }
}

void TypeText(QWidget* widget, const QString& text) {
  for (QChar ch : text) QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

bool ProcessUntil(const std::function<bool()>& condition) {
  for (int i = 0; i < 1000 && !condition(); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QTest::qWait(10);
  }
  return condition();
}

void Click(const QObject* parent, const char* buttonName) {
  if (auto* button = Child<QAbstractButton>(parent, buttonName)) button->click();
}

CoreRun::~CoreRun() { window.Detach(); }

void CoreRun::WriteSettings(const TqnNode& root) { XmlSaveFile(root, dir.File("settings.xml")); }

void CoreRun::Start(bool qtDialogs) {
  IqnUserInterface& ui = qtDialogs ? static_cast<IqnUserInterface&>(qtUi) : scripted;
  core = std::make_unique<TqnApplication>(dir.path(), ui, window, clock);
  core->SetDatabaseCreator([this](TqnNode& entry) { created.push_back(entry.Name()); });
  window.Attach(*core);
  core->Startup();
  window.Started(true);
}

std::unique_ptr<TqnNode> CoreRun::SavedSettings() const { return XmlLoadFile(dir.File("settings.xml"), "settings"); }
