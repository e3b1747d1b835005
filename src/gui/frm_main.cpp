#include "gui/frm_main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#if QT_CONFIG(sessionmanager)
#include <QSessionManager>
#endif

#include "app/application.h"
#include "gui/app_icon.h"
#include "gui/infinity.h"
#include "gui/qt_text.h"

namespace qn {

namespace {

constexpr int kClientWidth = 522;
constexpr int kClientHeight = 366;
// The smallest outer size of the window, frame included.
constexpr int kMinWidth = 530;
constexpr int kMinHeight = 320;
constexpr int kPathColumnWidth = 300;
// The tray shows at most this many characters of its tip.
constexpr size_t kMaxTipLength = 63;

QPushButton* Button(const QString& text, const char* name) {
  auto* b = new QPushButton(text);
  b->setObjectName(QLatin1String(name));
  return b;
}

}  // namespace

TfrmMainQNDBMGR::TfrmMainQNDBMGR(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("frmMainQNDBMGR"));
  setWindowTitle(QStringLiteral("Менеджер баз данных"));
  setWindowIcon(ApplicationIcon());
  // The window lives on in the tray while hidden: closing a dialog while it
  // is hidden must not end the run, which only ExitProgram does.
  QApplication::setQuitOnLastWindowClosed(false);

  pgcMain_ = new QTabWidget;
  pgcMain_->setObjectName(QStringLiteral("pgcMain"));
  auto* shtData = new QWidget;
  shtData->setObjectName(QStringLiteral("shtData"));
  BuildDataPage(shtData);
  pgcMain_->addTab(shtData, QStringLiteral("Базы данных"));

  auto* shtMessage = new QWidget;
  shtMessage->setObjectName(QStringLiteral("shtMessage"));
  memLog_ = new QPlainTextEdit;
  memLog_->setObjectName(QStringLiteral("memLog"));
  memLog_->setReadOnly(true);
  memLog_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* messageLayout = new QVBoxLayout(shtMessage);
  messageLayout->addWidget(memLog_);
  pgcMain_->addTab(shtMessage, QStringLiteral("Сообщения"));

  btnExit_ = Button(QStringLiteral("Выход"), "btnExit");
  btnTest_ = Button(QStringLiteral("Test"), "btnTest");
  Button5_ = Button(QStringLiteral("Check"), "Button5");
  btnTest_->hide();
  Button5_->hide();
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(btnTest_);
  bottom->addWidget(Button5_);
  bottom->addStretch();
  bottom->addWidget(btnExit_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pgcMain_, 1);
  layout->addLayout(bottom);

  connect(btnExit_, &QPushButton::clicked, this, [this] { Run([this] { core_->ExitClicked(); }); });
  // The test button has no work; the check button runs one backup check.
  connect(Button5_, &QPushButton::clicked, this, [this] { Run([this] { core_->BackupCheckNow(); }); });

  BuildTray();

#if QT_CONFIG(sessionmanager)
  // The session is ending: let it end and leave without a question. The exit
  // is posted, as the session manager is still talking to us here.
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
    QTimer::singleShot(0, this, [this] {
      if (core_) core_->ExitProgram();
    });
  });
#endif

  resize(kClientWidth, kClientHeight);
  UpdateButtons();
}

TfrmMainQNDBMGR::~TfrmMainQNDBMGR() = default;

void TfrmMainQNDBMGR::BuildDataPage(QWidget* page) {
  lvwBase_ = new QTreeWidget;
  lvwBase_->setObjectName(QStringLiteral("lvwBase"));
  lvwBase_->setColumnCount(3);
  lvwBase_->setHeaderLabels(
      {QStringLiteral("Адрес подключения"), QStringLiteral("Путь"), QStringLiteral("Последняя резервная копия")});
  lvwBase_->setRootIsDecorated(false);
  lvwBase_->setItemsExpandable(false);
  lvwBase_->setUniformRowHeights(true);
  lvwBase_->setAllColumnsShowFocus(true);
  lvwBase_->setSelectionMode(QAbstractItemView::SingleSelection);
  lvwBase_->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvwBase_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvwBase_->setIconSize(QSize(32, 32));
  // The address takes what the path's fixed width leaves.
  QHeaderView* header = lvwBase_->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  header->setSectionResizeMode(1, QHeaderView::Interactive);
  header->resizeSection(1, kPathColumnWidth);
  header->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  // The selection keeps its colour when the list loses the focus.
  QPalette palette = lvwBase_->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  lvwBase_->setPalette(palette);

  infProgress_ = new TqnInfinity;
  infProgress_->setObjectName(QStringLiteral("infProgress"));
  infProgress_->hide();

  btnEdit_ = Button(QStringLiteral("Свойства"), "btnEdit");
  btnBackup_ = Button(QStringLiteral("Архивация"), "btnBackup");
  btnRestore_ = Button(QStringLiteral("Разархивация"), "btnRestore");
  btnCreate_ = Button(QStringLiteral("Создать"), "btnCreate");
  btnRemove_ = Button(QStringLiteral("Удалить"), "btnRemove");
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {btnEdit_, btnBackup_, btnRestore_, btnCreate_, btnRemove_}) buttons->addWidget(b);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(lvwBase_, 1);
  layout->addWidget(infProgress_);
  layout->addLayout(buttons);

  connect(lvwBase_, &QTreeWidget::itemSelectionChanged, this, &TfrmMainQNDBMGR::lvwBaseSelectionChanged);
  connect(lvwBase_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem*, int) { Run([this] { core_->EditSelected(); }); });
  connect(btnEdit_, &QPushButton::clicked, this, [this] { Run([this] { core_->EditSelected(); }); });
  connect(btnBackup_, &QPushButton::clicked, this, [this] {
    Run([this] {
      if (onBackup_) onBackup_();
    });
  });
  connect(btnRestore_, &QPushButton::clicked, this, [this] {
    Run([this] {
      if (onRestore_) onRestore_();
    });
  });
  connect(btnCreate_, &QPushButton::clicked, this, [this] { Run([this] { core_->CreateClicked(); }); });
  connect(btnRemove_, &QPushButton::clicked, this, [this] { Run([this] { core_->RemoveSelected(); }); });
}

