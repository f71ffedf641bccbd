#include "quarry/views/contacts_model.h"

#include "quarry/views/contacts_export.h"

namespace quarry::views {

namespace {

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

ContactItem ContactItemFromRecord(const sieve::ContactRecord& record, const QString& unknownName) {
  ContactItem item;
  item.First = FromUtf8(record.First);
  item.Middle = FromUtf8(record.Middle);
  item.Last = FromUtf8(record.Last);
  item.Name = item.First + item.Middle + item.Last;
  if (item.Name.trimmed().isEmpty()) {
    item.Name = unknownName;
    item.NameUnknown = true;
  }
  item.Company = FromUtf8(record.Organization);
  item.Department = FromUtf8(record.Department);
  item.HomePhone = FromUtf8(record.HomePhone);
  item.WorkPhone = FromUtf8(record.WorkPhone);
  item.Address = FromUtf8(record.Address);
  item.Phone = FromUtf8(record.Phone);
  item.HomeEmail = FromUtf8(record.HomeEmail);
  item.WorkEmail = FromUtf8(record.WorkEmail);
  item.HomePage = FromUtf8(record.HomePage);
  item.ImagePath = FromUtf8(record.ImagePath);
  for (const std::string& other : record.Others) item.Others.append(FromUtf8(other));
  item.Deleted = record.Deleted != 0;

  item.DisplayPhone = !item.Phone.isEmpty()       ? item.Phone
                      : !item.WorkPhone.isEmpty() ? item.WorkPhone
                                                  : item.HomePhone;
  if (item.DisplayPhone.isEmpty()) {
    for (const QString& other : item.Others) {
      if (!other.isEmpty()) {
        item.DisplayPhone = other;
        break;
      }
    }
  }
  item.DisplayEmail = !item.HomeEmail.isEmpty() ? item.HomeEmail : item.WorkEmail;
  return item;
}

ContactsModel::ContactsModel(TextLookup texts, QObject* parent)
    : CategoryModel(parent), texts_(std::move(texts)) {}

void ContactsModel::AddContact(const sieve::ContactRecord& record) {
  items_.push_back(ContactItemFromRecord(record, ViewText(texts_, QStringLiteral("IDS_CONTACT_UNKONWN_NAME"))));
  ItemAppended();
}

QStringList ContactsModel::Headers() const {
  return {ViewText(texts_, QStringLiteral("IDS_RECOVERY_CONTACT_HEADER_NAME")),
          ViewText(texts_, QStringLiteral("IDS_RECOVERY_CONTACT_HEADER_PHONE")),
          ViewText(texts_, QStringLiteral("IDS_RECOVERY_CONTACT_HEADER_EMAIL")),
          ViewText(texts_, QStringLiteral("IDS_RECOVERY_CONTACT_HEADER_COMPANY"))};
}

QString ContactsModel::CellText(qsizetype item, int column) const {
  const ContactItem& c = Item(item);
  switch (column) {
    case 0: return c.Name;
    case 1: return c.DisplayPhone;
    case 2: return c.DisplayEmail;
    case 3: return c.Company;
    default: return {};
  }
}

bool ContactsModel::ItemDeleted(qsizetype item) const { return Item(item).Deleted; }

bool ContactsModel::ItemMatches(qsizetype item, const QString& lowerText) const {
  const ContactItem& c = Item(item);
  for (const QString* field : {&c.Name, &c.DisplayPhone, &c.DisplayEmail, &c.Company}) {
    if (field->toLower().contains(lowerText)) return true;
  }
  return false;
}

std::unique_ptr<CategoryExport> ContactsModel::SnapshotChecked() const {
  std::vector<ContactItem> checked;
  for (qsizetype i = 0; i < FoundCount(); ++i) {
    if (IsChecked(i)) checked.push_back(Item(i));
  }
  return std::make_unique<ContactsExport>(std::move(checked), ContactsExportTexts::From(texts_));
}

}  // namespace quarry::views
