// A push button drawn from one of our SVG pictures, with an optional text
// under or beside the picture. Its look (normal, hover, pressed, disabled)
// comes from the style sheet through its object name and the "role" property.
#pragma once

#include <QPushButton>
#include <QString>

namespace quarry {

class CImageButton : public QPushButton {
  Q_OBJECT

 public:
  // role: "title", "top" or "home" picks the style sheet rules.
  CImageButton(const QString& iconPath, const QString& text, const QString& role, QWidget* parent = nullptr);
  QString iconPath() const { return iconPath_; }

 private:
  QString iconPath_;
};

}  // namespace quarry
