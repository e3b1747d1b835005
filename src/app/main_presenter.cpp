#include "app/main_presenter.h"

namespace qn {

// ---- what the window draws ----

std::string TqnMainPresenter::Title() const {
  if (core_ && !core_->Title().empty()) return core_->Title();
  return TqnApplication::Caption();
}

const std::vector<TqnColumn>& TqnMainPresenter::Columns() {
  static const std::vector<TqnColumn> columns = {
      {TqnText::ColumnAddress, 32}, {TqnText::ColumnPath, 26}, {TqnText::ColumnLastBackup, 42}};
  return columns;
}

const std::vector<TqnListRow>& TqnMainPresenter::Rows() const {
  static const std::vector<TqnListRow> none;
  return core_ ? core_->Rows() : none;
}

int TqnMainPresenter::SelectedRow() const { return core_ ? core_->SelectedRow() : -1; }

bool TqnMainPresenter::ButtonEnabled(TqnMainButton button) const {
  switch (button) {
    case TqnMainButton::Properties:
    case TqnMainButton::Backup:
    case TqnMainButton::Restore:
    case TqnMainButton::Remove: return core_ && core_->EntryButtonsEnabled();
    case TqnMainButton::Create: return !core_ || core_->CreateButtonEnabled();
    case TqnMainButton::Exit:
    case TqnMainButton::Test:
    case TqnMainButton::Check: return true;
  }
  return false;
}

bool TqnMainPresenter::ButtonVisible(TqnMainButton button) {
  return button != TqnMainButton::Test && button != TqnMainButton::Check;
}

TqnText TqnMainPresenter::ButtonText(TqnMainButton button) {
  switch (button) {
    case TqnMainButton::Properties: return TqnText::ButtonProperties;
    case TqnMainButton::Backup: return TqnText::ButtonBackup;
    case TqnMainButton::Restore: return TqnText::ButtonRestore;
    case TqnMainButton::Create: return TqnText::ButtonCreate;
    case TqnMainButton::Remove: return TqnText::ButtonRemove;
    case TqnMainButton::Exit: return TqnText::ButtonExit;
    case TqnMainButton::Test: return TqnText::ButtonTest;
    case TqnMainButton::Check: return TqnText::ButtonCheck;
  }
  return TqnText::ButtonExit;
}

bool TqnMainPresenter::Busy() const { return core_ && core_->Busy(); }

std::string TqnMainPresenter::TrayTip() const {
  const std::string alarm = core_ ? core_->BackupAlarm() : std::string();
  const std::string tip = alarm.empty() ? trayTip_ : trayTip_ + "\n" + alarm;
  return tip.substr(0, kMaxTipLength);
}

bool TqnMainPresenter::TrayAlarm() const { return core_ && !core_->BackupAlarm().empty(); }

// ---- what the window forwards ----

void TqnMainPresenter::Click(TqnMainButton button) {
  if (!core_ || !ButtonEnabled(button)) return;
  TqnApplication& core = *core_;
  core.Guarded([&core, button] {
    switch (button) {
      case TqnMainButton::Properties: core.EditSelected(); break;
      case TqnMainButton::Backup: core.BackupSelected(); break;
      case TqnMainButton::Restore: core.RestoreSelected(); break;
      case TqnMainButton::Create: core.CreateClicked(); break;
      case TqnMainButton::Remove: core.RemoveSelected(); break;
      case TqnMainButton::Exit: core.ExitClicked(); break;
      case TqnMainButton::Test: break;  // has no work
      case TqnMainButton::Check: core.BackupCheckNow(); break;
    }
  });
}

void TqnMainPresenter::SelectRow(int row) {
  if (core_) core_->SelectRow(row);
}

bool TqnMainPresenter::TrayEvent(TqnTrayEvent event) {
  switch (event) {
    case TqnTrayEvent::PrimaryUp: window_.ShowMainWindow(true); break;
    case TqnTrayEvent::SecondaryUp: return true;
    case TqnTrayEvent::MiddleDoubleClick:
    case TqnTrayEvent::MenuOpen: window_.ShowMainWindow(false); break;
    case TqnTrayEvent::MenuExit:
      if (core_) core_->Guarded([this] { core_->ExitProgram(); });
      break;
  }
  return false;
}

void TqnMainPresenter::TrayMiddleClick(long long nowMs, int doubleClickMs) {
  if (lastMiddleClick_ && nowMs - *lastMiddleClick_ <= doubleClickMs) {
    lastMiddleClick_.reset();
    TrayEvent(TqnTrayEvent::MiddleDoubleClick);
    return;
  }
  lastMiddleClick_ = nowMs;
}

void TqnMainPresenter::SessionEnding() {
  if (core_) core_->ExitProgram();
}

// ---- what the window asks ----

bool TqnMainPresenter::CloseHides() const { return core_ && !core_->Exiting(); }

TqnHideWay TqnMainPresenter::HideWay(bool trayAvailable) const {
  // A start-up that failed before the icon was added leaves no icon either.
  return trayAvailable && (!core_ || core_->TrayIconAdded()) ? TqnHideWay::Hide : TqnHideWay::Minimise;
}

TqnWindowTarget TqnMainPresenter::ShowTarget(bool dialogOpen, bool otherWindowActive) {
  if (dialogOpen) return TqnWindowTarget::OpenDialog;
  if (otherWindowActive) return TqnWindowTarget::ActiveWindow;
  return TqnWindowTarget::MainWindow;
}

bool TqnMainPresenter::ShowHides(bool toggle, TqnWindowTarget target, bool mainVisible) {
  return toggle && target == TqnWindowTarget::MainWindow && mainVisible;
}

void TqnMainPresenter::WindowShown(bool byProgram) {
  if (byProgram) geometryPending_ = true;
}

std::optional<TqnWindowGeometry> TqnMainPresenter::WindowActivated(int screenWidth, int screenHeight) {
  // Not on every return from another application, which would undo a move
  // or a resize.
  if (!core_ || !geometryPending_) return std::nullopt;
  geometryPending_ = false;
  return core_->WindowActivated(screenWidth, screenHeight);
}

TqnClientBounds TqnMainPresenter::ClientBounds(const TqnWindowGeometry& frame, int frameExtraWidth,
                                               int frameExtraHeight) {
  return {frame.left, frame.top, frame.right - frame.left - frameExtraWidth,
          frame.bottom - frame.top - frameExtraHeight};
}

std::pair<int, int> TqnMainPresenter::MinimumClientSize(int frameExtraWidth, int frameExtraHeight) {
  return {kMinWidth - frameExtraWidth, kMinHeight - frameExtraHeight};
}

}  // namespace qn
