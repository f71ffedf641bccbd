// A ring of dots that turns while work goes on that has no measure of its
// own (the device writing its backup between progress reports).
#pragma once

#include <QWidget>

class QTimer;

namespace quarry {

class CBusySpinner : public QWidget {
  Q_OBJECT

 public:
  explicit CBusySpinner(QWidget* parent = nullptr);
  void Start();
  void Stop();
  bool Turning() const;
  QSize sizeHint() const override { return {56, 56}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QTimer* timer_;
  int step_ = 0;
};

}  // namespace quarry
