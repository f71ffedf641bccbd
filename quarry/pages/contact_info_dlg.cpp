#include "quarry/pages/contact_info_dlg.h"

#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include "quarry/views/html_report.h"

namespace quarry {

namespace {
constexpr int kPortraitSize = 64;
}  // namespace

CContactInfoDlg::CContactInfoDlg(views::ContactsModel* model, QWidget* parent)
    : CCategoryPage(model, Detail::Pane, parent), contacts_(model) {
  picture_ = new QLabel(this);
  picture_->setObjectName(QStringLiteral("contactPortrait"));
  picture_->setFixedSize(kPortraitSize, kPortraitSize);
  picture_->setScaledContents(true);
  DetailHead()->addWidget(picture_);
  ShowDetail(-1);
}

void CContactInfoDlg::ShowDetail(qsizetype item) {
  CCategoryPage::ShowDetail(item);
  if (picture_ == nullptr) return;  // called from the base's constructor
  if (item < 0 || item >= contacts_->FoundCount()) {
    picture_->clear();
    picture_->hide();
    return;
  }
  const views::ContactItem& contact = contacts_->Item(item);
  QPixmap portrait;
  if (contact.ImagePath.isEmpty() || !portrait.load(contact.ImagePath)) {
    portrait.loadFromData(views::DefaultPortraitPng(), "PNG");
  }
  picture_->setPixmap(portrait);
  picture_->show();
}

}  // namespace quarry
