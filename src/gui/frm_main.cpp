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

using P = TqnMainPresenter;

QString Text(TqnText text) { return ToQString(UiText(text)); }

QPushButton* Button(TqnMainButton which, const char* name) {
  auto* b = new QPushButton(Text(P::ButtonText(which)));
  b->setObjectName(QLatin1String(name));
  return b;
}

}  // namespace

TfrmMainQNDBMGR::TfrmMainQNDBMGR(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("frmMainQNDBMGR"));
  setWindowTitle(ToQString(presenter_.Title()));
  setWindowIcon(ApplicationIcon());
  // The window lives on in the tray while hidden: closing a dialog while it
  // is hidden must not end the run, which only ExitProgram does.
  QApplication::setQuitOnLastWindowClosed(false);

  pgcMain_ = new QTabWidget;
  pgcMain_->setObjectName(QStringLiteral("pgcMain"));
  auto* shtData = new QWidget;
  shtData->setObjectName(QStringLiteral("shtData"));
  BuildDataPage(shtData);
  pgcMain_->addTab(shtData, Text(TqnText::PageDatabases));

  auto* shtMessage = new QWidget;
  shtMessage->setObjectName(QStringLiteral("shtMessage"));
  memLog_ = new QPlainTextEdit;
  memLog_->setObjectName(QStringLiteral("memLog"));
  memLog_->setReadOnly(true);
  memLog_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* messageLayout = new QVBoxLayout(shtMessage);
  messageLayout->addWidget(memLog_);
  pgcMain_->addTab(shtMessage, Text(TqnText::PageMessages));

  btnExit_ = Button(TqnMainButton::Exit, "btnExit");
  btnTest_ = Button(TqnMainButton::Test, "btnTest");
  Button5_ = Button(TqnMainButton::Check, "Button5");
  btnTest_->setVisible(P::ButtonVisible(TqnMainButton::Test));
  Button5_->setVisible(P::ButtonVisible(TqnMainButton::Check));
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(btnTest_);
  bottom->addWidget(Button5_);
  bottom->addStretch();
  bottom->addWidget(btnExit_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pgcMain_, 1);
  layout->addLayout(bottom);

  connect(btnExit_, &QPushButton::clicked, this, [this] { Run(TqnMainButton::Exit); });
  connect(btnTest_, &QPushButton::clicked, this, [this] { Run(TqnMainButton::Test); });
  connect(Button5_, &QPushButton::clicked, this, [this] { Run(TqnMainButton::Check); });

  BuildTray();

#if QT_CONFIG(sessionmanager)
  // The session is ending. The exit is posted, as the session manager is
  // still talking to us here.
  connect(qApp, &QGuiApplication::commitDataRequest, this,
          [this](QSessionManager&) { QTimer::singleShot(0, this, [this] { presenter_.SessionEnding(); }); });
#endif

  resize(P::kClientWidth, P::kClientHeight);
  UpdateButtons();
}

TfrmMainQNDBMGR::~TfrmMainQNDBMGR() = default;

void TfrmMainQNDBMGR::BuildDataPage(QWidget* page) {
  lvwBase_ = new QTreeWidget;
  lvwBase_->setObjectName(QStringLiteral("lvwBase"));
  const std::vector<TqnColumn>& columns = P::Columns();
  lvwBase_->setColumnCount(static_cast<int>(columns.size()));
  QStringList titles;
  for (const TqnColumn& c : columns) titles << Text(c.title);
  lvwBase_->setHeaderLabels(titles);
  lvwBase_->setRootIsDecorated(false);
  lvwBase_->setItemsExpandable(false);
  lvwBase_->setUniformRowHeights(true);
  lvwBase_->setAllColumnsShowFocus(true);
  lvwBase_->setSelectionMode(QAbstractItemView::SingleSelection);
  lvwBase_->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvwBase_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvwBase_->setIconSize(QSize(P::kRowIconSize, P::kRowIconSize));
  lvwBase_->header()->setStretchLastSection(false);
  // A long path is shortened in its middle, where its folders are, not at
  // the end that names the file.
  lvwBase_->setTextElideMode(Qt::ElideMiddle);
  lvwBase_->viewport()->installEventFilter(this);
  // The selection keeps its colour when the list loses the focus.
  QPalette palette = lvwBase_->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  lvwBase_->setPalette(palette);

  infProgress_ = new TqnInfinity;
  infProgress_->setObjectName(QStringLiteral("infProgress"));
  infProgress_->hide();

  btnEdit_ = Button(TqnMainButton::Properties, "btnEdit");
  btnBackup_ = Button(TqnMainButton::Backup, "btnBackup");
  btnRestore_ = Button(TqnMainButton::Restore, "btnRestore");
  btnCreate_ = Button(TqnMainButton::Create, "btnCreate");
  btnRemove_ = Button(TqnMainButton::Remove, "btnRemove");
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {btnEdit_, btnBackup_, btnRestore_, btnCreate_, btnRemove_}) buttons->addWidget(b);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(lvwBase_, 1);
  layout->addWidget(infProgress_);
  layout->addLayout(buttons);

  connect(lvwBase_, &QTreeWidget::itemSelectionChanged, this, &TfrmMainQNDBMGR::lvwBaseSelectionChanged);
  connect(lvwBase_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem*, int) {
    presenter_.RowDoubleClicked();
    UpdateButtons();
  });
  const std::pair<QPushButton*, TqnMainButton> clicks[] = {{btnEdit_, TqnMainButton::Properties},
                                                           {btnBackup_, TqnMainButton::Backup},
                                                           {btnRestore_, TqnMainButton::Restore},
                                                           {btnCreate_, TqnMainButton::Create},
                                                           {btnRemove_, TqnMainButton::Remove}};
  for (const auto& [b, which] : clicks) connect(b, &QPushButton::clicked, this, [this, which = which] { Run(which); });
}

