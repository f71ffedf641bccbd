#include "quarry/pages/chat_page.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QStringList>
#include <algorithm>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"
#include "quarry/views/view_texts.h"

namespace quarry {

namespace {

QString Text(const char* key) { return Translate(QLatin1String(key)); }

// A text with a "%1" filled in; a translation that lost its "%1" gives way to the English one.
QString TextWith(const char* key, const QString& value) {
  QString text = Text(key);
  if (!text.contains(QLatin1String("%1"))) text = views::EnglishViewText(QLatin1String(key));
  return text.arg(value);
}

// A bubble as wide as its longest line, up to its maximum width: QLabel's own guess
// folds a short message into a narrow column of two or three lines.
class BubbleLabel : public QLabel {
 public:
  using QLabel::QLabel;
  QSize sizeHint() const override {
    const int frame = width() - contentsRect().width() + 2 * margin();
    const int text = fontMetrics().boundingRect(QRect(0, 0, QWIDGETSIZE_MAX / 2, QWIDGETSIZE_MAX / 2),
                                                Qt::TextExpandTabs, this->text()).width();
    const int step = std::max(1, fontMetrics().averageCharWidth());
    int wide = std::clamp(text + frame + step, minimumSizeHint().width(), maximumWidth());
    // The label lays its text out by its own measure (fallback fonts differ from the one
    // above): widen until it needs no more lines than at the full width.
    const int fewest = heightForWidth(maximumWidth());
    while (wide < maximumWidth() && heightForWidth(wide) > fewest) wide = std::min(maximumWidth(), wide + step);
    return {wide, heightForWidth(wide)};
  }
};

QLabel* PlainLabel(const QString& text, QWidget* parent, bool bubble = false) {
  auto* label = bubble ? new BubbleLabel(parent) : new QLabel(parent);
  label->setTextFormat(Qt::PlainText);  // message text is never markup
  label->setWordWrap(true);
  label->setText(text);
  return label;
}

}  // namespace

CChatPage::CChatPage(views::CategoryModel* model, ThreadOf thread, const views::FileSource& files, QWidget* parent)
    : CCategoryPage(model, Detail::Pane, parent), thread_(std::move(thread)), files_(files) {
  // The bubbles take the pane; the base's label/value rows stay empty here.
  if (auto* rows = findChild<QScrollArea*>(QStringLiteral("categoryDetailScroll"))) rows->hide();
  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("chatScroll"));
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  DetailHead()->addWidget(scroll_, 1);
  scroll_->viewport()->installEventFilter(this);
  ShowDetail(-1);
}

QList<QWidget*> CChatPage::Bubbles() const {
  QList<QWidget*> out;
  if (bubbles_ == nullptr) return out;
  for (QWidget* w : bubbles_->findChildren<QWidget*>()) {
    if (w->property("bubble").toBool()) out.append(w);
  }
  return out;
}

void CChatPage::ShowDetail(qsizetype item) {
  CCategoryPage::ShowDetail(item);
  if (scroll_ == nullptr) return;  // called from the base's constructor
  bubbles_ = new QWidget;
  bubbles_->setObjectName(QStringLiteral("chatBubbles"));
  auto* layout = new QVBoxLayout(bubbles_);
  layout->setContentsMargins(0, 4, 4, 4);
  scroll_->setWidget(bubbles_);  // the previous conversation's widgets go with the old one
  if (item < 0 || item >= Model()->FoundCount()) {
    layout->addStretch(1);
    return;
  }
  const views::ChatThread& thread = thread_(item);
  SetDetailTitle(TextWith("IDS_MESSAGE_TO", thread.Title()));
  for (const views::ChatEntry& entry : thread.Entries) AddEntry(entry);
  layout->addStretch(1);
}

