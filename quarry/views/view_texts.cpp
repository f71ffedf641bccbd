#include "quarry/views/view_texts.h"

#include <QHash>

namespace quarry::views {

namespace {

const QHash<QString, QString>& EnglishTexts() {
  static const QHash<QString, QString> texts = {
      {QStringLiteral("IDS_RECOVERY_MAIN_CONTACT"), QStringLiteral("Contacts")},
      {QStringLiteral("IDS_CONTACT_UNKONWN_NAME"), QStringLiteral("Unknown")},
      {QStringLiteral("IDS_RECOVERY_CONTACT_HEADER_NAME"), QStringLiteral("Name")},
      {QStringLiteral("IDS_RECOVERY_CONTACT_HEADER_PHONE"), QStringLiteral("Phone")},
      {QStringLiteral("IDS_RECOVERY_CONTACT_HEADER_EMAIL"), QStringLiteral("E-mail")},
      {QStringLiteral("IDS_RECOVERY_CONTACT_HEADER_COMPANY"), QStringLiteral("Company")},
      {QStringLiteral("IDS_RECOVERY_CONTACTINFO_WORKPHONE"), QStringLiteral("Work phone")},
      {QStringLiteral("IDS_RECOVERY_CONTACTINFO_HOMEPHONE"), QStringLiteral("Home phone")},
      {QStringLiteral("IDS_RECOVERY_CONTACTINFO_OHTERPHONE"), QStringLiteral("Other")},
      {QStringLiteral("IDS_CONTACT_CSV_NAME"), QStringLiteral("Name")},
      {QStringLiteral("IDS_CONTACT_CSV_JOBTITLE"), QStringLiteral("Job Title")},
      {QStringLiteral("IDS_CONTACT_CSV_DEPARTMENT"), QStringLiteral("Department")},
      {QStringLiteral("IDS_CONTACT_CSV_COMPANY"), QStringLiteral("Company")},
      {QStringLiteral("IDS_CONTACT_CSV_HOMEPHONE"), QStringLiteral("Home Phone")},
      {QStringLiteral("IDS_CONTACT_CSV_WORKPHONE"), QStringLiteral("Work Phone")},
      {QStringLiteral("IDS_CONTACT_CSV_IPHONEPHONE"), QStringLiteral("iPhone")},
      {QStringLiteral("IDS_CONTACT_CSV_MOBILEPHONE"), QStringLiteral("Mobile Phone")},
      {QStringLiteral("IDS_CONTACT_CSV_MAINPHONE"), QStringLiteral("Main Phone")},
      {QStringLiteral("IDS_CONTACT_CSV_OTHERPHONE"), QStringLiteral("Other Phone")},
      {QStringLiteral("IDS_CONTACT_CSV_HOMEEMAIL"), QStringLiteral("Home E-mail")},
      {QStringLiteral("IDS_CONTACT_CSV_WORKEMAIL"), QStringLiteral("Work E-mail")},
      {QStringLiteral("IDS_CONTACT_CSV_OTHEREMAIL"), QStringLiteral("Other E-mail")},
      {QStringLiteral("IDS_CONTACT_CSV_HOMEPAGE"), QStringLiteral("Home Page")},
      {QStringLiteral("IDS_CONTACT_CSV_WORKPAGE"), QStringLiteral("Work Page")},
      {QStringLiteral("IDS_CONTACT_CSV_OTHERPAGE"), QStringLiteral("Other Page")},
      {QStringLiteral("IDS_CONTACT_CSV_HOMEADDRESS"), QStringLiteral("Home Address")},
      {QStringLiteral("IDS_CONTACT_CSV_WORKADDRESS"), QStringLiteral("Work Address")},
      {QStringLiteral("IDS_CONTACT_CSV_OTHERADDRESS"), QStringLiteral("Other Address")},
      {QStringLiteral("IDS_CONTACT_CSV_NOTE"), QStringLiteral("Note")},
      {QStringLiteral("IDS_CONTACT_NICKNAME"), QStringLiteral("Nickname")},
      {QStringLiteral("IDS_CONTACT_BIRTHDAY"), QStringLiteral("Birthday")},
      {QStringLiteral("IDS_CONTACT_CREATED"), QStringLiteral("Created")},
      {QStringLiteral("IDS_CONTACT_MODIFIED"), QStringLiteral("Modified")},
      {QStringLiteral("IDS_CONTACT_UNOWNED_VALUES"), QStringLiteral("Recovered values without a contact")},
      {QStringLiteral("IDS_REPORT_TIMES_IN"), QStringLiteral("Times in %1")},
      // Opening a backup (%1 is its folder, %2 the reason).
      {QStringLiteral("ITUNES_ERROR_PWD"), QStringLiteral("The password is not right for this backup. Please try again.")},
      {QStringLiteral("ITUNES_ERROR_UNREADABLE"), QStringLiteral("The backup %1 cannot be read: %2")},
      // One warning of the reader about a backup (%1, in English).
      {QStringLiteral("IDS_BACKUP_WARNING"), QStringLiteral("Note about this backup: %1")},
  };
  return texts;
}

}  // namespace

QString EnglishViewText(const QString& key) { return EnglishTexts().value(key, key); }

QString ViewText(const TextLookup& lookup, const QString& key) {
  if (lookup) {
    QString text = lookup(key);
    if (!text.isEmpty()) return text;
  }
  return EnglishViewText(key);
}

}  // namespace quarry::views
