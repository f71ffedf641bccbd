// The contacts view's own copy of one reported contact.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include "quarry/views/view_texts.h"
#include "sieve/records.h"

namespace quarry::views {

// One phone number, e-mail, address, web page... with the kind and label the address
// book gave it (sieve::ContactValue).
struct ContactValueItem {
  int Property = 0;
  QString Label;  // as stored: "_$!<Mobile>!$_", "iPhone", a custom text, or ""
  QString Value;
  QList<QPair<QString, QString>> Parts;  // a street address's parts by key
};

struct ContactItem {
  QString DisplayPhone;
  QString DisplayEmail;
  QString Name;
  QString Company;
  QString Department;
  QString HomePhone;
  QString WorkPhone;
  QString Address;
  QString Phone;
  QString HomeEmail;
  QString WorkEmail;
  QString HomePage;
  QString ImagePath;
  QStringList Others;
  // Kept apart as well so the vCard's structured name is right.
  QString First;
  QString Middle;
  QString Last;
  QString Prefix;
  QString Suffix;
  QString Nickname;
  QString JobTitle;
  QString Note;
  QString Birthday;
  QString Created;
  QString Modified;
  QList<ContactValueItem> Values;  // every value in the address book's order
  bool NameUnknown = false;  // Name is the "unknown" text
  bool Unowned = false;      // recovered values whose person was not found: values, not a person
  bool Deleted = false;
};

// Copies what the view keeps; `unknownName` is shown for a contact without a name.
ContactItem ContactItemFromRecord(const sieve::ContactRecord& record, const QString& unknownName);

}  // namespace quarry::views
