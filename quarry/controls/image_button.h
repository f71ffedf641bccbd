// A push button drawn from one of our SVG pictures, with an optional text
// under or beside the picture. Its look (normal, hover, pressed, disabled)
// comes from the style sheet through its object name and the "role" property.
#pragma once

#include <QPushButton>
#include <QString>

class QLabel;

namespace quarry {

class CImageButton : public QPushButton {
  Q_OBJECT

 public:
  // role: "title", "top" or "home" picks the style sheet rules.
  CImageButton(const QString& iconPath, const QString& text, const QString& role, QWidget* parent = nullptr);
  QString iconPath() const { return iconPath_; }
  // The words shown: the button's text, or for a "home" card its caption,
  // which wraps under the picture so that long translations fit.
  QString caption() const;

 private:
  QString iconPath_;
  QLabel* caption_ = nullptr;
};

}  // namespace quarry
