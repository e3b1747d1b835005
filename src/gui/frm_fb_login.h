// TfrmFBLogin: asks for the Firebird user name and password when an
// operation needs them. An empty user name is offered as "SYSDBA" and an
// empty password as the standard one.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;

namespace qn {

class TfrmFBLogin : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmFBLogin(QWidget* parent = nullptr);

  // Fills the fields; empty values are replaced by the defaults.
  void SetCredentials(std::string user, std::string password);
  std::string User() const;
  std::string Password() const;

  // Runs the dialog modally; on "ОК" user and password take the typed
  // values. Pending events are processed after the dialog has closed.
  static bool Ask(QWidget* parent, std::string& user, std::string& password);

 private:
  QLineEdit* edtUser_;
  QLineEdit* edtPwd_;
  QPushButton* btnOk_;
  QPushButton* btnCancel_;
};

}  // namespace qn
