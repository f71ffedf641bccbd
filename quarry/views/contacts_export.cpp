#include "quarry/views/contacts_export.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "quarry/views/export_text.h"
#include "quarry/views/html_report.h"

namespace quarry::views {

namespace {

constexpr char kPicturesFolder[] = "Images";
constexpr char kPortraitName[] = "contact_photo.png";

QString Line(const QString& text) { return text + QLatin1Char('\n'); }

QString PhoneRow(const QString& label, const QString& value, bool first) {
  QString row = QStringLiteral("<tr>\n");
  row += first ? QStringLiteral("<td width=\"50%\" align=\"right\">\n") : QStringLiteral("<td align=\"right\">\n");
  row += QStringLiteral("<strong>") + HtmlEscape(label) + QStringLiteral("</strong>\n</td>\n");
  row += first ? QStringLiteral("<td width=\"50%\" align=\"left\">\n") : QStringLiteral("<td>\n");
  row += Line(HtmlEscape(value)) + QStringLiteral("</td>\n</tr>\n");
  return row;
}

// The picture's type from its first bytes; vCard readers want it named.
QString PictureType(const QByteArray& bytes) {
  if (bytes.startsWith("\x89PNG")) return QStringLiteral("PNG");
  if (bytes.startsWith("GIF8")) return QStringLiteral("GIF");
  return QStringLiteral("JPEG");
}

}  // namespace

ContactsExportTexts ContactsExportTexts::From(const TextLookup& texts) {
  ContactsExportTexts t;
  t.Title = ViewText(texts, QStringLiteral("IDS_RECOVERY_MAIN_CONTACT"));
  for (const char* key :
       {"IDS_CONTACT_CSV_NAME", "IDS_CONTACT_CSV_JOBTITLE", "IDS_CONTACT_CSV_DEPARTMENT",
        "IDS_CONTACT_CSV_COMPANY", "IDS_CONTACT_CSV_HOMEPHONE", "IDS_CONTACT_CSV_WORKPHONE",
        "IDS_CONTACT_CSV_IPHONEPHONE", "IDS_CONTACT_CSV_MOBILEPHONE", "IDS_CONTACT_CSV_MAINPHONE",
        "IDS_CONTACT_CSV_OTHERPHONE", "IDS_CONTACT_CSV_HOMEEMAIL", "IDS_CONTACT_CSV_WORKEMAIL",
        "IDS_CONTACT_CSV_OTHEREMAIL", "IDS_CONTACT_CSV_HOMEPAGE", "IDS_CONTACT_CSV_WORKPAGE",
        "IDS_CONTACT_CSV_OTHERPAGE", "IDS_CONTACT_CSV_HOMEADDRESS", "IDS_CONTACT_CSV_WORKADDRESS",
        "IDS_CONTACT_CSV_OTHERADDRESS", "IDS_CONTACT_CSV_NOTE"}) {
    t.CsvHeaders.append(ViewText(texts, QLatin1String(key)));
  }
  t.IPhoneLabel = ViewText(texts, QStringLiteral("IDS_CONTACT_CSV_IPHONEPHONE"));
  t.HomePhoneLabel = ViewText(texts, QStringLiteral("IDS_CONTACT_CSV_HOMEPHONE"));
  t.WorkPhoneLabel = ViewText(texts, QStringLiteral("IDS_CONTACT_CSV_WORKPHONE"));
  t.OtherPhoneLabel = ViewText(texts, QStringLiteral("IDS_CONTACT_CSV_OTHERPHONE"));
  return t;
}

ContactsExport::ContactsExport(std::vector<ContactItem> items, ContactsExportTexts texts)
    : items_(std::move(items)), texts_(std::move(texts)) {}

QString ContactsExport::FolderName() const { return CleanFileName(texts_.Title, QStringLiteral("Contacts")); }

void ContactsExport::RecoverTo(const QString& recoveryFolder, const std::atomic<bool>& cancel,
                               ExportReport& report) const {
  const QDir category(QDir(recoveryFolder).filePath(FolderName()));
  const QString fileBase = FolderName();

  const QString htmlFolder = category.filePath(QStringLiteral("HTML"));
  if (MakeFolder(htmlFolder, report) && !cancel) {
    const QStringList pictures = WritePictures(htmlFolder, report);
    EnsureDeletedIcon(htmlFolder, report);
    WriteUtf8File(UniqueFilePath(htmlFolder, fileBase, QStringLiteral(".html")), HtmlText(pictures), report);
  }
  const QString csvFolder = category.filePath(QStringLiteral("CSV"));
  if (!cancel && MakeFolder(csvFolder, report)) {
    WriteUtf8File(UniqueFilePath(csvFolder, fileBase, QStringLiteral(".csv")), CsvText(), report);
  }
  const QString vcfFolder = category.filePath(QStringLiteral("VCF"));
  if (!cancel && MakeFolder(vcfFolder, report)) WriteVCards(vcfFolder, cancel, report);
}

QStringList ContactsExport::WritePictures(const QString& htmlFolder, ExportReport& report) const {
  const QString folder = QDir(htmlFolder).filePath(QLatin1String(kPicturesFolder));
  const QString relativePortrait = QStringLiteral("%1/%2").arg(QLatin1String(kPicturesFolder), QLatin1String(kPortraitName));
  QStringList pictures;
  bool portraitWritten = false;
  bool folderMade = false;
  for (const ContactItem& item : items_) {
    if (!folderMade) {
      if (!MakeFolder(folder, report)) return QStringList(QList<QString>(static_cast<qsizetype>(items_.size()), relativePortrait));
      folderMade = true;
    }
    QString relative;
    if (!item.ImagePath.isEmpty()) {
      QString extension = QFileInfo(item.ImagePath).suffix();
      extension = extension.isEmpty() ? QStringLiteral(".jpg") : QLatin1Char('.') + CleanFileName(extension);
      const QString target = UniqueFilePath(folder, CleanFileName(item.Name), extension);
      if (CopyIntoExport(item.ImagePath, target, report)) {
        relative = QStringLiteral("%1/%2").arg(QLatin1String(kPicturesFolder), QFileInfo(target).fileName());
      }
    }
    if (relative.isEmpty()) {
      if (!portraitWritten) {
        const QString portrait = QDir(folder).filePath(QLatin1String(kPortraitName));
        portraitWritten = QFileInfo::exists(portrait) || WriteBinaryFile(portrait, DefaultPortraitPng(), report);
      }
      relative = relativePortrait;
    }
    pictures.append(relative);
  }
  return pictures;
}

QString ContactsExport::HtmlText(const QStringList& pictures) const {
  const QString title = HtmlEscape(texts_.Title);
  QString html = HtmlReportHead(texts_.Title);
  html += QStringLiteral("<body>\n<div class=\"content\">\n<div class=\"tit\">\n") + Line(title) +
          QStringLiteral("</div>\n<div class=\"nTab\">\n<div class=\"TabTitle\">\n<div class=\"lefttit\">\n") +
          Line(title) + QStringLiteral("</div>\n<ul id=\"myTab1\">\n");
  for (std::size_t k = 0; k < items_.size(); ++k) {
    const ContactItem& item = items_[k];
    html += QStringLiteral("<li class=\"%1\" onclick=\"nTabs(this,%2);\">")
                .arg(k == 0 ? QStringLiteral("active") : QStringLiteral("normal"))
                .arg(k);
    if (item.Deleted) {
      html += DeletedMarkerTag() + QStringLiteral("<span class=\"deleted\">") + HtmlEscape(item.Name) +
              QStringLiteral("</span>");
    } else {
      html += HtmlEscape(item.Name);
    }
    html += QStringLiteral("</li>\n");
  }
  html += QStringLiteral("</ul> \n</div>\n<div class=\"TabContent\">\n");
  for (std::size_t k = 0; k < items_.size(); ++k) {
    const ContactItem& item = items_[k];
    const QString name = HtmlEscape(item.Name);
    html += (k == 0 ? QStringLiteral("<div id=\"myTab1_Content%1\">\n")
                    : QStringLiteral("<div id=\"myTab1_Content%1\" class=\"none\">\n"))
                .arg(k);
    html += QStringLiteral("<div class=\"righttit\">\n") + Line(name) + QStringLiteral("</div>\n");
    html += QStringLiteral(
        "<div class=\"smstop\">\n<table width=\"100%\">\n<tr>\n"
        "<td align=\"right\" width=\"45%\"><div class=\"line\"></div></td>\n<td>\nInformation\n</td>\n"
        "<td align=\"left\" width=\"45%\"><div class=\"line2\"></div></td>\n</tr>\n</table>\n</div>\n");
    const QString picture = static_cast<qsizetype>(k) < pictures.size()
                                ? pictures[static_cast<qsizetype>(k)]
                                : QStringLiteral("%1/%2").arg(QLatin1String(kPicturesFolder), QLatin1String(kPortraitName));
    html += QStringLiteral(
                "<div class=\"smstxt\">\n<table width=\"100%\" cellpadding=\"0\" cellspacing=\"0\">\n<tr>\n"
                "<th align=\"right\">\n<div class=\"photo\">\n<img src=\"") +
            HtmlEscape(picture) + QStringLiteral("\" width=\"64\" alt=\"\" />\n</div>\n</th>\n");
    html += QStringLiteral("<td>\n<div class=\"simple\">\n<div class=\"name\">\n") + Line(name) +
            QStringLiteral(" </div>\n<div class=\"company\">\n") + Line(HtmlEscape(item.Company)) +
            QStringLiteral("</div>\n<div class=\"department\">\n") + Line(HtmlEscape(item.Department)) +
            QStringLiteral("</div>\n<div class=\"email\">\n") + Line(HtmlEscape(item.DisplayEmail)) +
            QStringLiteral("</div>\n</div>\n</td>\n</tr>\n");
    html += PhoneRow(texts_.IPhoneLabel, item.Phone, true);
    html += PhoneRow(texts_.HomePhoneLabel, item.HomePhone, false);
    html += PhoneRow(texts_.WorkPhoneLabel, item.WorkPhone, false);
    for (const QString& other : item.Others) html += PhoneRow(texts_.OtherPhoneLabel, other, false);
    html += QStringLiteral("</table>\n</div>\n</div>\n");
  }
  html += QStringLiteral("</div>\n</div>\n</div>\n") + HtmlReportEnd();
  return html;
}

QString ContactsExport::CsvText() const {
  QString csv = CsvLine(texts_.CsvHeaders);
  for (const ContactItem& item : items_) {
    const auto other = [&item](qsizetype i) { return i < item.Others.size() ? item.Others[i] : QString(); };
    // The last phone column takes every further number, so none is lost.
    const QString otherPhones = item.Others.size() > 2 ? item.Others.mid(2).join(QStringLiteral("; ")) : QString();
    csv += CsvLine({item.Name, QString(), item.Department, item.Company, item.HomePhone, item.WorkPhone,
                    item.Phone, other(0), other(1), otherPhones, item.HomeEmail, item.WorkEmail, QString(),
                    item.HomePage, QString(), QString(), item.Address, QString(), QString(), QString()});
  }
  return csv;
}

QString ContactsExport::VCardText(const ContactItem& item) {
  QString card = QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\n");
  card += VCardFoldLine(QStringLiteral("N:%1;%2;%3;;")
                            .arg(VCardEscape(item.Last), VCardEscape(item.First), VCardEscape(item.Middle)));
  card += VCardFoldLine(QStringLiteral("FN:") + VCardEscape(item.Name));
  card += VCardFoldLine(QStringLiteral("ORG:%1;%2").arg(VCardEscape(item.Company), VCardEscape(item.Department)));
  const auto add = [&card](const QString& property, const QString& value) {
    if (!value.isEmpty()) card += VCardFoldLine(property + QLatin1Char(':') + VCardEscape(value));
  };
  add(QStringLiteral("TEL;TYPE=CELL"), item.Phone);
  add(QStringLiteral("TEL;TYPE=WORK"), item.WorkPhone);
  add(QStringLiteral("TEL;TYPE=HOME"), item.HomePhone);
  for (const QString& other : item.Others) add(QStringLiteral("TEL"), other);
  add(QStringLiteral("EMAIL;TYPE=INTERNET,HOME"), item.HomeEmail);
  add(QStringLiteral("EMAIL;TYPE=INTERNET,WORK"), item.WorkEmail);
  add(QStringLiteral("URL"), item.HomePage);
  if (!item.Address.isEmpty()) card += VCardFoldLine(QStringLiteral("ADR:;;") + VCardEscape(item.Address) + QStringLiteral(";;;;"));
  if (!item.ImagePath.isEmpty()) {
    QFile picture(item.ImagePath);
    if (picture.open(QIODevice::ReadOnly)) {
      const QByteArray bytes = picture.readAll();
      card += VCardFoldLine(QStringLiteral("PHOTO;ENCODING=b;TYPE=%1:").arg(PictureType(bytes)) +
                            QString::fromLatin1(bytes.toBase64()));
    }
  }
  return card + QStringLiteral("END:VCARD\r\n");
}

void ContactsExport::WriteVCards(const QString& folder, const std::atomic<bool>& cancel,
                                 ExportReport& report) const {
  for (const ContactItem& item : items_) {
    if (cancel) return;
    const QString path = UniqueFilePath(folder, CleanFileName(item.Name, QStringLiteral("contact")), QStringLiteral(".vcf"));
    WriteUtf8File(path, VCardText(item), report);
  }
}

}  // namespace quarry::views
