#include "quarry/pages/category_pages.h"

#include <QLabel>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/category_page.h"
#include "quarry/pages/chat_page.h"
#include "quarry/views/chat_models.h"
#include "quarry/pages/contact_info_dlg.h"

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

}  // namespace

CFunctionDlg* MakeCategoryPage(const views::CategoryRow& row, views::CategoryModel* model) {
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
  }
  return MakeEmptyPage(row);
}

}  // namespace quarry
