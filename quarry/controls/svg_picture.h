// A fixed-size picture drawn from one of our SVG files at any screen scale.
#pragma once

#include <QWidget>

class QSvgRenderer;

namespace quarry {

class CSvgPicture : public QWidget {
  Q_OBJECT

 public:
  CSvgPicture(const QString& path, QSize size, QWidget* parent = nullptr);
  bool isValid() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QSvgRenderer* renderer_;
};

}  // namespace quarry