void TfrmMainQNDBMGR::BuildTray() {
  tray_ = new QSystemTrayIcon(ApplicationIcon(), this);
  tray_->setObjectName(QStringLiteral("tray"));
  trayMenu_ = new QMenu(this);
  trayMenu_->setObjectName(QStringLiteral("pmnTray"));
  QAction* open = trayMenu_->addAction(Text(TqnText::TrayOpen));
  open->setObjectName(QStringLiteral("mniOpen"));
  QFont bold = open->font();
  bold.setBold(true);
  open->setFont(bold);
  trayMenu_->setDefaultAction(open);
  trayMenu_->addSeparator();
  QAction* exit = trayMenu_->addAction(Text(TqnText::TrayExit));
  exit->setObjectName(QStringLiteral("mniExit"));
  tray_->setContextMenu(trayMenu_);

  connect(open, &QAction::triggered, this, [this] { presenter_.TrayEvent(TqnTrayEvent::MenuOpen); });
  connect(exit, &QAction::triggered, this, [this] {
    presenter_.TrayEvent(TqnTrayEvent::MenuExit);
    UpdateButtons();
  });
  // The right button opens the menu by itself. Qt reports middle clicks one
  // by one; the presenter makes the double click of two.
  trayClock_.start();
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) presenter_.TrayEvent(TqnTrayEvent::PrimaryUp);
    if (reason == QSystemTrayIcon::MiddleClick)
      presenter_.TrayMiddleClick(trayClock_.elapsed(), QApplication::doubleClickInterval());
  });
}

void TfrmMainQNDBMGR::HideToTray() {
  const bool tray = trayAvailable_ ? trayAvailable_() : QSystemTrayIcon::isSystemTrayAvailable();
  if (presenter_.HideWay(tray) == TqnHideWay::Hide)
    hide();
  else
    showMinimized();
}

// ---- the core ----

void TfrmMainQNDBMGR::Attach(TqnApplication& core) {
  presenter_.Attach(&core);
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
  if (!presenter_.Core()) return;
  presenter_.Core()->Pane().SetObserver(nullptr);
  presenter_.Attach(nullptr);
}

void TfrmMainQNDBMGR::Started(bool showWindow) {
  if (showWindow)
    show();
  else
    HideToTray();
}

void TfrmMainQNDBMGR::Run(TqnMainButton button) {
  presenter_.Click(button);
  UpdateButtons();
}

void TfrmMainQNDBMGR::SetBusy(bool busy) { infProgress_->setVisible(busy); }

void TfrmMainQNDBMGR::AppendPane(bool cleared, const std::vector<std::string>& lines) {
  if (cleared) memLog_->clear();
  for (const std::string& line : lines) memLog_->appendPlainText(ToQString(line));
}

// ---- the list ----

