// Helpers of the window tests: answering modal dialogs, typing text that
// QTest cannot type, waiting for posted work, and a core run over a
// temporary program folder with the real main window.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "app/application.h"
#include "gui/frm_main.h"
#include "gui/qt_user_interface.h"
#include "test_support/fake_clock.h"
#include "test_support/scripted_ui.h"
#include "test_support/temp_dir.h"
#include "test_support/test_register.h"
#include "xml/xml_dom.h"

// Answers the modal dialogs of a test in order: each dialog that opens gets
// the next step. A dialog that no step expects fails the test and is
// closed, and so is one still open after its step, so that a broken script
// fails instead of hanging.
class DialogScript {
 public:
  using Step = std::function<void(QWidget* dialog)>;
  DialogScript();
  ~DialogScript();
  void Expect(Step step) { steps_.push_back(std::move(step)); }
  int Handled() const { return handled_; }

 private:
  void Poll();
  QTimer timer_;
  std::deque<Step> steps_;
  QPointer<QWidget> last_;
  int handled_ = 0;
};

// The named child, failing the test when there is none.
template <class T>
T* Child(const QObject* parent, const char* name) {
  T* child = parent->findChild<T*>(QLatin1String(name));
  EXPECT_NE(child, nullptr) << "no child " << name;
  return child;
}

// Types text, Cyrillic included, into the widget with the focus.
void TypeText(QWidget* widget, const QString& text);
// Processes events until the condition holds or about ten seconds passed;
// returns the condition.
bool ProcessUntil(const std::function<bool()>& condition);
// Clicks the button with that objectName inside the widget.
void Click(const QObject* parent, const char* buttonName);

// A core run over a temporary program folder with the main window as its
// view. The window comes first so that it outlives the core.
class CoreRun {
 public:
  TempDir dir;
  FakeClock clock{2026, 3, 2, 9, 0, 0};
  qn::TfrmMainQNDBMGR window;
  qn::TqnQtUserInterface qtUi{window};
  ScriptedUi scripted;
  std::unique_ptr<qn::TqnApplication> core;
  std::vector<std::string> created;  // entries whose database was created

  ~CoreRun();
  void WriteSettings(const qn::TqnNode& root);
  // Starts the core with the Qt dialogs or the scripted answers.
  void Start(bool qtDialogs);
  // The settings file as it is on disk now.
  std::unique_ptr<qn::TqnNode> SavedSettings() const;
};
