#include "quarry/controls/image_button.h"

#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include "quarry/controls/svg_picture.h"

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
    // Picture above, caption below on as many lines as it needs: a push
    // button's own text never wraps and long translations were cut off.
    setIcon(QIcon());
    setText(QString());
    setAccessibleName(text);
    setMinimumSize(300, 190);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);
    auto* picture = new CSvgPicture(iconPath, QSize(72, 72), this);
    picture->setAttribute(Qt::WA_TransparentForMouseEvents);
    caption_ = new QLabel(text, this);
    caption_->setObjectName(QStringLiteral("homeCaption"));
    caption_->setWordWrap(true);
    caption_->setAlignment(Qt::AlignCenter);
    caption_->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(picture, 0, Qt::AlignHCenter);
    layout->addWidget(caption_);
  }
}

QString CImageButton::caption() const { return caption_ != nullptr ? caption_->text() : text(); }

}  // namespace quarry
