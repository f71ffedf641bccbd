#include "quarry/controls/image_button.h"

#include <QIcon>

namespace quarry {

CImageButton::CImageButton(const QString& iconPath, const QString& text, const QString& role, QWidget* parent)
    : QPushButton(text, parent), iconPath_(iconPath) {
  setProperty("role", role);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  if (!iconPath.isEmpty()) setIcon(QIcon(iconPath));
  if (role == QLatin1String("title")) {
    setIconSize(QSize(16, 16));
    setFixedSize(30, 26);
  } else if (role == QLatin1String("top")) {
    setIconSize(QSize(36, 36));
    setMinimumSize(118, 64);
  } else if (role == QLatin1String("home")) {
    setIconSize(QSize(96, 96));
    setMinimumSize(300, 150);
  }
}

}  // namespace quarry
