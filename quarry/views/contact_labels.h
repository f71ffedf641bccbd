// What the address book's kinds and labels of a contact's values mean to a reader: the
// label's words, the vCard types that carry it, and the CSV column a value belongs in.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include "quarry/views/contact_item.h"
#include "quarry/views/view_texts.h"

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

// The reader's words for the labels the device writes and for the kinds of value, looked
// up once in the program's language, so that an export carries them to its worker.
class LabelWords {
 public:
  explicit LabelWords(const TextLookup& texts = {});  // none: the English words

  // What the detail pane and the report call a value: a device label's words, a label the
  // user typed as written, or, without a label, its kind's words.
  QString Caption(const ContactValueItem& value) const;

 private:
  QHash<QString, QString> words_;  // dictionary key -> words
};

}  // namespace quarry::views
