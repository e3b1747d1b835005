// TfrmDataWin: the database properties dialog in Win32 controls. It only
// shows and edits a TqnEntryForm, as the Qt dialog does: pages
// "Соединение", "Архивация", "Копии" and "Дополнительно", the creation box (shown in
// creation mode), "ОК" (default) and "Отмена". The path and backup folder
// buttons ask the core through TqnEntryFormActions.
#pragma once

#include <vector>

#include "app/user_interface.h"
#include "gui_win32/win_controls.h"
#include "settings/entry_form.h"

namespace qn {

class TfrmDataWin : public TqnWinDialog {
 public:
  TfrmDataWin(const TqnEntryForm& form, TqnEntryFormActions actions);

  // Runs the dialog modally; on "ОК" the form takes the shown values.
  static bool Edit(HWND owner, TqnEntryForm& form, const TqnEntryFormActions& actions);

  // The form given with the values now shown (while the dialog is open).
  TqnEntryForm Form() const;

 protected:
  void OnInit() override;
  bool OnCommand(int id, int code) override;
  bool OnNotify(const NMHDR& header) override;
  // Refused while the backup time is only partly typed (the field then
  // takes the focus), so that it is never stored as another time.
  bool CanConfirm() override;
  void OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void BuildConnectionPage();
  void BuildBackupPage();
  void BuildCopiesPage();
  void BuildMorePage();
  // A numeric edit with its up-down control to its right.
  void AddNumber(int editId, int spinId, int x, int y, const TqnSpinLimits& limits, int value);
  int Number(int editId, const TqnSpinLimits& limits) const;
  void ShowPage(int page);
  void EnableRest();
  void SetForm();

  TqnEntryForm form_;
  TqnEntryFormActions actions_;
  TqnEntryForm result_;
  static constexpr int kPages = 4;
  HWND pages_[kPages] = {};
};

}  // namespace qn
