#include "quarry/controls/busy_spinner.h"

#include <QPainter>
#include <QTimer>

namespace quarry {

namespace {
constexpr int kDots = 12;
}

CBusySpinner::CBusySpinner(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  timer_->setInterval(90);
  connect(timer_, &QTimer::timeout, this, [this] {
    step_ = (step_ + 1) % kDots;
    update();
  });
}

void CBusySpinner::Start() { timer_->start(); }
void CBusySpinner::Stop() {
  timer_->stop();
  update();
}
bool CBusySpinner::Turning() const { return timer_->isActive(); }

void CBusySpinner::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  const qreal side = qMin(width(), height());
  const qreal dot = side / 9.0;
  painter.translate(width() / 2.0, height() / 2.0);
  for (int i = 0; i < kDots; ++i) {
    // The dot at the head is the darkest; the tail fades (all pale while stopped).
    const int age = (step_ - i + kDots) % kDots;
    QColor colour(0x2f, 0x7c, 0xc4);
    colour.setAlphaF(Turning() ? 1.0 - age / static_cast<qreal>(kDots + 2) : 0.25);
    painter.setBrush(colour);
    painter.save();
    painter.rotate(360.0 * i / kDots);
    painter.drawEllipse(QPointF(0, -side / 2.0 + dot), dot / 1.4, dot / 1.4);
    painter.restore();
  }
}

}  // namespace quarry
