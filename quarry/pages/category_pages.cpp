#include "quarry/pages/category_pages.h"

#include <QLabel>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/category_page.h"
#include "quarry/pages/chat_page.h"
#include "quarry/views/chat_models.h"
#include "quarry/pages/contact_info_dlg.h"
#include "quarry/pages/media_grid_page.h"

namespace quarry {

namespace {

// The conversations page over either conversation model.
template <class Model>
CFunctionDlg* MakeChatPage(Model* model) {
  return new CChatPage(model, [model](qsizetype item) -> const views::ChatThread& { return model->Item(item); },
                       model->Context().Files());
}

// A category that has no items of its own says so instead of showing an empty list.
CFunctionDlg* MakeEmptyPage(const views::CategoryRow& row) {
  auto* page = new CFunctionDlg;
  page->setObjectName(QStringLiteral("categoryEmptyPage"));
  auto* text = new QLabel(Translate(QStringLiteral("IDS_VIEW_NOTHING_HERE")).arg(Translate(QLatin1String(row.captionKey))), page);
  text->setObjectName(QStringLiteral("categoryEmpty"));
  text->setAlignment(Qt::AlignCenter);
  text->setWordWrap(true);
  text->setStyleSheet(QStringLiteral("color: #6b7a8c;"));
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(text);
  return page;
}

// A category the program reads but does not list: its name as the heading and a
// sentence that says the backup keeps it, rather than an empty list.
CFunctionDlg* MakeNotShownPage(const views::CategoryRow& row) {
  auto* page = new CFunctionDlg;
  page->setObjectName(QStringLiteral("categoryNotShownPage"));
  const QString caption = Translate(QLatin1String(row.captionKey));
  auto* heading = new QLabel(caption, page);
  heading->setObjectName(QStringLiteral("categoryNotShownTitle"));
  heading->setTextFormat(Qt::PlainText);
  heading->setAlignment(Qt::AlignCenter);
  QFont big = heading->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.4);
  heading->setFont(big);
  auto* text = new QLabel(Translate(QStringLiteral("IDS_VIEW_NOT_SHOWN")).arg(caption), page);
  text->setObjectName(QStringLiteral("categoryEmpty"));
  text->setTextFormat(Qt::PlainText);
  text->setAlignment(Qt::AlignCenter);
  text->setWordWrap(true);
  text->setStyleSheet(QStringLiteral("color: #4b5a6c;"));
  auto* layout = new QVBoxLayout(page);
  // The full width for the text (less wide margins), so that it wraps to its whole height.
  layout->setContentsMargins(60, 0, 60, 0);
  layout->addStretch(1);
  layout->addWidget(heading);
  layout->addSpacing(8);
  layout->addWidget(text);
  layout->addStretch(2);
  return page;
}

}  // namespace

CFunctionDlg* MakeCategoryPage(const views::CategoryRow& row, views::CategoryModel* model) {
  if (row.style == views::PageStyle::NotShown) return MakeNotShownPage(row);
  if (model == nullptr) return MakeEmptyPage(row);
  switch (row.style) {
    case views::PageStyle::Empty:
      return MakeEmptyPage(row);
    case views::PageStyle::List:
      return new CCategoryPage(model, CCategoryPage::Detail::None);
    case views::PageStyle::ListDetail:
      return new CCategoryPage(model, CCategoryPage::Detail::Pane);
    case views::PageStyle::Contacts:
      if (auto* contacts = dynamic_cast<views::ContactsModel*>(model)) return new CContactInfoDlg(contacts);
      return new CCategoryPage(model, CCategoryPage::Detail::Pane);
    case views::PageStyle::Chat:
      if (auto* messages = dynamic_cast<views::MessagesModel*>(model)) return MakeChatPage(messages);
      if (auto* chats = dynamic_cast<views::WhatsAppModel*>(model)) return MakeChatPage(chats);
      return new CCategoryPage(model, CCategoryPage::Detail::Pane);
    case views::PageStyle::Pictures:
      if (const auto* media = dynamic_cast<const views::MediaItems*>(model)) return new CMediaGridPage(model, media);
      return new CCategoryPage(model, CCategoryPage::Detail::Pane);
    case views::PageStyle::NotShown:
      return MakeNotShownPage(row);
  }
  return MakeEmptyPage(row);
}

}  // namespace quarry
