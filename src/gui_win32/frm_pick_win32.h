// TfrmPickWin: one line picked of a list, the first one proposed: a
// prompt, the list, "ОК" (default; a double click too) and "Отмена".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "gui_win32/win_controls.h"

namespace qn {

class TfrmPickWin : public TqnWinDialog {
 public:
  TfrmPickWin(const std::string& caption, std::string prompt, std::vector<std::string> items);

  // The index of the line picked, or nothing when cancelled.
  static std::optional<int> Pick(HWND owner, const std::string& caption, const std::string& prompt,
                                 const std::vector<std::string>& items);

 protected:
  void OnInit() override;
  bool OnCommand(int id, int code) override;
  bool CanConfirm() override;

 private:
  std::string prompt_;
  std::vector<std::string> items_;
  int picked_ = -1;
};

}  // namespace qn
