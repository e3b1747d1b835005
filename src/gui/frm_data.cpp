#include "gui/frm_data.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/dialog_rules.h"
#include "app/window_texts.h"
#include "gui/button_edit.h"
#include "gui/num_edit.h"
#include "gui/qt_text.h"

namespace qn {

TfrmData::TfrmData(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmData"));
  setWindowTitle(ToQString(UiText(TqnText::DataCaption)));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  auto* layout = new QVBoxLayout(this);
  // A dialog border: the size follows the content and cannot be dragged.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  pages_ = new QTabWidget;
  pages_->setObjectName(QStringLiteral("pgcData"));
  pages_->addTab(BuildConnectionPage(), ToQString(UiText(TqnText::PageConnection)));
  pages_->addTab(BuildBackupPage(), ToQString(UiText(TqnText::PageBackup)));
  pages_->addTab(BuildCopiesPage(), ToQString(UiText(TqnText::PageCopies)));
  pages_->addTab(BuildMorePage(), ToQString(UiText(TqnText::PageMore)));
  layout->addWidget(pages_);
  BuildBottomRow();
  const QMargins m = layout->contentsMargins();
  // The designed client area; the layout may ask for more with larger fonts.
  pages_->setMinimumSize(kDataClientWidth - m.left() - m.right(),
                         kDataClientHeight - m.top() - m.bottom() - btnOk_->sizeHint().height() - layout->spacing());
  pages_->setCurrentIndex(0);
}

void TfrmData::SetForm(const TqnEntryForm& form) {
  form_ = form;
  edtConnAddr_->setText(ToQString(form.connAddress));
  edtPath_->setText(ToQString(form.path));
  edtCaption_->setText(ToQString(form.caption));
  chkAutoBackup_->setChecked(form.autoBackup);
  edtBackupPath_->setText(ToQString(form.backupPath));
  for (int i = 0; i < 7; ++i) chkDay_[i]->setChecked(form.weekdays[i]);
  edtBackupTime_->setText(ToQString(form.timeText));
  spnNum_->SetPosition(form.num);
  spnInterval_->SetPosition(form.interval);
  spnRest_->SetPosition(form.rest);
  chkPrune_->setChecked(form.prune);
  keepDaily_.upDown->SetPosition(form.keepDaily);
  keepWeekly_.upDown->SetPosition(form.keepWeekly);
  keepMonthly_.upDown->SetPosition(form.keepMonthly);
  keepRequested_.upDown->SetPosition(form.keepRequested);
  chkVerify_->setChecked(form.verifyBackup);
  lstCopies_->clear();
  for (const TqnCopyChoice& choice : form.copies) {
    auto* item = new QListWidgetItem(ToQString(choice.label), lstCopies_);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(choice.ticked ? Qt::Checked : Qt::Unchecked);
  }
  lstCopies_->setVisible(!form.copies.empty());
  lblNoDestinations_->setVisible(form.copies.empty());
  edtUser_->setText(ToQString(form.user));
  edtPwd_->setText(ToQString(form.password));
  chkSendPwd_->setChecked(form.sendPassword);
  edtName_->setText(ToQString(form.identifier));
  chkCreate_->setVisible(CreateBoxShown(form));
  chkCreate_->setChecked(CreateBoxTicked(form));
}

TqnEntryForm TfrmData::Form() const {
  TqnEntryForm f = form_;
  f.path = FromQString(edtPath_->text());
  f.caption = FromQString(edtCaption_->text());
  f.autoBackup = chkAutoBackup_->isChecked();
  f.backupPath = FromQString(edtBackupPath_->text());
  for (int i = 0; i < 7; ++i) f.weekdays[i] = chkDay_[i]->isChecked();
  f.timeText = ShownTime();
  f.num = spnNum_->Position();
  f.interval = spnInterval_->Position();
  f.rest = spnRest_->Position();
  f.prune = chkPrune_->isChecked();
  f.keepDaily = keepDaily_.upDown->Position();
  f.keepWeekly = keepWeekly_.upDown->Position();
  f.keepMonthly = keepMonthly_.upDown->Position();
  f.keepRequested = keepRequested_.upDown->Position();
  f.verifyBackup = chkVerify_->isChecked();
  for (size_t i = 0; i < f.copies.size(); ++i)
    f.copies[i].ticked = lstCopies_->item(static_cast<int>(i))->checkState() == Qt::Checked;
  f.user = FromQString(edtUser_->text());
  f.password = FromQString(edtPwd_->text());
  f.sendPassword = chkSendPwd_->isChecked();
  TakeCreateBox(f, chkCreate_->isChecked());
  return f;
}

bool TfrmData::Edit(QWidget* parent, TqnEntryForm& form, const TqnEntryFormActions& actions) {
  TfrmData dialog(parent);
  dialog.SetForm(form);
  dialog.SetActions(actions);
  if (dialog.exec() != QDialog::Accepted) return false;
  form = dialog.Form();
  return true;
}

std::string TfrmData::ShownTime() const {
  // The time as its five places, an unfilled one as a blank.
  return FromQString(edtBackupTime_->displayText().replace(QLatin1Char('_'), QLatin1Char(' ')));
}

void TfrmData::accept() {
  if (!BackupTimeComplete(ShownTime())) {
    pages_->setCurrentIndex(kBackupPageIndex);
    edtBackupTime_->setFocus();
    return;
  }
  QDialog::accept();
}

// Entering the address field selects all of it. The selection is posted so
// that it comes after the focus change and the click that caused it, which
// would otherwise place the cursor and drop the selection.
bool TfrmData::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edtConnAddr_ && event->type() == QEvent::FocusIn)
    QTimer::singleShot(0, edtConnAddr_, [edit = edtConnAddr_] { edit->selectAll(); });
  return QDialog::eventFilter(watched, event);
}

void TfrmData::edtPathButtonClick() {
  if (!actions_.choosePath) return;
  if (auto path = actions_.choosePath(FromQString(edtPath_->text()))) edtPath_->setText(ToQString(*path));
}

void TfrmData::edtBackupPathButtonClick() {
  if (!actions_.chooseBackupFolder) return;
  if (auto folder = actions_.chooseBackupFolder(FromQString(edtBackupPath_->text())))
    edtBackupPath_->setText(ToQString(*folder));
}

void TfrmData::btnFBDefaultClick() {
  TqnEntryForm f = Form();
  SetDefaultCredentials(f);
  edtUser_->setText(ToQString(f.user));
  edtPwd_->setText(ToQString(f.password));
  chkSendPwd_->setChecked(f.sendPassword);
}

}  // namespace qn