void TfrmMainQNDBMGR::BuildTray() {
  tray_ = new QSystemTrayIcon(ApplicationIcon(), this);
  tray_->setObjectName(QStringLiteral("tray"));
  trayMenu_ = new QMenu(this);
  trayMenu_->setObjectName(QStringLiteral("pmnTray"));
  QAction* open = trayMenu_->addAction(QStringLiteral("Открыть"));
  open->setObjectName(QStringLiteral("mniOpen"));
  QFont bold = open->font();
  bold.setBold(true);
  open->setFont(bold);
  trayMenu_->setDefaultAction(open);
  trayMenu_->addSeparator();
  QAction* exit = trayMenu_->addAction(QStringLiteral("Выход"));
  exit->setObjectName(QStringLiteral("mniExit"));
  tray_->setContextMenu(trayMenu_);

  connect(open, &QAction::triggered, this, [this] { ShowMainWindow(false); });
  connect(exit, &QAction::triggered, this, [this] { Run([this] { core_->ExitProgram(); }); });
  // The right button opens the menu by itself. Qt reports middle clicks one
  // by one; two of them within the double-click time make the double click
  // the icon answers.
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) ShowMainWindow(true);
    if (reason == QSystemTrayIcon::MiddleClick) TrayMiddleClick();
  });
}

void TfrmMainQNDBMGR::TrayMiddleClick() {
  if (lastMiddleClick_.isValid() && lastMiddleClick_.elapsed() <= QApplication::doubleClickInterval()) {
    lastMiddleClick_.invalidate();
    ShowMainWindow(false);
    return;
  }
  lastMiddleClick_.start();
}

void TfrmMainQNDBMGR::HideToTray() {
  // A start-up that failed before the icon was added leaves no icon either.
  const bool tray = trayAvailable_ ? trayAvailable_() : QSystemTrayIcon::isSystemTrayAvailable();
  if (tray && (!core_ || core_->TrayIconAdded()))
    hide();
  else
    showMinimized();
}

// ---- the core ----

void TfrmMainQNDBMGR::Attach(TqnApplication& core) {
  core_ = &core;
  memLog_->clear();
  AppendPane(false, core.Pane().Lines());
  // The pane is written from any thread; its lines reach the text on the
  // window's thread. The posted work goes to the application object, which
  // outlives the window, and checks that the window is still there.
  core.Pane().SetObserver(
      [self = QPointer<TfrmMainQNDBMGR>(this)](bool cleared, const std::vector<std::string>& added) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        QMetaObject::invokeMethod(
            app,
            [self, cleared, added] {
              if (self) self->AppendPane(cleared, added);
            },
            Qt::QueuedConnection);
      });
  ListChanged();
}

void TfrmMainQNDBMGR::Detach() {
  if (!core_) return;
  core_->Pane().SetObserver(nullptr);
  core_ = nullptr;
}

void TfrmMainQNDBMGR::Started(bool showWindow) {
  if (showWindow)
    show();
  else
    HideToTray();
}

void TfrmMainQNDBMGR::Run(const std::function<void()>& action) {
  if (!core_) return;
  core_->Guarded(action);
  UpdateButtons();
}

void TfrmMainQNDBMGR::SetBusy(bool busy) { infProgress_->setVisible(busy); }

void TfrmMainQNDBMGR::AppendPane(bool cleared, const std::vector<std::string>& lines) {
  if (cleared) memLog_->clear();
  for (const std::string& line : lines) memLog_->appendPlainText(ToQString(line));
}

// ---- the list ----

