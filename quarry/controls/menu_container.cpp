#include "quarry/controls/menu_container.h"

#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>
#include <QVBoxLayout>

namespace quarry {

namespace {

constexpr int kEntryHeight = 34;
constexpr int kIconLeft = 10;
constexpr int kIconSize = 20;

// The check mark over the category picture; drawn, so it scales cleanly.
void DrawCheck(QPainter& p, const QRectF& box, Qt::CheckState state) {
  p.setPen(QPen(QColor(0x5b, 0x8d, 0xc9), 1.5));
  p.setBrush(state != Qt::Unchecked ? QColor(0x5b, 0x8d, 0xc9) : QColor(Qt::white));
  p.drawRoundedRect(box, 3, 3);
  if (state == Qt::Unchecked) return;
  p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  if (state == Qt::PartiallyChecked) {
    const qreal y = box.center().y();
    p.drawLine(QPointF(box.left() + box.width() * 0.25, y), QPointF(box.right() - box.width() * 0.25, y));
    return;
  }
  const QPointF a(box.left() + box.width() * 0.22, box.top() + box.height() * 0.52);
  const QPointF b(box.left() + box.width() * 0.42, box.top() + box.height() * 0.72);
  const QPointF c(box.left() + box.width() * 0.78, box.top() + box.height() * 0.30);
  p.drawPolyline(QList<QPointF>{a, b, c});
}

}  // namespace

CMenuItemEx::CMenuItemEx(const QString& iconPath, const QString& caption, int id, QWidget* parent)
    : QWidget(parent), iconPath_(iconPath), caption_(caption), id_(id) {
  setObjectName(QStringLiteral("categoryEntry"));
  setMinimumHeight(kEntryHeight);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  setEnabled(false);
}

void CMenuItemEx::setCaption(const QString& caption) {
  caption_ = caption;
  update();
}

void CMenuItemEx::setCount(qint64 count) {
  count_ = count;
  update();
}

void CMenuItemEx::setCheckState(Qt::CheckState state) {
  checkState_ = state;
  update();
}

void CMenuItemEx::setNote(const QString& note) {
  note_ = note;
  update();
}

void CMenuItemEx::setSelected(bool selected) {
  selected_ = selected;
  update();
}

QString CMenuItemEx::DisplayText() const {
  const QString text = QStringLiteral("%1(%2)").arg(caption_, QLocale().toString(count_));
  return note_.isEmpty() ? text : text + QStringLiteral(" \u2013 ") + note_;
}

QRect CMenuItemEx::IconRect() const {
  return QRect(kIconLeft, (height() - kIconSize) / 2, kIconSize, kIconSize);
}

QSize CMenuItemEx::sizeHint() const { return QSize(240, kEntryHeight); }

void CMenuItemEx::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(rect(), selected_ ? QColor(0xdc, 0xe9, 0xf7) : QColor(Qt::white));
  const QRect icon = IconRect();
  DrawCheck(p, QRectF(icon).adjusted(1, 1, -1, -1), checkState_);
  int textLeft = icon.right() + 8;
  if (!iconPath_.isEmpty()) {
    QSvgRenderer picture(iconPath_);
    if (picture.isValid()) {
      picture.render(&p, QRectF(textLeft, icon.top(), kIconSize, kIconSize));
      textLeft += kIconSize + 6;
    }
  }
  p.setPen(!isEnabled() ? QColor(0xa0, 0xa0, 0xa0) : selected_ ? QColor(0x1d, 0x5f, 0xa8) : QColor(0x33, 0x33, 0x33));
  p.drawText(QRect(textLeft, 0, width() - textLeft - 4, height()), Qt::AlignVCenter | Qt::AlignLeft, DisplayText());
}

void CMenuItemEx::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) return;
  // A partly checked box becomes checked, as a tri-state box does.
  if (IconRect().contains(event->position().toPoint())) {
    checkState_ = checkState_ == Qt::Checked ? Qt::Unchecked : Qt::Checked;
  }
  selected_ = true;
  update();
  emit clicked(id_, isChecked());
}

CMenuContainer::CMenuContainer(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
  setObjectName(QStringLiteral("categoryList"));
  layout_->setContentsMargins(0, 4, 0, 4);
  layout_->setSpacing(0);
  layout_->addStretch(1);
}

void CMenuContainer::AddGroup(const QString& caption) {
  auto* label = new QLabel(caption, this);
  label->setObjectName(QStringLiteral("categoryGroup"));
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(16);
  font.setWeight(QFont::Bold);
  label->setFont(font);
  label->setContentsMargins(10, 8, 4, 4);
  layout_->insertWidget(layout_->count() - 1, label);
}

CMenuItemEx* CMenuContainer::AddEntry(const QString& iconPath, const QString& caption, int id) {
  auto* entry = new CMenuItemEx(iconPath, caption, id, this);
  layout_->insertWidget(layout_->count() - 1, entry);
  entries_.append(entry);
  connect(entry, &CMenuItemEx::clicked, this, [this](int entryId, bool checked) {
    Select(entryId);
    emit entryClicked(entryId, checked);
  });
  return entry;
}

void CMenuContainer::ResetAll() {
  for (CMenuItemEx* entry : entries_) {
    entry->setCount(0);
    entry->setChecked(false);
    entry->setNote(QString());
  }
}

void CMenuContainer::DisableAll() {
  for (CMenuItemEx* entry : entries_) entry->setEnabled(false);
}

CMenuItemEx* CMenuContainer::Entry(int id) const {
  for (CMenuItemEx* entry : entries_) {
    if (entry->id() == id) return entry;
  }
  return nullptr;
}

void CMenuContainer::Enable(int id) {
  if (CMenuItemEx* entry = Entry(id)) entry->setEnabled(true);
}

void CMenuContainer::AddCount(int id, qint64 added) {
  if (CMenuItemEx* entry = Entry(id)) entry->setCount(entry->count() + added);
}

bool CMenuContainer::IsChecked(int id) const {
  const CMenuItemEx* entry = Entry(id);
  return entry != nullptr && entry->isChecked();
}

void CMenuContainer::SetChecked(int id) {
  if (CMenuItemEx* entry = Entry(id)) entry->setChecked(true);
}

void CMenuContainer::Select(int id) {
  for (CMenuItemEx* entry : entries_) entry->setSelected(entry->id() == id);
}

int CMenuContainer::CurrentId() const {
  for (const CMenuItemEx* entry : entries_) {
    if (entry->isSelected()) return entry->id();
  }
  return 0;
}

}  // namespace quarry