void CChatPage::AddEntry(const views::ChatEntry& entry) {
  auto* layout = static_cast<QVBoxLayout*>(bubbles_->layout());
  QLabel* date = PlainLabel(entry.Date, bubbles_);
  date->setObjectName(QStringLiteral("chatDate"));
  date->setAlignment(Qt::AlignCenter);
  date->setStyleSheet(QStringLiteral("color: #8a8f99;"));
  layout->addWidget(date);

  if (entry.System) {
    // No one's words: a centred line between the bubbles.
    QString line = entry.ShownText();
    if (entry.Deleted) line = Text("IDS_MESSAGE_DELETED_MARK") + QLatin1Char(' ') + line;
    QLabel* system = PlainLabel(Breakable(line), bubbles_);
    system->setObjectName(QStringLiteral("chatSystemLine"));
    system->setAlignment(Qt::AlignCenter);
    system->setStyleSheet(entry.Deleted ? QStringLiteral("color: #c00000; font-style: italic;")
                                        : QStringLiteral("color: #5f6368; font-style: italic;"));
    layout->addWidget(system);
    return;
  }
  // The member's name, the words, the map link and the attachment, each on its own line.
  QStringList lines;
  if (!entry.Sender.isEmpty()) lines << entry.Sender + QLatin1Char(':');
  if (!entry.ShownText().isEmpty()) lines << entry.ShownText();
  if (!entry.Link.isEmpty()) lines << entry.Link;
  if (!entry.AttachmentPath.empty()) {
    lines << TextWith("IDS_MESSAGE_ATTACHMENT", views::ResolveAttachment(entry, files_).Name);
  }
  QString text = lines.join(QLatin1Char('\n'));
  if (entry.Deleted) text = Text("IDS_MESSAGE_DELETED_MARK") + QLatin1Char('\n') + text;
  // The bubble sits in a row of its own beside a stretch: a row layout asks the label for
  // its height at the width the label really gets. Placed by alignment in the column, the
  // column would ask at the full width and cut the lines the narrower bubble needs.
  auto* row = new QWidget(bubbles_);
  row->setObjectName(QStringLiteral("chatBubbleRow"));
  auto* rowLayout = new QHBoxLayout(row);
  rowLayout->setContentsMargins(0, 0, 0, 0);
  QLabel* bubble = PlainLabel(Breakable(text), row, true);
  bubble->setObjectName(entry.Outgoing ? QStringLiteral("chatBubbleOut") : QStringLiteral("chatBubbleIn"));
  bubble->setProperty("bubble", true);
  bubble->setProperty("deleted", entry.Deleted);
  bubble->setMaximumWidth(BubbleWidthLimit());
  bubble->setTextInteractionFlags(Qt::TextSelectableByMouse);
  const QString colours = entry.Outgoing ? QStringLiteral("background: #00ce48; color: white;")
                                         : QStringLiteral("background: #e9e8ed; color: black;");
  const QString border = entry.Deleted ? QStringLiteral("border: 2px solid #ff0000;") : QString();
  bubble->setStyleSheet(QStringLiteral("QLabel { %1 %2 border-radius: 8px; padding: 6px; }").arg(colours, border));
  if (entry.Deleted) bubble->setToolTip(Text("IDS_MESSAGE_DELETED_MARK"));
  if (entry.Outgoing) rowLayout->addStretch(1);
  rowLayout->addWidget(bubble);
  if (!entry.Outgoing) rowLayout->addStretch(1);
  layout->addWidget(row);
}

int CChatPage::BubbleWidthLimit() const {
  // At most four fifths of the pane, whatever the pane's width and the screen's scale.
  return std::max(120, scroll_->viewport()->width() * 4 / 5);
}

bool CChatPage::eventFilter(QObject* watched, QEvent* event) {
  // The pane's width changes with the window and the splitter: the bubbles follow it.
  if (scroll_ != nullptr && watched == scroll_->viewport() && event->type() == QEvent::Resize) {
    const int limit = BubbleWidthLimit();
    for (QWidget* bubble : Bubbles()) bubble->setMaximumWidth(limit);
  }
  return CCategoryPage::eventFilter(watched, event);
}

}  // namespace quarry
