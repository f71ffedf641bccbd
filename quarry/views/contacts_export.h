// Writes checked contacts below a recovery folder: one HTML page, one CSV file
// and one vCard (3.0) per contact, in Contacts/HTML, Contacts/CSV, Contacts/VCF.
// Folder and file names and the CSV's headers are English in every language, for
// the scripts and importers that read them; the page is in the window's language.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "quarry/views/category_export.h"
#include "quarry/views/contact_item.h"
#include "quarry/views/contact_labels.h"
#include "quarry/views/view_texts.h"

namespace quarry::views {

// The texts the page needs, taken on the window's thread before the export
// runs elsewhere.
struct ContactsExportTexts {
  QString Title;  // category name, the page's title
  QString JobTitleLabel;
  QString NicknameLabel;
  QString BirthdayLabel;
  QString NoteLabel;
  QString CreatedLabel;
  QString ModifiedLabel;
  QString UnownedTitle;
  QString TimesIn;  // "%1" is the zone
  LabelWords Labels;

  static ContactsExportTexts From(const TextLookup& texts);
};

class ContactsExport : public CategoryExport {
 public:
  ContactsExport(std::vector<ContactItem> items, ContactsExportTexts texts);

  QString FolderName() const override;
  qsizetype ItemCount() const override { return static_cast<qsizetype>(items_.size()); }
  void RecoverTo(const QString& recoveryFolder, const std::atomic<bool>& cancel,
                 ExportReport& report) const override;

  // The pieces, public so that they can be checked one by one.
  static QStringList CsvHeaders();
  QString CsvText() const;
  static QString VCardText(const ContactItem& item);
  // `pictures` holds, per item, the picture's path relative to the HTML folder.
  QString HtmlText(const QStringList& pictures) const;

 private:
  QStringList WritePictures(const QString& htmlFolder, ExportReport& report) const;
  void WriteVCards(const QString& folder, const std::atomic<bool>& cancel, ExportReport& report) const;

  std::vector<ContactItem> items_;
  ContactsExportTexts texts_;
};

}  // namespace quarry::views
