#include "gui/infinity.h"

#include <QPainter>
#include <QTimer>

namespace qn {

namespace {
constexpr int kSteps = 40;
constexpr int kFrameMs = 40;
}  // namespace

TqnInfinity::TqnInfinity(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
  timer_->setInterval(kFrameMs);
  connect(timer_, &QTimer::timeout, this, &TqnInfinity::Advance);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

bool TqnInfinity::Animating() const { return timer_->isActive(); }

QSize TqnInfinity::sizeHint() const { return QSize(200, 14); }

void TqnInfinity::Advance() {
  phase_ = (phase_ + 1) % (2 * kSteps);
  update();
}

void TqnInfinity::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  timer_->start();
}

void TqnInfinity::hideEvent(QHideEvent* event) {
  timer_->stop();
  QWidget::hideEvent(event);
}

void TqnInfinity::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF groove = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  p.setPen(palette().color(QPalette::Mid));
  p.setBrush(palette().color(QPalette::Base));
  p.drawRoundedRect(groove, 3, 3);
  const qreal blockW = groove.width() / 4;
  const int step = phase_ < kSteps ? phase_ : 2 * kSteps - phase_;
  const qreal x = groove.left() + (groove.width() - blockW) * step / kSteps;
  QRectF block(x, groove.top() + 2, blockW, groove.height() - 4);
  QLinearGradient g(block.topLeft(), block.topRight());
  QColor c = palette().color(QPalette::Highlight);
  g.setColorAt(0, QColor(c.red(), c.green(), c.blue(), 40));
  g.setColorAt(0.5, c);
  g.setColorAt(1, QColor(c.red(), c.green(), c.blue(), 40));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(block, 2, 2);
}

}  // namespace qn