void TfrmMainQNDBMGR::ListChanged() {
  if (!core_) return;
  {
    QSignalBlocker block(lvwBase_);
    lvwBase_->setUpdatesEnabled(false);
    lvwBase_->clear();
    for (const TqnListRow& row : core_->Rows()) {
      auto* item = new QTreeWidgetItem({ToQString(row.text), ToQString(row.path), ToQString(row.lastBackup)});
      item->setData(0, Qt::UserRole, row.number);
      lvwBase_->addTopLevelItem(item);
    }
    lvwBase_->setUpdatesEnabled(true);
    ShowBackupAlarm();
    if (QTreeWidgetItem* selected = lvwBase_->topLevelItem(core_->SelectedRow())) {
      lvwBase_->setCurrentItem(selected);
      lvwBase_->scrollToItem(selected);
    }
  }
  UpdateButtons();
}

void TfrmMainQNDBMGR::lvwBaseSelectionChanged() {
  if (!core_) return;
  QList<QTreeWidgetItem*> selected = lvwBase_->selectedItems();
  core_->SelectRow(selected.isEmpty() ? -1 : lvwBase_->indexOfTopLevelItem(selected.first()));
  UpdateButtons();
}

void TfrmMainQNDBMGR::UpdateButtons() {
  bool enabled = core_ && core_->EntryButtonsEnabled();
  for (QPushButton* b : {btnEdit_, btnBackup_, btnRestore_, btnRemove_}) b->setEnabled(enabled);
  btnCreate_->setEnabled(!core_ || core_->CreateButtonEnabled());
}

// ---- the tray and the window ----

void TfrmMainQNDBMGR::AddTrayIcon(const std::string& tip) {
  trayTip_ = tip;
  ShowBackupAlarm();
  tray_->show();
}

void TfrmMainQNDBMGR::ShowBackupAlarm() {
  // A failed or stale entry shows in the tray: a warning icon, and the tip
  // names the entry.
  const std::string alarm = core_ ? core_->BackupAlarm() : std::string();
  tray_->setIcon(alarm.empty() ? ApplicationIcon() : style()->standardIcon(QStyle::SP_MessageBoxWarning));
  const std::string tip = alarm.empty() ? trayTip_ : trayTip_ + "\n" + alarm;
  tray_->setToolTip(ToQString(tip.substr(0, kMaxTipLength)));
}

void TfrmMainQNDBMGR::RemoveTrayIcon() { tray_->hide(); }

void TfrmMainQNDBMGR::SetTitle(const std::string& title) { setWindowTitle(ToQString(title)); }

// The target is the open dialog when there is one, so that a click on the
// icon brings it forward; else the active window, else this one.
void TfrmMainQNDBMGR::ShowMainWindow(bool toggle) {
  QWidget* target = QApplication::activeModalWidget();
  if (!target) target = QApplication::activeWindow();
  if (!target) target = this;
  if (toggle && target == this && isVisible()) {
    HideToTray();
    return;
  }
  if (target->isMinimized())
    target->showNormal();
  else
    target->show();
  target->raise();
  target->activateWindow();
}

void TfrmMainQNDBMGR::ShowMessagesPage() {
  ShowMainWindow(false);
  if (QWidget* page = pgcMain_->findChild<QWidget*>(QStringLiteral("shtMessage"))) pgcMain_->setCurrentWidget(page);
}

void TfrmMainQNDBMGR::Quit() {
  close();
  QCoreApplication::quit();
}

int TfrmMainQNDBMGR::ScreenWidth() const { return screen() ? screen()->geometry().width() : 0; }

TqnWindowGeometry TfrmMainQNDBMGR::Geometry() const {
  QRect frame = frameGeometry();
  TqnWindowGeometry g;
  g.maximized = isMaximized();
  g.left = frame.left();
  g.top = frame.top();
  g.right = frame.left() + frame.width();
  g.bottom = frame.top() + frame.height();
  return g;
}

void TfrmMainQNDBMGR::LoadWindowState() {
  if (!core_ || !screen()) return;
  QRect area = screen()->geometry();
  std::optional<TqnWindowGeometry> g = core_->WindowActivated(area.width(), area.height());
  if (!g) return;
  if (g->maximized) {
    setWindowState(windowState() | Qt::WindowMaximized);
    return;
  }
  setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
  // The saved bounds are the frame's; the frame's own width is taken off.
  QSize frameExtra = frameGeometry().size() - geometry().size();
  move(g->left, g->top);
  resize(g->right - g->left - frameExtra.width(), g->bottom - g->top - frameExtra.height());
}

bool TfrmMainQNDBMGR::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && windowStatePending_) {
    windowStatePending_ = false;
    LoadWindowState();
  }
  return QWidget::event(event);
}

void TfrmMainQNDBMGR::showEvent(QShowEvent* event) {
  // Shown by the program (not given back by the desktop): from hidden.
  if (!event->spontaneous()) windowStatePending_ = true;
  QWidget::showEvent(event);
  QSize frameExtra = frameGeometry().size() - geometry().size();
  setMinimumSize(kMinWidth - frameExtra.width(), kMinHeight - frameExtra.height());
}

void TfrmMainQNDBMGR::closeEvent(QCloseEvent* event) {
  if (core_ && !core_->Exiting()) {
    event->ignore();
    HideToTray();
    return;
  }
  QWidget::closeEvent(event);
}

}  // namespace qn
