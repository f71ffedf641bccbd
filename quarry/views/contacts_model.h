// The contacts view's items: one row per contact with the columns name, phone,
// e-mail and company.
#pragma once

#include <vector>

#include "quarry/views/category_model.h"
#include "quarry/views/contact_item.h"
#include "quarry/views/view_texts.h"

namespace quarry::views {

class ContactsModel : public CategoryModel {
  Q_OBJECT

 public:
  explicit ContactsModel(TextLookup texts = {}, QObject* parent = nullptr);

  void AddContact(const sieve::ContactRecord& record);
  const ContactItem& Item(qsizetype item) const { return items_.at(static_cast<std::size_t>(item)); }

  std::unique_ptr<CategoryExport> SnapshotChecked() const override;

 protected:
  QStringList Headers() const override;
  QString CellText(qsizetype item, int column) const override;
  bool ItemDeleted(qsizetype item) const override;
  bool ItemMatches(qsizetype item, const QString& lowerText) const override;
  void ClearItems() override { items_.clear(); }

 private:
  TextLookup texts_;
  std::vector<ContactItem> items_;
};

}  // namespace quarry::views
