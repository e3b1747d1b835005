// TfrmServiceView: the window of a desktop program started where the
// system's service looks after the databases. It shows the service's
// register and the state of its backups (TqnServiceView asks the service)
// and hands backup and restore to the service; creating, removing and
// editing an entry only tell the person how the service's register is
// changed. No register or info server of its own runs behind it.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "cli/service_view.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace qn {

class TfrmServiceView : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmServiceView(QWidget* parent = nullptr);

  // Asks the service again and redraws the list (first when the window
  // is shown).
  void Refresh();
  QTreeWidget* List() const { return list_; }
  QLabel* Notice() const { return notice_; }

 private:
  void Backup();
  void Restore();
  void Explain();
  // Runs the service's command off the window's thread, the window
  // answering meanwhile and showing the service's latest line; shows the
  // answer and asks the service again.
  void RunInService(const std::function<TqnCommandResult(const TqnServerLines&)>& command);
  // Runs the work off the window's thread (the service may be busy with
  // another operation for long), the window answering but off meanwhile.
  void Await(const std::function<void(const TqnServerLines&)>& work);
  const TqnServiceRow* Selected() const;

  TqnServiceView view_;
  QLabel* notice_;
  QTreeWidget* list_;
  QLabel* progress_;
  QPushButton* btnBackup_;
  QPushButton* btnRestore_;
  QPushButton* btnRefresh_;
};

}  // namespace qn
