#include "quarry/views/contact_labels.h"

namespace quarry::views {

namespace {

struct KnownLabel {
  const char* Stored;
  const char* Text;
  const char* Types;  // comma-separated
  bool TypesSayAll;
};

// The labels the device writes itself. A custom label is kept as its own text.
constexpr KnownLabel kKnownLabels[] = {
    {"_$!<Home>!$_", "home", "HOME", true},
    {"_$!<Work>!$_", "work", "WORK", true},
    {"_$!<Mobile>!$_", "mobile", "CELL", true},
    {"iPhone", "iPhone", "CELL", false},
    {"_$!<Main>!$_", "main", "", false},
    {"_$!<HomeFAX>!$_", "home fax", "HOME,FAX", true},
    {"_$!<WorkFAX>!$_", "work fax", "WORK,FAX", true},
    {"_$!<OtherFAX>!$_", "other fax", "FAX", true},
    {"_$!<Pager>!$_", "pager", "PAGER", true},
    {"_$!<Other>!$_", "other", "", false},
    {"_$!<HomePage>!$_", "home page", "", false},
};

const KnownLabel* Known(const QString& stored) {
  for (const KnownLabel& label : kKnownLabels) {
    if (stored == QLatin1String(label.Stored)) return &label;
  }
  return nullptr;
}

}  // namespace

LabelMeaning MeaningOfLabel(const QString& stored) {
  LabelMeaning meaning;
  if (const KnownLabel* known = Known(stored)) {
    meaning.Text = QLatin1String(known->Text);
    meaning.VCardTypes = QString::fromLatin1(known->Types).split(QLatin1Char(','), Qt::SkipEmptyParts);
    meaning.TypesSayAll = known->TypesSayAll;
    return meaning;
  }
  // Another of the device's own labels ("_$!<School>!$_"): its word in lower case.
  if (stored.startsWith(QLatin1String("_$!<")) && stored.endsWith(QLatin1String(">!$_")) && stored.size() > 8) {
    meaning.Text = stored.mid(4, stored.size() - 8).toLower();
  } else {
    meaning.Text = stored;
  }
  meaning.TypesSayAll = meaning.Text.isEmpty();
  return meaning;
}

QString CsvColumnOf(const ContactValueItem& value) {
  const QString& label = value.Label;
  const auto is = [&label](const char* stored) { return label == QLatin1String(stored); };
  switch (value.Property) {
    case kPhoneProperty:
      if (is("_$!<Home>!$_")) return QStringLiteral("Home Phone");
      if (is("_$!<Work>!$_")) return QStringLiteral("Work Phone");
      if (is("iPhone")) return QStringLiteral("iPhone");
      if (is("_$!<Mobile>!$_")) return QStringLiteral("Mobile Phone");
      if (is("_$!<Main>!$_")) return QStringLiteral("Main Phone");
      if (is("_$!<HomeFAX>!$_")) return QStringLiteral("Home Fax");
      if (is("_$!<WorkFAX>!$_")) return QStringLiteral("Work Fax");
      if (is("_$!<Pager>!$_")) return QStringLiteral("Pager");
      return QStringLiteral("Other Phone");
    case kEmailProperty:
      if (is("_$!<Home>!$_")) return QStringLiteral("Home E-mail");
      if (is("_$!<Work>!$_")) return QStringLiteral("Work E-mail");
      return QStringLiteral("Other E-mail");
    case kWebPageProperty:
      if (is("_$!<HomePage>!$_") || is("_$!<Home>!$_")) return QStringLiteral("Home Page");
      if (is("_$!<Work>!$_")) return QStringLiteral("Work Page");
      return QStringLiteral("Other Page");
    case kAddressProperty:
      if (is("_$!<Home>!$_")) return QStringLiteral("Home Address");
      if (is("_$!<Work>!$_")) return QStringLiteral("Work Address");
      return QStringLiteral("Other Address");
    default:
      return {};
  }
}

QString ValueCaption(const ContactValueItem& value) {
  const QString text = MeaningOfLabel(value.Label).Text;
  if (!text.isEmpty()) return text;
  switch (value.Property) {
    case kPhoneProperty: return QStringLiteral("phone");
    case kEmailProperty: return QStringLiteral("e-mail");
    case kAddressProperty: return QStringLiteral("address");
    case kWebPageProperty: return QStringLiteral("web page");
    default: return QStringLiteral("other");
  }
}

}  // namespace quarry::views
