// The layout of the properties dialog: its four pages and the bottom row.
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <initializer_list>

#include "app/dialog_rules.h"
#include "app/window_texts.h"
#include "gui/button_edit.h"
#include "gui/frm_data.h"
#include "gui/num_edit.h"
#include "gui/password_edit.h"
#include "gui/qt_text.h"

namespace qn {

namespace {

template <class W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

QString Text(TqnText text) { return ToQString(UiText(text)); }

QLabel* Label(TqnText text, const char* name, QWidget* buddy) {
  auto* label = Named(new QLabel(Text(text)), name);
  label->setBuddy(buddy);
  return label;
}

// A numeric edit with its up-down beside it.
QHBoxLayout* NumberPair(TqnNumEdit* edit, TqnUpDown* upDown, const TqnSpinLimits& limits) {
  upDown->SetLimits(limits.min, limits.max, limits.step);
  upDown->Associate(edit);
  edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 8);
  auto* pair = new QHBoxLayout;
  pair->setSpacing(0);
  pair->addWidget(edit);
  pair->addWidget(upDown);
  return pair;
}

}  // namespace

QWidget* TfrmData::BuildConnectionPage() {
  auto* page = Named(new QWidget, "shtConnection");
  edtConnAddr_ = Named(new QLineEdit, "edtConnAddr");
  edtConnAddr_->setReadOnly(true);
  edtConnAddr_->installEventFilter(this);
  edtPath_ = Named(new TqnButtonEdit, "edtPath");
  edtPath_->SetOnButtonClick([this] { edtPathButtonClick(); });
  edtCaption_ = Named(new QLineEdit, "edtCaption");

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(Label(TqnText::LabelConnAddress, "lblConnAddr", edtConnAddr_));
  layout->addWidget(edtConnAddr_);
  layout->addWidget(Label(TqnText::LabelPath, "lblPath", edtPath_));
  layout->addWidget(edtPath_);
  layout->addWidget(Label(TqnText::LabelCaption, "lblCaption", edtCaption_));
  layout->addWidget(edtCaption_);
  layout->addStretch();
  return page;
}

QWidget* TfrmData::BuildBackupPage() {
  auto* page = Named(new QWidget, "shtBackup");
  chkAutoBackup_ = Named(new QCheckBox(Text(TqnText::CheckAutoBackup)), "chkAutoBackup");
  edtBackupPath_ = Named(new TqnButtonEdit, "edtBackupPath");
  edtBackupPath_->SetOnButtonClick([this] { edtBackupPathButtonClick(); });

  static const char* const kDayNames[7] = {"chkDay0", "chkDay1", "chkDay2", "chkDay3", "chkDay4", "chkDay5", "chkDay6"};
  auto* days = new QGridLayout;
  days->setContentsMargins(0, 0, 0, 0);
  for (int i = 0; i < 7; ++i) {
    chkDay_[i] = Named(new QCheckBox(ToQString(DayText(i))), kDayNames[i]);
    days->addWidget(chkDay_[i], i / 4, i % 4);
  }

  edtBackupTime_ = Named(new QLineEdit, "edtBackupTime");
  // An optional first digit (a blank reads as nothing), ":", then three
  // required digits; unfilled places show as "_".
  edtBackupTime_->setInputMask(QStringLiteral("09:99;_"));
  edtBackupTime_->setFixedWidth(edtBackupTime_->fontMetrics().horizontalAdvance(QStringLiteral("00:000")) + 10);

  edtBackupNum_ = Named(new TqnNumEdit, "edtBackupNum");
  spnNum_ = Named(new TqnUpDown, "spnNum");
  edtBackupInterval_ = Named(new TqnNumEdit, "edtBackupInterval");
  spnInterval_ = Named(new TqnUpDown, "spnInterval");
  edtBackupRest_ = Named(new TqnNumEdit, "edtBackupRest");
  spnRest_ = Named(new TqnUpDown, "spnRest");

  auto* timeRow = new QHBoxLayout;
  timeRow->addWidget(Label(TqnText::LabelBackupTime, "lblBackupTime", edtBackupTime_));
  timeRow->addWidget(edtBackupTime_);
  timeRow->addStretch();

  auto* numRow = new QHBoxLayout;
  numRow->addWidget(Label(TqnText::LabelBackupNum, "lblBackupNum", edtBackupNum_));
  numRow->addLayout(NumberPair(edtBackupNum_, spnNum_, kNumLimits));
  numRow->addWidget(Label(TqnText::LabelBackupInterval, "lblBackupInterval", edtBackupInterval_));
  numRow->addLayout(NumberPair(edtBackupInterval_, spnInterval_, kIntervalLimits));
  numRow->addWidget(Named(new QLabel(Text(TqnText::LabelMinutes)), "lblMinutes"));
  numRow->addStretch();

  // The count acts only with its box ticked: older backups are then pruned.
  auto* restRow = new QHBoxLayout;
  chkPrune_ = Named(new QCheckBox(Text(TqnText::CheckPrune)), "chkPrune");
  QLabel* restTail = Named(new QLabel(Text(TqnText::LabelRestTail)), "lblBackupRestTail");
  restRow->addWidget(chkPrune_);
  restRow->addLayout(NumberPair(edtBackupRest_, spnRest_, kRestLimits));
  restRow->addWidget(restTail);
  restRow->addStretch();
  auto keepPair = [](Keep& keep, const char* edit, const char* upDown) {
    keep.edit = Named(new TqnNumEdit, edit);
    keep.upDown = Named(new TqnUpDown, upDown);
    return NumberPair(keep.edit, keep.upDown, kKeepLimits);
  };
  auto* keepRow = new QHBoxLayout;
  keepRow->addWidget(Named(new QLabel(Text(TqnText::LabelKeepAlso)), "lblKeepAlso"));
  keepRow->addLayout(keepPair(keepDaily_, "edtKeepDaily", "spnKeepDaily"));
  keepRow->addWidget(Named(new QLabel(Text(TqnText::LabelKeepDaily)), "lblKeepDaily"));
  keepRow->addLayout(keepPair(keepWeekly_, "edtKeepWeekly", "spnKeepWeekly"));
  keepRow->addWidget(Named(new QLabel(Text(TqnText::LabelKeepWeekly)), "lblKeepWeekly"));
  keepRow->addLayout(keepPair(keepMonthly_, "edtKeepMonthly", "spnKeepMonthly"));
  keepRow->addWidget(Named(new QLabel(Text(TqnText::LabelKeepMonthly)), "lblKeepMonthly"));
  keepRow->addStretch();
  auto* requestedRow = new QHBoxLayout;
  requestedRow->addWidget(Named(new QLabel(Text(TqnText::LabelKeepRequested)), "lblKeepRequested"));
  requestedRow->addLayout(keepPair(keepRequested_, "edtKeepRequested", "spnKeepRequested"));
  requestedRow->addStretch();
  auto enableRest = [this](bool pruneTicked) {
    for (QWidget* w : std::initializer_list<QWidget*>{edtBackupRest_, spnRest_, keepDaily_.edit, keepDaily_.upDown,
                                                      keepWeekly_.edit, keepWeekly_.upDown, keepMonthly_.edit,
                                                      keepMonthly_.upDown, keepRequested_.edit, keepRequested_.upDown})
      w->setEnabled(RestEditable(pruneTicked));
  };
  connect(chkPrune_, &QCheckBox::toggled, this, enableRest);
  enableRest(false);
  chkVerify_ = Named(new QCheckBox(Text(TqnText::CheckVerify)), "chkVerify");

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(chkAutoBackup_);
  layout->addWidget(Label(TqnText::LabelBackupPath, "lblBackupPath", edtBackupPath_));
  layout->addWidget(edtBackupPath_);
  layout->addWidget(Named(new QLabel(Text(TqnText::LabelDays)), "lblDays"));
  layout->addLayout(days);
  layout->addLayout(timeRow);
  layout->addLayout(numRow);
  layout->addLayout(restRow);
  layout->addLayout(keepRow);
  layout->addLayout(requestedRow);
  layout->addWidget(chkVerify_);
  layout->addStretch();
  return page;
}

