// The page of a conversation category (messages, WhatsApp): the conversations
// list, and the selected one's messages as bubbles in the detail pane, the
// owner's on the right, the other party's on the left, each under its date;
// recovered messages are marked and attachments named.
#pragma once

#include <functional>

#include "quarry/pages/category_page.h"
#include "quarry/views/chat_item.h"

class QScrollArea;

namespace quarry {

class CChatPage : public CCategoryPage {
  Q_OBJECT

 public:
  using ThreadOf = std::function<const views::ChatThread&(qsizetype item)>;
  // `model` and `files` are not owned and must outlive the page; `thread` gives the
  // conversation of a model item.
  CChatPage(views::CategoryModel* model, ThreadOf thread, const views::FileSource& files, QWidget* parent = nullptr);

  // The bubble widgets of the shown conversation, in order.
  QList<QWidget*> Bubbles() const;

 protected:
  void ShowDetail(qsizetype item) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void AddEntry(const views::ChatEntry& entry);
  int BubbleWidthLimit() const;

  ThreadOf thread_;
  const views::FileSource& files_;
  QScrollArea* scroll_ = nullptr;
  QWidget* bubbles_ = nullptr;
};

}  // namespace quarry
