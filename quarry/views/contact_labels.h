// What the address book's kinds and labels of a contact's values mean to a reader: the
// label's words, the vCard types that carry it, and the CSV column a value belongs in.
#pragma once

#include <QString>
#include <QStringList>

#include "quarry/views/contact_item.h"

namespace quarry::views {

// The address book's kinds of value (ABMultiValue property).
inline constexpr int kPhoneProperty = 3;
inline constexpr int kEmailProperty = 4;
inline constexpr int kAddressProperty = 5;
inline constexpr int kWebPageProperty = 22;

struct LabelMeaning {
  QString Text;             // English words for the label: "mobile", "home fax", "Ferienhaus"; "" for none
  QStringList VCardTypes;   // TYPE values that say it, upper case
  bool TypesSayAll = false; // the types alone say it; otherwise the vCard names it with X-ABLabel
};
LabelMeaning MeaningOfLabel(const QString& stored);

// The English header of the CSV column for a value of this kind and label; "" when the
// CSV has no column for the kind.
QString CsvColumnOf(const ContactValueItem& value);

// What the detail pane and the report call a value: its label's words, or its kind's.
QString ValueCaption(const ContactValueItem& value);

}  // namespace quarry::views
