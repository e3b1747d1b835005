#include "gui/frm_service.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <chrono>
#include <future>
#include <mutex>

#include "app/application.h"
#include "app/user_interface.h"
#include "backup/backup_feature.h"
#include "base/text.h"
#include "firebird/fb_paths.h"
#include "gui/app_icon.h"
#include "gui/qt_text.h"

namespace qn {

namespace {

QString W(const char* utf8) { return QString::fromUtf8(utf8); }

// The state word of --status, as the window says it.
QString StateText(const TqnServiceRow& row) {
  if (row.state.empty()) return row.autoBackup ? QString() : W("без автоархивации");
  if (row.state == "ok") return W("в порядке");
  QString text = row.state == "stale" ? W("устарела") : row.state == "failed" ? W("ошибка") : ToQString(row.state);
  if (!row.message.empty()) text += W(": ") + ToQString(row.message);
  return text;
}

}  // namespace

TfrmServiceView::TfrmServiceView(QWidget* parent) : QWidget(parent) {
  setWindowTitle(ToQString(TqnApplication::Caption()) + W(" — служба qndbmgr"));
  setWindowIcon(ApplicationIcon());
  resize(860, 420);
  auto* layout = new QVBoxLayout(this);
  notice_ = new QLabel(this);
  notice_->setWordWrap(true);
  layout->addWidget(notice_);
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("lvwBase"));
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({W("База данных"), W("Путь"), W("Последняя проверенная копия"), W("Состояние")});
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  layout->addWidget(list_, 1);
  progress_ = new QLabel(this);
  layout->addWidget(progress_);

  auto* buttons = new QHBoxLayout;
  const auto add = [&](const char* name, const char* text, void (TfrmServiceView::*slot)()) {
    auto* button = new QPushButton(W(text), this);
    button->setObjectName(QLatin1String(name));
    connect(button, &QPushButton::clicked, this, slot);
    buttons->addWidget(button);
    return button;
  };
  btnBackup_ = add("btnBackup", "Архивация", &TfrmServiceView::Backup);
  btnRestore_ = add("btnRestore", "Разархивация", &TfrmServiceView::Restore);
  btnRefresh_ = add("btnRefresh", "Обновить", &TfrmServiceView::Refresh);
  // What the service's register alone may do: said, not done.
  add("btnCreate", "Создать", &TfrmServiceView::Explain);
  add("btnEdit", "Свойства", &TfrmServiceView::Explain);
  add("btnRemove", "Удалить", &TfrmServiceView::Explain);
  buttons->addStretch(1);
  auto* exit = new QPushButton(W("Выход"), this);
  connect(exit, &QPushButton::clicked, this, &QWidget::close);
  buttons->addWidget(exit);
  layout->addLayout(buttons);
  btnBackup_->setEnabled(false);
  btnRestore_->setEnabled(false);
  QTimer::singleShot(0, this, &TfrmServiceView::Refresh);
}

void TfrmServiceView::Refresh() {
  bool asked = false;
  progress_->setText(W("Запрос к службе qndbmgr…"));
  Await([&](const TqnServerLines&) { asked = view_.Refresh(); });
  progress_->clear();
  QString notice =
      W("Базы данных на этом компьютере обслуживает служба qndbmgr: её реестр, архивация и "
        "разархивация через неё.");
  for (const std::string& line : view_.Notices()) notice += W("\n") + ToQString(line);
  if (!asked) notice += W("\nСлужба не ответила: ") + ToQString(view_.Error());
  notice_->setText(notice);
  const int selected = list_->currentIndex().isValid() ? list_->currentIndex().row() : 0;
  list_->clear();
  for (const TqnServiceRow& row : view_.Rows()) {
    QString name = QString::number(row.number) + W(" ") + ToQString(row.key);
    if (!row.caption.empty()) name += W("  (") + ToQString(row.caption) + W(")");
    auto* item = new QTreeWidgetItem(list_, {name, ToQString(row.path), ToQString(row.lastVerified), StateText(row)});
    item->setToolTip(1, ToQString(row.backupFolder));
  }
  if (list_->topLevelItemCount() > 0)
    list_->setCurrentItem(list_->topLevelItem(std::min(selected, list_->topLevelItemCount() - 1)));
  btnBackup_->setEnabled(asked && !view_.Rows().empty());
  btnRestore_->setEnabled(asked && !view_.Rows().empty());
}

const TqnServiceRow* TfrmServiceView::Selected() const {
  const int row = list_->currentIndex().isValid() ? list_->currentIndex().row() : -1;
  if (row < 0 || row >= static_cast<int>(view_.Rows().size())) return nullptr;
  return &view_.Rows()[row];
}

void TfrmServiceView::Backup() {
  if (const TqnServiceRow* row = Selected()) {
    const std::string key = row->key;
    RunInService([key](const TqnServerLines& onLine) { return TqnServiceView::Backup(key, {}, onLine); });
  }
}

void TfrmServiceView::Restore() {
  const TqnServiceRow* row = Selected();
  if (!row) return;
  const std::string key = row->key;
  // The same choice as the main window's restore, the conversion of an
  // older server's copy included. The service reads the file as its own
  // user: a file in its backup folder, or one the group qndbmgr may read
  // outside the home folders.
  const TqnFileDialog d = RestoreOpenDialog(IsFb30Database(row->path), row->backupFolder);
  QFileDialog dialog(this, W("Разархивация"), ToQString(d.folder));
  const QStringList filters = QtNameFilters(d.filter);
  dialog.setNameFilters(filters);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const bool fixCharset = filters.indexOf(dialog.selectedNameFilter()) == 1;
  const QMessageBox::StandardButton answer = QMessageBox::question(
      this, ToQString(MessageCaption(TqnMessageKind::Warning)),
      W("При разархивации файла все текущие данные будут заменены данными из открываемого файла. Продолжить?"));
  if (answer != QMessageBox::Yes) return;
  const std::string path = FromQString(QDir::toNativeSeparators(dialog.selectedFiles().first()));
  RunInService([key, path, fixCharset](const TqnServerLines& onLine) {
    return TqnServiceView::Restore(key, path, fixCharset, onLine);
  });
}

void TfrmServiceView::Explain() {
  QMessageBox::information(this, ToQString(MessageCaption(TqnMessageKind::Information)),
                           ToQString(TqnServiceView::ChangeRegisterText()));
}

void TfrmServiceView::RunInService(const std::function<TqnCommandResult(const TqnServerLines&)>& command) {
  TqnCommandResult result;
  Await([&](const TqnServerLines& onLine) { result = command(onLine); });
  progress_->clear();
  const TqnMessageKind kind = result.ok ? TqnMessageKind::Information : TqnMessageKind::Error;
  if (result.ok)
    QMessageBox::information(this, ToQString(MessageCaption(kind)), ToQString(result.text));
  else
    QMessageBox::critical(this, ToQString(MessageCaption(kind)), ToQString(result.text));
  Refresh();
}

void TfrmServiceView::Await(const std::function<void(const TqnServerLines&)>& work) {
  setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::mutex mutex;
  std::string latest;
  std::future<void> running = std::async(std::launch::async, [&] {
    work([&](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex);
      latest = line;
    });
  });
  QEventLoop wait;
  QTimer poll;
  connect(&poll, &QTimer::timeout, &wait, [&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!latest.empty()) progress_->setText(ToQString(latest));
    }
    if (running.wait_for(std::chrono::seconds(0)) == std::future_status::ready) wait.quit();
  });
  poll.start(100);
  wait.exec();
  running.get();
  QApplication::restoreOverrideCursor();
  setEnabled(true);
}

}  // namespace qn
