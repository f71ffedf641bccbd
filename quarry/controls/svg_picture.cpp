#include "quarry/controls/svg_picture.h"

#include <QPainter>
#include <QSvgRenderer>

namespace quarry {

CSvgPicture::CSvgPicture(const QString& path, QSize size, QWidget* parent)
    : QWidget(parent), renderer_(new QSvgRenderer(path, this)) {
  setFixedSize(size);
  setAttribute(Qt::WA_TranslucentBackground, true);
}

bool CSvgPicture::isValid() const { return renderer_->isValid(); }

void CSvgPicture::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing, true);
  renderer_->render(&painter, QRectF(rect()));
}

}  // namespace quarry
