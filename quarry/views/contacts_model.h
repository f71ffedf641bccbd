// The contacts view's items: one row per contact with the columns name, phone,
// e-mail and company.
#pragma once

#include <vector>

#include "quarry/views/contact_item.h"
#include "quarry/views/list_model.h"

namespace quarry::views {

struct ContactTraits {
  using Record = sieve::ContactRecord;
  using Item = ContactItem;

  static void Take(const Record& record, const ViewContext& context, std::vector<Item>& out);
  static QStringList Headers(const ViewContext& context);
  static QString Cell(const Item& item, int column);
  static bool Matches(const Item& item, const QString& lowerText);
  static std::unique_ptr<CategoryExport> Export(std::vector<Item> checked, const ViewContext& context);
  static DetailRows Detail(const Item& item, const ViewContext& context);
};

class ContactsModel : public ListModel<ContactTraits> {
 public:
  explicit ContactsModel(TextLookup texts = {}, QObject* parent = nullptr)
      : ListModel(ViewContext{std::move(texts), nullptr}, parent) {}
  explicit ContactsModel(ViewContext context, QObject* parent = nullptr) : ListModel(std::move(context), parent) {}

  void AddContact(const sieve::ContactRecord& record) { Add(record); }
};

}  // namespace quarry::views
