// The contacts view's own copy of one reported contact.
#pragma once

#include <QString>
#include <QStringList>

#include "quarry/views/view_texts.h"
#include "sieve/records.h"

namespace quarry::views {

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
  bool NameUnknown = false;  // Name is the "unknown" text
  bool Deleted = false;
};

// Copies what the view keeps; `unknownName` is shown for a contact without a name.
ContactItem ContactItemFromRecord(const sieve::ContactRecord& record, const QString& unknownName);

}  // namespace quarry::views
