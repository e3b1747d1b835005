// TfrmData: the database properties dialog. It only shows and edits a
// TqnEntryForm; the core reads the form from the entry and stores it back.
//
// Pages "Соединение", "Архивация", "Копии" and "Дополнительно", and a bottom row
// with the creation box (shown only in creation mode), "ОК" (the default
// button) and "Отмена". Every control carries its name as objectName. The
// path and backup folder buttons ask the core through TqnEntryFormActions
// and put an answer into the field; without an answer the field stays.
#pragma once

#include <QDialog>

#include "app/user_interface.h"
#include "settings/entry_form.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace qn {

class TqnButtonEdit;
class TqnNumEdit;
class TqnUpDown;

class TfrmData : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmData(QWidget* parent = nullptr);

  // Fills the controls from the form.
  void SetForm(const TqnEntryForm& form);
  // The form given to SetForm with the values now shown.
  TqnEntryForm Form() const;
  void SetActions(TqnEntryFormActions actions) { actions_ = std::move(actions); }

  // Runs the dialog modally; on "ОК" the form takes the shown values.
  static bool Edit(QWidget* parent, TqnEntryForm& form, const TqnEntryFormActions& actions);

  // "ОК": refused while the backup time is only partly typed (the field
  // then takes the focus), so that it is never stored as another time.
  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Built by frm_data_pages.cpp.
  QWidget* BuildConnectionPage();
  QWidget* BuildBackupPage();
  QWidget* BuildCopiesPage();
  QWidget* BuildMorePage();
  void BuildBottomRow();

  // The backup time field's five places, an unfilled one as a blank.
  std::string ShownTime() const;
  void edtPathButtonClick();
  void edtBackupPathButtonClick();
  void btnFBDefaultClick();

  TqnEntryForm form_;
  TqnEntryFormActions actions_;

  QTabWidget* pages_ = nullptr;
  // "Соединение"
  QLineEdit* edtConnAddr_ = nullptr;
  TqnButtonEdit* edtPath_ = nullptr;
  QLineEdit* edtCaption_ = nullptr;
  // "Архивация"
  QCheckBox* chkAutoBackup_ = nullptr;
  TqnButtonEdit* edtBackupPath_ = nullptr;
  QCheckBox* chkDay_[7] = {};
  QLineEdit* edtBackupTime_ = nullptr;
  TqnNumEdit* edtBackupNum_ = nullptr;
  TqnUpDown* spnNum_ = nullptr;
  TqnNumEdit* edtBackupInterval_ = nullptr;
  TqnUpDown* spnInterval_ = nullptr;
  TqnNumEdit* edtBackupRest_ = nullptr;
  TqnUpDown* spnRest_ = nullptr;
  QCheckBox* chkPrune_ = nullptr;
  // The generations kept beside the count, and the workstations' allowance.
  struct Keep {
    TqnNumEdit* edit = nullptr;
    TqnUpDown* upDown = nullptr;
  } keepDaily_, keepWeekly_, keepMonthly_, keepRequested_;
  QCheckBox* chkVerify_ = nullptr;
  // "Копии": a box per destination, or the line that tells where they are described
  QListWidget* lstCopies_ = nullptr;
  QLabel* lblNoDestinations_ = nullptr;
  // "Дополнительно"
  QLineEdit* edtUser_ = nullptr;
  QLineEdit* edtPwd_ = nullptr;
  QCheckBox* chkSendPwd_ = nullptr;
  QPushButton* btnFBDefault_ = nullptr;
  QLineEdit* edtName_ = nullptr;
  // bottom row
  QCheckBox* chkCreate_ = nullptr;
  QPushButton* btnOk_ = nullptr;
  QPushButton* btnCancel_ = nullptr;
};

}  // namespace qn
