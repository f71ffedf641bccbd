#include "quarry/views/contact_labels.h"

namespace quarry::views {

namespace {

struct KnownLabel {
  const char* Stored;
  const char* Text;   // English, as the vCard's X-ABLabel says it
  const char* Types;  // comma-separated
  bool TypesSayAll;
  const char* Key;    // the reader's words in the dictionary
};

// The labels the device writes itself. A custom label is kept as its own text.
constexpr KnownLabel kKnownLabels[] = {
    {"_$!<Home>!$_", "home", "HOME", true, "IDS_CONTACT_LABEL_HOME"},
    {"_$!<Work>!$_", "work", "WORK", true, "IDS_CONTACT_LABEL_WORK"},
    {"_$!<Mobile>!$_", "mobile", "CELL", true, "IDS_CONTACT_LABEL_MOBILE"},
    {"iPhone", "iPhone", "CELL", false, "IDS_CONTACT_LABEL_IPHONE"},
    {"_$!<Main>!$_", "main", "", false, "IDS_CONTACT_LABEL_MAIN"},
    {"_$!<HomeFAX>!$_", "home fax", "HOME,FAX", true, "IDS_CONTACT_LABEL_HOMEFAX"},
    {"_$!<WorkFAX>!$_", "work fax", "WORK,FAX", true, "IDS_CONTACT_LABEL_WORKFAX"},
    {"_$!<OtherFAX>!$_", "other fax", "FAX", true, "IDS_CONTACT_LABEL_OTHERFAX"},
    {"_$!<Pager>!$_", "pager", "PAGER", true, "IDS_CONTACT_LABEL_PAGER"},
    {"_$!<Other>!$_", "other", "", false, "IDS_CONTACT_LABEL_OTHER"},
    {"_$!<HomePage>!$_", "home page", "", false, "IDS_CONTACT_LABEL_HOMEPAGE"},
    {"_$!<School>!$_", "school", "", false, "IDS_CONTACT_LABEL_SCHOOL"},
};

// The words for a value without a label: its kind's.
struct KindCaption {
  int Property;
  const char* Key;
};
constexpr KindCaption kKindCaptions[] = {
    {kPhoneProperty, "IDS_CONTACT_LABEL_PHONE"},
    {kEmailProperty, "IDS_CONTACT_LABEL_EMAIL"},
    {kAddressProperty, "IDS_CONTACT_LABEL_ADDRESS"},
    {kWebPageProperty, "IDS_CONTACT_LABEL_WEBPAGE"},
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

LabelWords::LabelWords(const TextLookup& texts) {
  const auto take = [&](const char* key) { words_.insert(QLatin1String(key), ViewText(texts, QLatin1String(key))); };
  for (const KnownLabel& label : kKnownLabels) take(label.Key);
  for (const KindCaption& kind : kKindCaptions) take(kind.Key);
}

QString LabelWords::Caption(const ContactValueItem& value) const {
  if (const KnownLabel* known = Known(value.Label)) return words_.value(QLatin1String(known->Key));
  const QString text = MeaningOfLabel(value.Label).Text;
  if (!text.isEmpty()) return text;
  for (const KindCaption& kind : kKindCaptions) {
    if (kind.Property == value.Property) return words_.value(QLatin1String(kind.Key));
  }
  return words_.value(QStringLiteral("IDS_CONTACT_LABEL_OTHER"));
}

}  // namespace quarry::views
