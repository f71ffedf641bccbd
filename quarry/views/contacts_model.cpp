#include "quarry/views/contacts_model.h"

#include "quarry/views/contact_labels.h"
#include "quarry/views/contacts_export.h"
#include "sieve/person_name.h"

namespace quarry::views {

namespace {

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Records made before values carried their kind (and hand-made ones) have only the fixed
// fields: their values are taken from those, Others as the other phone numbers they were.
QList<ContactValueItem> ValuesFromFields(const ContactItem& item) {
  QList<ContactValueItem> values;
  const auto add = [&values](int property, const char* label, const QString& value) {
    if (value.isEmpty()) return;
    for (const ContactValueItem& v : values) {
      if (v.Property == property && v.Value == value) return;
    }
    values.append({property, QLatin1String(label), value, {}});
  };
  add(kPhoneProperty, "_$!<Mobile>!$_", item.Phone);
  add(kPhoneProperty, "_$!<Home>!$_", item.HomePhone);
  add(kPhoneProperty, "_$!<Work>!$_", item.WorkPhone);
  for (const QString& other : item.Others) add(kPhoneProperty, "", other);
  add(kEmailProperty, "_$!<Home>!$_", item.HomeEmail);
  add(kEmailProperty, "_$!<Work>!$_", item.WorkEmail);
  add(kWebPageProperty, "_$!<HomePage>!$_", item.HomePage);
  if (!item.Address.isEmpty()) {
    values.append({kAddressProperty, QString(), item.Address, {{QStringLiteral("Street"), item.Address}}});
  }
  return values;
}

// The first value of a kind, a mobile one first.
QString FirstOf(const QList<ContactValueItem>& values, int property) {
  for (const ContactValueItem& v : values) {
    if (v.Property == property && (v.Label == QLatin1String("_$!<Mobile>!$_") || v.Label == QLatin1String("iPhone"))) {
      return v.Value;
    }
  }
  for (const ContactValueItem& v : values) {
    if (v.Property == property) return v.Value;
  }
  return {};
}

}  // namespace

ContactItem ContactItemFromRecord(const sieve::ContactRecord& record, const QString& unknownName) {
  ContactItem item;
  item.First = FromUtf8(record.First);
  item.Middle = FromUtf8(record.Middle);
  item.Last = FromUtf8(record.Last);
  item.Name = FromUtf8(sieve::JoinPersonName({record.First, record.Middle, record.Last}));
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
  item.Prefix = FromUtf8(record.Prefix);
  item.Suffix = FromUtf8(record.Suffix);
  item.Nickname = FromUtf8(record.Nickname);
  item.JobTitle = FromUtf8(record.JobTitle);
  item.Note = FromUtf8(record.Note);
  item.Birthday = FromUtf8(record.Birthday);
  item.Created = FromUtf8(record.CreationDate);
  item.Modified = FromUtf8(record.ModificationDate);
  for (const sieve::ContactValue& v : record.Values) {
    ContactValueItem value{v.Property, FromUtf8(v.Label), FromUtf8(v.Value), {}};
    for (const auto& [key, part] : v.Parts) value.Parts.append({FromUtf8(key), FromUtf8(part)});
    item.Values.append(value);
  }
  if (item.Values.isEmpty()) item.Values = ValuesFromFields(item);
  item.Unowned = record.Unowned != 0;
  item.Deleted = record.Deleted != 0;
  item.DisplayPhone = FirstOf(item.Values, kPhoneProperty);
  item.DisplayEmail = FirstOf(item.Values, kEmailProperty);
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
