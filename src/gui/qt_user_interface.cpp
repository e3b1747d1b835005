#include "gui/qt_user_interface.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QAbstractButton>

#include <algorithm>
#include <utility>

#include "app/window_texts.h"
#include "gui/frm_data.h"
#include "gui/frm_fb_login.h"
#include "gui/frm_main.h"
#include "gui/qt_text.h"

namespace qn {

QMessageBox::Icon MessageIcon(TqnMessageKind kind) {
  switch (kind) {
    case TqnMessageKind::Warning: return QMessageBox::Warning;
    case TqnMessageKind::Error: return QMessageBox::Critical;
    case TqnMessageKind::Information: return QMessageBox::Information;
    case TqnMessageKind::Confirmation: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QWidget* TqnQtUserInterface::DialogOwner() const { return mainWindow_.ActiveForm(); }

int TqnQtUserInterface::Message(TqnMessageKind kind, const std::string& text, QMessageBox::StandardButtons buttons) {
  // Texts of the core break lines with CR LF.
  QString body = ToQString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(MessageIcon(kind), ToQString(MessageCaption(kind)), body, buttons, DialogOwner());
  box.setObjectName(QStringLiteral("msgBox"));
  box.setTextFormat(Qt::PlainText);
  if (buttons & QMessageBox::Yes) box.setDefaultButton(QMessageBox::Yes);
  // The window is in Russian, its standard buttons too.
  const std::pair<QMessageBox::StandardButton, TqnText> kButtonTexts[] = {{QMessageBox::Yes, TqnText::AnswerYes},
                                                                          {QMessageBox::No, TqnText::AnswerNo},
                                                                          {QMessageBox::Ok, TqnText::AnswerOk}};
  for (const auto& [which, label] : kButtonTexts)
    if (QAbstractButton* b = box.button(which)) b->setText(ToQString(UiText(label)));
  return box.exec();
}

void TqnQtUserInterface::ShowMessage(TqnMessageKind kind, const std::string& text) {
  Message(kind, text, QMessageBox::Ok);
}

bool TqnQtUserInterface::AskYesNo(TqnMessageKind kind, const std::string& text) {
  return Message(kind, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool TqnQtUserInterface::EditEntry(TqnEntryForm& form, const TqnEntryFormActions& actions) {
  return TfrmData::Edit(DialogOwner(), form, actions);
}

std::optional<int> TqnQtUserInterface::PickItem(const std::string& caption, const std::string& prompt,
                                                const std::vector<std::string>& items) {
  QInputDialog dialog(DialogOwner());
  dialog.setObjectName(QStringLiteral("dlgPick"));
  dialog.setWindowTitle(ToQString(caption));
  dialog.setLabelText(ToQString(prompt));
  QStringList lines;
  for (const std::string& item : items) lines << ToQString(item);
  dialog.setComboBoxItems(lines);
  dialog.setComboBoxEditable(false);
  dialog.setOkButtonText(ToQString(UiText(TqnText::AnswerOk)));
  dialog.setCancelButtonText(ToQString(UiText(TqnText::AnswerCancel)));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const int index = lines.indexOf(dialog.textValue());
  if (index < 0) return std::nullopt;
  return index;
}

bool TqnQtUserInterface::AskLogin(std::string& user, std::string& password) {
  return TfrmFBLogin::Ask(DialogOwner(), user, password);
}

std::optional<std::string> TqnQtUserInterface::PickFile(const TqnFileDialog& d, bool save) {
  QFileDialog dialog(DialogOwner(), ToQString(d.title), ToQString(d.folder));
  dialog.setObjectName(QStringLiteral("dlgFile"));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // As the system's open dialog, a name may be typed that does not exist yet.
  dialog.setFileMode(QFileDialog::AnyFile);
  QStringList filters = QtNameFilters(d.filter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (!d.defaultExtension.empty()) dialog.setDefaultSuffix(ToQString(d.defaultExtension));
  if (!d.fileName.empty()) dialog.selectFile(ToQString(d.fileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  if (d.chosenFilter) *d.chosenFilter = std::max(0, static_cast<int>(filters.indexOf(dialog.selectedNameFilter())));
  return FromQString(QDir::toNativeSeparators(dialog.selectedFiles().first()));
}

std::optional<std::string> TqnQtUserInterface::PickOpenFile(const TqnFileDialog& dialog) {
  return PickFile(dialog, false);
}

std::optional<std::string> TqnQtUserInterface::PickSaveFile(const TqnFileDialog& dialog) {
  return PickFile(dialog, true);
}

std::optional<std::string> TqnQtUserInterface::PickFolder(const std::string& caption, const std::string& folder) {
  QString chosen = QFileDialog::getExistingDirectory(DialogOwner(), ToQString(caption), ToQString(folder));
  if (chosen.isEmpty()) return std::nullopt;
  return FromQString(QDir::toNativeSeparators(chosen));
}

void TqnQtUserInterface::SetBusy(bool busy) { mainWindow_.SetBusy(busy); }

void TqnQtUserInterface::ProcessEvents() { QCoreApplication::processEvents(); }

}  // namespace qn
