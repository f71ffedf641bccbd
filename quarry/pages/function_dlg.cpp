#include "quarry/pages/function_dlg.h"

#include <QStackedWidget>
#include <QVBoxLayout>

namespace quarry {

CFunctionDlg::CFunctionDlg(QWidget* parent) : QWidget(parent) {
  // Pages paint the style sheet's page background, not the window's.
  setAttribute(Qt::WA_StyledBackground, true);
}

CFunctionDlg::~CFunctionDlg() = default;

void CFunctionDlg::RecoverTo(const QString& /*folder*/) {}

void CFunctionDlg::OnShowPage() {
  show();
  // Child pages of this page (not those of a page nested deeper): numbered
  // ones wait until the page picks one, an unnumbered one shows along.
  for (CFunctionDlg* child : findChildren<CFunctionDlg*>()) {
    QWidget* owner = child->parentWidget();
    while (owner != nullptr && qobject_cast<CFunctionDlg*>(owner) == nullptr) owner = owner->parentWidget();
    if (owner != this) continue;
    if (child->pageId != 0) {
      child->hide();
    } else {
      child->OnShowPage();
    }
  }
}

void CFunctionDlg::InitPage() {}
void CFunctionDlg::CheckAll(bool /*check*/) {}
void CFunctionDlg::InvertCheck() {}
void CFunctionDlg::ShowDeletedOnly(bool /*deletedOnlyFlag*/) {}
void CFunctionDlg::SearchText(const QString& /*text*/) {}

void CFunctionDlg::ApplyDeletedOnly(bool flag) {
  deletedOnly = flag;
  ShowDeletedOnly(flag);
}

CFunctionDlgContainer::CFunctionDlgContainer(QWidget* parent) : QWidget(parent), stack_(new QStackedWidget(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(stack_);
}

CFunctionDlgContainer::~CFunctionDlgContainer() {
  const QList<CFunctionDlg*> pages = Pages();
  for (auto it = pages.rbegin(); it != pages.rend(); ++it) delete *it;
}

void CFunctionDlgContainer::AddPage(CFunctionDlg* page, int pageId) {
  page->pageId = pageId;
  stack_->addWidget(page);
  page->InitPage();
}

QList<CFunctionDlg*> CFunctionDlgContainer::Pages() const {
  QList<CFunctionDlg*> pages;
  for (int i = 0; i < stack_->count(); ++i) {
    if (auto* page = qobject_cast<CFunctionDlg*>(stack_->widget(i))) pages.append(page);
  }
  return pages;
}

CFunctionDlg* CFunctionDlgContainer::Page(int pageId) const {
  for (CFunctionDlg* page : Pages()) {
    if (page->pageId == pageId) return page;
  }
  return nullptr;
}

void CFunctionDlgContainer::ShowPage(int pageId) {
  currentPageId_ = pageId;
  CFunctionDlg* wanted = Page(pageId);
  for (CFunctionDlg* page : Pages()) {
    if (page != wanted) page->hide();
  }
  if (wanted == nullptr) {
    hide();
    return;
  }
  show();
  stack_->setCurrentWidget(wanted);
  wanted->show();  // also after an unknown id hid the stack's current page
  wanted->OnShowPage();
  emit pageShown(pageId);
}

}  // namespace quarry
