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

void ContactTraits::Take(const Record& record, const ViewContext& context, std::vector<Item>& out) {
  out.push_back(ContactItemFromRecord(record, context.Text("IDS_CONTACT_UNKONWN_NAME")));
}

QStringList ContactTraits::Headers(const ViewContext& context) {
  return {context.Text("IDS_RECOVERY_CONTACT_HEADER_NAME"), context.Text("IDS_RECOVERY_CONTACT_HEADER_PHONE"),
          context.Text("IDS_RECOVERY_CONTACT_HEADER_EMAIL"), context.Text("IDS_RECOVERY_CONTACT_HEADER_COMPANY")};
}

QString ContactTraits::Cell(const Item& c, int column) {
  switch (column) {
    case 0: return c.Name;
    case 1: return c.DisplayPhone;
    case 2: return c.DisplayEmail;
    case 3: return c.Company;
    default: return {};
  }
}

bool ContactTraits::Matches(const Item& c, const QString& lowerText) {
  return AnyContains(lowerText, c.Name, c.DisplayPhone, c.DisplayEmail, c.Company);
}

DetailRows ContactTraits::Detail(const Item& contact, const ViewContext& context) {
  DetailRows rows;
  const auto add = [&](const char* key, const QString& value) { rows.append({context.Text(key), value}); };
  add("IDS_CONTACT_NICKNAME", contact.Nickname);
  add("IDS_RECOVERY_CONTACT_HEADER_COMPANY", contact.Company);
  add("IDS_CONTACT_CSV_DEPARTMENT", contact.Department);
  add("IDS_CONTACT_CSV_JOBTITLE", contact.JobTitle);
  // Every value under its own label, as the address book has it, in the reader's words.
  const LabelWords labels(context.texts);
  for (const ContactValueItem& value : contact.Values) rows.append({labels.Caption(value), value.Value});
  add("IDS_CONTACT_BIRTHDAY", contact.Birthday);
  add("IDS_CONTACT_CSV_NOTE", contact.Note);
  add("IDS_CONTACT_CREATED", contact.Created);
  add("IDS_CONTACT_MODIFIED", contact.Modified);
  return rows;
}

std::unique_ptr<CategoryExport> ContactTraits::Export(std::vector<Item> checked, const ViewContext& context) {
  return std::make_unique<ContactsExport>(std::move(checked), ContactsExportTexts::From(context.texts));
}

}  // namespace quarry::views
