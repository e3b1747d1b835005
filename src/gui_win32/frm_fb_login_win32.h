// TfrmFBLoginWin: the login dialog in Win32 controls ("Ввод пароля"): the
// prompt, "Имя" and "Пароль" (shown as "*"), "ОК" (default) and "Отмена".
#pragma once

#include <string>

#include "gui_win32/win_controls.h"

namespace qn {

class TfrmFBLoginWin : public TqnWinDialog {
 public:
  TfrmFBLoginWin(std::string user, std::string password);

  // Runs the dialog; an empty user or password shows the default one. On
  // "ОК" the outputs take the typed values. Pending window messages are
  // processed before it returns.
  static bool Ask(HWND owner, std::string& user, std::string& password);

 protected:
  void OnInit() override;
  bool OnCommand(int, int) override { return false; }
  bool CanConfirm() override;

 private:
  std::string user_;
  std::string password_;
};

}  // namespace qn