QWidget* TfrmData::BuildCopiesPage() {
  auto* page = Named(new QWidget, "shtCopies");
  lstCopies_ = Named(new QListWidget, "lstCopies");
  lblNoDestinations_ = Named(new QLabel(Text(TqnText::LabelNoDestinations)), "lblNoDestinations");
  lblNoDestinations_->setWordWrap(true);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(Label(TqnText::LabelCopiesIntro, "lblCopies", lstCopies_));
  layout->addWidget(lstCopies_, 1);
  layout->addWidget(lblNoDestinations_);
  layout->addStretch();
  return page;
}

QWidget* TfrmData::BuildMorePage() {
  auto* page = Named(new QWidget, "shtMore");
  edtUser_ = Named(new QLineEdit, "edtUser");
  edtPwd_ = Named(new QLineEdit, "edtPwd");
  MakePasswordEdit(edtPwd_);
  chkSendPwd_ = Named(new QCheckBox(Text(TqnText::CheckSendPassword)), "chkSendPwd");
  btnFBDefault_ = Named(new QPushButton(Text(TqnText::ButtonDefaults)), "btnFBDefault");
  btnFBDefault_->setAutoDefault(false);
  connect(btnFBDefault_, &QPushButton::clicked, this, [this] { btnFBDefaultClick(); });
  edtName_ = Named(new QLineEdit, "edtName");
  edtName_->setReadOnly(true);

  auto* grid = new QGridLayout(page);
  grid->addWidget(Label(TqnText::LabelUser, "lblUser", edtUser_), 0, 0);
  grid->addWidget(edtUser_, 0, 1);
  grid->addWidget(Label(TqnText::LabelPassword, "lblPwd", edtPwd_), 1, 0);
  grid->addWidget(edtPwd_, 1, 1);
  grid->addWidget(chkSendPwd_, 2, 0, 1, 2);
  grid->addWidget(btnFBDefault_, 3, 0, 1, 2, Qt::AlignLeft);
  grid->addWidget(Label(TqnText::LabelIdentifier, "lblName", edtName_), 4, 0);
  grid->addWidget(edtName_, 4, 1);
  grid->setRowStretch(5, 1);
  grid->setColumnStretch(1, 1);
  return page;
}

void TfrmData::BuildBottomRow() {
  chkCreate_ = Named(new QCheckBox(Text(TqnText::CheckCreate)), "chkCreate");
  chkCreate_->hide();
  btnOk_ = Named(new QPushButton(Text(TqnText::AnswerOk)), "btnOk");
  btnOk_->setDefault(true);
  btnCancel_ = Named(new QPushButton(Text(TqnText::AnswerCancel)), "btnCancel");
  btnCancel_->setAutoDefault(false);
  connect(btnOk_, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* row = new QHBoxLayout;
  row->addWidget(chkCreate_);
  row->addStretch();
  row->addWidget(btnOk_);
  row->addWidget(btnCancel_);
  static_cast<QVBoxLayout*>(layout())->addLayout(row);
}

}  // namespace qn