bool TfrmMainQNDBMGR::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lvwBase_->viewport() && event->type() == QEvent::Resize) {
    const int width = lvwBase_->viewport()->width();
    const std::vector<TqnColumn>& columns = P::Columns();
    int left = width;
    for (size_t i = 0; i < columns.size(); ++i) {
      // The last column takes what the rounding of the others left.
      const int w = i + 1 == columns.size() ? left : width * columns[i].share / 100;
      lvwBase_->header()->resizeSection(static_cast<int>(i), w);
      left -= w;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TfrmMainQNDBMGR::ListChanged() {
  {
    QSignalBlocker block(lvwBase_);
    lvwBase_->setUpdatesEnabled(false);
    lvwBase_->clear();
    for (const TqnListRow& row : presenter_.Rows()) {
      auto* item = new QTreeWidgetItem({ToQString(row.text), ToQString(row.path), ToQString(row.lastBackup)});
      for (int column = 0; column < 3; ++column) item->setToolTip(column, item->text(column));
      item->setData(0, Qt::UserRole, row.number);
      lvwBase_->addTopLevelItem(item);
    }
    lvwBase_->setUpdatesEnabled(true);
    ShowBackupAlarm();
    if (QTreeWidgetItem* selected = lvwBase_->topLevelItem(presenter_.SelectedRow())) {
      lvwBase_->setCurrentItem(selected);
      lvwBase_->scrollToItem(selected);
    }
  }
  UpdateButtons();
}

void TfrmMainQNDBMGR::lvwBaseSelectionChanged() {
  QList<QTreeWidgetItem*> selected = lvwBase_->selectedItems();
  presenter_.SelectRow(selected.isEmpty() ? -1 : lvwBase_->indexOfTopLevelItem(selected.first()));
  UpdateButtons();
}

void TfrmMainQNDBMGR::UpdateButtons() {
  const std::pair<QPushButton*, TqnMainButton> buttons[] = {
      {btnEdit_, TqnMainButton::Properties}, {btnBackup_, TqnMainButton::Backup}, {btnRestore_, TqnMainButton::Restore},
      {btnCreate_, TqnMainButton::Create},   {btnRemove_, TqnMainButton::Remove}, {btnExit_, TqnMainButton::Exit}};
  for (const auto& [b, which] : buttons) b->setEnabled(presenter_.ButtonEnabled(which));
}

// ---- the tray and the window ----

void TfrmMainQNDBMGR::AddTrayIcon(const std::string& tip) {
  presenter_.TrayIconAdded(tip);
  ShowBackupAlarm();
  tray_->show();
}

void TfrmMainQNDBMGR::ShowBackupAlarm() {
  // A failed or stale entry shows in the tray: a warning icon, and the tip
  // names the entry.
  tray_->setIcon(presenter_.TrayAlarm() ? style()->standardIcon(QStyle::SP_MessageBoxWarning) : ApplicationIcon());
  tray_->setToolTip(ToQString(presenter_.TrayTip()));
}

void TfrmMainQNDBMGR::RemoveTrayIcon() { tray_->hide(); }

void TfrmMainQNDBMGR::SetTitle(const std::string& title) { setWindowTitle(ToQString(title)); }

QWidget* TfrmMainQNDBMGR::ActiveForm() {
  QWidget* modal = QApplication::activeModalWidget();
  QWidget* active = QApplication::activeWindow();
  switch (P::ShowTarget(modal != nullptr, active != nullptr && active != this)) {
    case TqnWindowTarget::OpenDialog: return modal;
    case TqnWindowTarget::ActiveWindow: return active;
    case TqnWindowTarget::MainWindow: break;
  }
  return this;
}

void TfrmMainQNDBMGR::ShowMainWindow(bool toggle) {
  QWidget* target = ActiveForm();
  const TqnWindowTarget role = target == this ? TqnWindowTarget::MainWindow : TqnWindowTarget::ActiveWindow;
  if (P::ShowHides(toggle, role, isVisible())) {
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
  if (!screen()) return;
  QRect area = screen()->geometry();
  std::optional<TqnWindowGeometry> g = presenter_.WindowActivated(area.width(), area.height());
  if (!g) return;
  if (g->maximized) {
    setWindowState(windowState() | Qt::WindowMaximized);
    return;
  }
  setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
  QSize frameExtra = frameGeometry().size() - geometry().size();
  const TqnClientBounds client = P::ClientBounds(*g, frameExtra.width(), frameExtra.height());
  move(client.left, client.top);
  resize(client.width, client.height);
}

bool TfrmMainQNDBMGR::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) LoadWindowState();
  return QWidget::event(event);
}

void TfrmMainQNDBMGR::showEvent(QShowEvent* event) {
  presenter_.WindowShown(!event->spontaneous());
  QWidget::showEvent(event);
  QSize frameExtra = frameGeometry().size() - geometry().size();
  const auto [width, height] = P::MinimumClientSize(frameExtra.width(), frameExtra.height());
  setMinimumSize(width, height);
}

void TfrmMainQNDBMGR::closeEvent(QCloseEvent* event) {
  if (presenter_.CloseHides()) {
    event->ignore();
    HideToTray();
    return;
  }
  QWidget::closeEvent(event);
}

}  // namespace qn
