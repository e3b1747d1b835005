#include "gui/num_edit.h"

#include <QKeyEvent>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace qn {

// ---- TqnNumEdit ----

TqnNumEdit::TqnNumEdit(QWidget* parent) : QLineEdit(parent) {
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  SetMaxDigits(9);
}

void TqnNumEdit::SetMaxDigits(int digits) {
  setMaxLength(digits);
  setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(digits)), this));
}

void TqnNumEdit::SetValue(int value) { setText(QString::number(value)); }

bool TqnNumEdit::HasValue() const {
  bool ok = false;
  text().toInt(&ok);
  return ok;
}

int TqnNumEdit::Value() const { return text().toInt(); }

// ---- TqnUpDown ----

namespace {

QToolButton* ArrowButton(Qt::ArrowType arrow, const QString& name, QWidget* parent) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setArrowType(arrow);
  b->setAutoRepeat(true);
  b->setFocusPolicy(Qt::NoFocus);
  b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
  b->setFixedWidth(16);
  return b;
}

}  // namespace

TqnUpDown::TqnUpDown(QWidget* parent) : QWidget(parent) {
  up_ = ArrowButton(Qt::UpArrow, QStringLiteral("btnUp"), this);
  down_ = ArrowButton(Qt::DownArrow, QStringLiteral("btnDown"), this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(up_);
  layout->addWidget(down_);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  connect(up_, &QToolButton::clicked, this, [this] { StepBy(1); });
  connect(down_, &QToolButton::clicked, this, [this] { StepBy(-1); });
}

void TqnUpDown::SetLimits(int min, int max, int step) {
  min_ = min;
  max_ = std::max(min, max);
  step_ = std::max(1, step);
  if (edit_) edit_->SetMaxDigits(static_cast<int>(QString::number(max_).size()));
  SetPosition(position_);
}

void TqnUpDown::Associate(TqnNumEdit* edit) {
  if (edit_) {
    edit_->removeEventFilter(this);
    disconnect(edit_, nullptr, this, nullptr);
  }
  edit_ = edit;
  if (!edit_) return;
  edit_->SetMaxDigits(static_cast<int>(QString::number(max_).size()));
  edit_->installEventFilter(this);
  connect(edit_, &QLineEdit::textEdited, this, &TqnUpDown::TakeFromEdit);
  connect(edit_, &QLineEdit::editingFinished, this, &TqnUpDown::ShowInEdit);
  ShowInEdit();
}

void TqnUpDown::SetPosition(int position) {
  int held = std::clamp(position, min_, max_);
  bool changed = held != position_;
  position_ = held;
  ShowInEdit();
  up_->setEnabled(position_ < max_);
  down_->setEnabled(position_ > min_);
  if (changed) emit positionChanged(position_);
}

void TqnUpDown::StepBy(int steps) {
  // In 64 bits, so that a large step near a limit cannot overflow.
  long long target = static_cast<long long>(position_) + static_cast<long long>(steps) * step_;
  SetPosition(static_cast<int>(std::clamp<long long>(target, min_, max_)));
}

void TqnUpDown::ShowInEdit() {
  if (edit_ && edit_->text() != QString::number(position_)) edit_->SetValue(position_);
}

// While the user types, the text stays as typed; the position follows it,
// held at the limits, and the text is tidied when editing ends.
void TqnUpDown::TakeFromEdit() {
  if (!edit_ || !edit_->HasValue()) return;
  int held = std::clamp(edit_->Value(), min_, max_);
  if (held == position_) return;
  position_ = held;
  up_->setEnabled(position_ < max_);
  down_->setEnabled(position_ > min_);
  emit positionChanged(position_);
}

bool TqnUpDown::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
      StepBy(key->key() == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace qn
