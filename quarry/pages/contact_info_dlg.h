// The contacts page: the category page with the contact's portrait above the
// detail lines (the address book's picture, or a stand-in).
#pragma once

#include "quarry/pages/category_page.h"
#include "quarry/views/contacts_model.h"

namespace quarry {

class CContactInfoDlg : public CCategoryPage {
  Q_OBJECT

 public:
  // `model` is not owned and must outlive the page.
  explicit CContactInfoDlg(views::ContactsModel* model, QWidget* parent = nullptr);

  views::ContactsModel* Contacts() const { return contacts_; }

 protected:
  void ShowDetail(qsizetype item) override;

 private:
  views::ContactsModel* contacts_;
  QLabel* picture_ = nullptr;
};

}  // namespace quarry
