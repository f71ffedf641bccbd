#include "quarry/views/contacts_export.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QMap>
#include <QRegularExpression>

#include "quarry/views/contact_labels.h"
#include "quarry/views/export_text.h"
#include "quarry/views/html_report.h"

namespace quarry::views {

namespace {

constexpr char kCategoryName[] = "Contacts";
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

// The CSV's columns: the first twenty as they always were, then the ones added later.
// Date headers get the zone appended when written.
const QStringList& CsvColumns() {
  static const QStringList columns = {
      QStringLiteral("Name"),         QStringLiteral("Job Title"),     QStringLiteral("Department"),
      QStringLiteral("Company"),      QStringLiteral("Home Phone"),    QStringLiteral("Work Phone"),
      QStringLiteral("iPhone"),       QStringLiteral("Mobile Phone"),  QStringLiteral("Main Phone"),
      QStringLiteral("Other Phone"),  QStringLiteral("Home E-mail"),   QStringLiteral("Work E-mail"),
      QStringLiteral("Other E-mail"), QStringLiteral("Home Page"),     QStringLiteral("Work Page"),
      QStringLiteral("Other Page"),   QStringLiteral("Home Address"),  QStringLiteral("Work Address"),
      QStringLiteral("Other Address"), QStringLiteral("Note"),         QStringLiteral("First Name"),
      QStringLiteral("Middle Name"),  QStringLiteral("Last Name"),     QStringLiteral("Prefix"),
      QStringLiteral("Suffix"),       QStringLiteral("Nickname"),      QStringLiteral("Birthday"),
      QStringLiteral("Home Fax"),     QStringLiteral("Work Fax"),      QStringLiteral("Pager"),
      QStringLiteral("Created"),      QStringLiteral("Modified"),      QStringLiteral("Deleted")};
  return columns;
}

// The vCard's name for a value of this kind, and the TYPE values it allows.
struct VCardProperty {
  QString Name;
  QStringList AllowedTypes;  // empty: any
  QStringList FixedTypes;
};

VCardProperty VCardPropertyOf(int property) {
  const QStringList homeWork = {QStringLiteral("HOME"), QStringLiteral("WORK")};
  switch (property) {
    case kPhoneProperty: return {QStringLiteral("TEL"), {}, {}};
    case kEmailProperty: return {QStringLiteral("EMAIL"), homeWork, {QStringLiteral("INTERNET")}};
    case kAddressProperty: return {QStringLiteral("ADR"), homeWork, {}};
    case kWebPageProperty: return {QStringLiteral("URL"), homeWork, {}};
    default: return {QStringLiteral("X-QUARRY-VALUE"), homeWork, {}};
  }
}

// ";;street;city;region;code;country" from an address's parts (the post-office box and
// extended address are not kept apart by the address book).
QString AdrValue(const ContactValueItem& value) {
  const char* keys[] = {"Street", "City", "State", "ZIP", "Country"};
  QStringList components = {QString(), QString()};
  for (const char* key : keys) {
    QString part;
    for (const auto& [k, v] : value.Parts) {
      if (k == QLatin1String(key)) part = v;
    }
    components.append(VCardEscape(part));
  }
  if (value.Parts.isEmpty()) components[2] = VCardEscape(value.Value);
  return components.join(QLatin1Char(';'));
}

QString DateOnly(const QString& birthday) {
  static const QRegularExpression date(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
  return date.match(birthday).hasMatch() ? birthday : QString();
}

}  // namespace

ContactsExportTexts ContactsExportTexts::From(const TextLookup& texts) {
  ContactsExportTexts t;
  const auto text = [&texts](const char* key) { return ViewText(texts, QLatin1String(key)); };
  t.Title = text("IDS_RECOVERY_MAIN_CONTACT");
  t.JobTitleLabel = text("IDS_CONTACT_CSV_JOBTITLE");
  t.NicknameLabel = text("IDS_CONTACT_NICKNAME");
  t.BirthdayLabel = text("IDS_CONTACT_BIRTHDAY");
  t.NoteLabel = text("IDS_CONTACT_CSV_NOTE");
  t.CreatedLabel = text("IDS_CONTACT_CREATED");
  t.ModifiedLabel = text("IDS_CONTACT_MODIFIED");
  t.UnownedTitle = text("IDS_CONTACT_UNOWNED_VALUES");
  t.TimesIn = text("IDS_REPORT_TIMES_IN");
  t.Labels = LabelWords(texts);
  if (!t.TimesIn.contains(QLatin1String("%1"))) t.TimesIn = EnglishViewText(QStringLiteral("IDS_REPORT_TIMES_IN"));
  return t;
}

ContactsExport::ContactsExport(std::vector<ContactItem> items, ContactsExportTexts texts)
    : items_(std::move(items)), texts_(std::move(texts)) {}

QString ContactsExport::FolderName() const { return QLatin1String(kCategoryName); }

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
  // Values whose person was not found are no person: they get a table of their own below.
  std::vector<std::size_t> people;
  std::vector<std::size_t> unowned;
  for (std::size_t k = 0; k < items_.size(); ++k) (items_[k].Unowned ? unowned : people).push_back(k);
  for (std::size_t tab = 0; tab < people.size(); ++tab) {
    const ContactItem& item = items_[people[tab]];
    html += QStringLiteral("<li class=\"%1\" onclick=\"nTabs(this,%2);\">")
                .arg(tab == 0 ? QStringLiteral("active") : QStringLiteral("normal"))
                .arg(tab);
    if (item.Deleted) {
      html += DeletedMarkerTag() + QStringLiteral("<span class=\"deleted\">") + HtmlEscape(item.Name) +
              QStringLiteral("</span>");
    } else {
      html += HtmlEscape(item.Name);
    }
    html += QStringLiteral("</li>\n");
  }
  html += QStringLiteral("</ul> \n</div>\n<div class=\"TabContent\">\n");
  for (std::size_t tab = 0; tab < people.size(); ++tab) {
    const std::size_t k = people[tab];
    const ContactItem& item = items_[k];
    const QString name = HtmlEscape(item.Name);
    html += (tab == 0 ? QStringLiteral("<div id=\"myTab1_Content%1\">\n")
                      : QStringLiteral("<div id=\"myTab1_Content%1\" class=\"none\">\n"))
                .arg(tab);
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
    bool first = true;
    const auto row = [&html, &first](const QString& label, const QString& value) {
      if (value.isEmpty()) return;
      html += PhoneRow(label, value, first);
      first = false;
    };
    row(texts_.NicknameLabel, item.Nickname);
    row(texts_.JobTitleLabel, item.JobTitle);
    for (const ContactValueItem& value : item.Values) row(texts_.Labels.Caption(value), value.Value);
    row(texts_.BirthdayLabel, item.Birthday);
    row(texts_.NoteLabel, item.Note);
    row(texts_.CreatedLabel, item.Created);
    row(texts_.ModifiedLabel, item.Modified);
    html += QStringLiteral("</table>\n</div>\n</div>\n");
  }
  html += QStringLiteral("</div>\n</div>\n");
  if (!unowned.empty()) {
    html += QStringLiteral("<div class=\"smstxt\">\n<div class=\"righttit\">\n") + Line(HtmlEscape(texts_.UnownedTitle)) +
            QStringLiteral("</div>\n<table class=\"unowned\" width=\"100%\" cellpadding=\"0\" cellspacing=\"0\">\n");
    bool first = true;
    for (const std::size_t k : unowned) {
      for (const ContactValueItem& value : items_[k].Values) {
        html += PhoneRow(texts_.Labels.Caption(value), value.Value, first);
        first = false;
      }
    }
    html += QStringLiteral("</table>\n</div>\n");
  }
  html += QStringLiteral("<div class=\"date\">") + HtmlEscape(texts_.TimesIn.arg(DateZoneDescription())) +
          QStringLiteral("</div>\n</div>\n") + HtmlReportEnd();
  return html;
}

QStringList ContactsExport::CsvHeaders() {
  QStringList headers = CsvColumns();
  // The zone goes into the date columns' own headers: a line of its own would not be CSV.
  const QString zone = QStringLiteral(" (%1)").arg(DateZoneLabel());
  headers[static_cast<qsizetype>(headers.indexOf(QStringLiteral("Created")))] += zone;
  headers[static_cast<qsizetype>(headers.indexOf(QStringLiteral("Modified")))] += zone;
  return headers;
}

QString ContactsExport::CsvText() const {
  const QStringList& columns = CsvColumns();
  QString csv = CsvLine(CsvHeaders());
  for (const ContactItem& item : items_) {
    QMap<QString, QStringList> cells;
    for (const ContactValueItem& value : item.Values) {
      const QString column = CsvColumnOf(value);
      if (!column.isEmpty()) cells[column].append(value.Value);
    }
    cells[QStringLiteral("Name")] = QStringList(item.Unowned ? QString() : item.Name);
    const std::pair<const char*, const QString*> fields[] = {
        {"Job Title", &item.JobTitle}, {"Department", &item.Department}, {"Company", &item.Company},
        {"Note", &item.Note},          {"First Name", &item.First},      {"Middle Name", &item.Middle},
        {"Last Name", &item.Last},     {"Prefix", &item.Prefix},         {"Suffix", &item.Suffix},
        {"Nickname", &item.Nickname},  {"Birthday", &item.Birthday},     {"Created", &item.Created},
        {"Modified", &item.Modified}};
    for (const auto& [column, value] : fields) cells[QLatin1String(column)] = QStringList(*value);
    cells[QStringLiteral("Deleted")] = QStringList(item.Deleted ? QStringLiteral("1") : QStringLiteral("0"));
    QStringList row;
    // Several values of one kind and label share their column.
    for (const QString& column : columns) row.append(cells.value(column).join(QStringLiteral("; ")));
    csv += CsvLine(row);
  }
  return csv;
}

QString ContactsExport::VCardText(const ContactItem& item) {
  QString card = QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\n");
  const auto add = [&card](const QString& property, const QString& value) {
    if (!value.isEmpty()) card += VCardFoldLine(property + QLatin1Char(':') + value);
  };
  card += VCardFoldLine(QStringLiteral("N:%1;%2;%3;%4;%5")
                            .arg(VCardEscape(item.Last), VCardEscape(item.First), VCardEscape(item.Middle),
                                 VCardEscape(item.Prefix), VCardEscape(item.Suffix)));
  // A card without a personal name is its company's.
  add(QStringLiteral("FN"), VCardEscape(item.NameUnknown && !item.Company.isEmpty() ? item.Company : item.Name));
  add(QStringLiteral("NICKNAME"), VCardEscape(item.Nickname));
  if (!item.Company.isEmpty() || !item.Department.isEmpty()) {
    add(QStringLiteral("ORG"), VCardEscape(item.Company) +
                                   (item.Department.isEmpty() ? QString() : QLatin1Char(';') + VCardEscape(item.Department)));
  }
  add(QStringLiteral("TITLE"), VCardEscape(item.JobTitle));
  const QString birthday = DateOnly(item.Birthday);
  add(birthday.isEmpty() ? QStringLiteral("BDAY;VALUE=text") : QStringLiteral("BDAY"), VCardEscape(item.Birthday));
  add(QStringLiteral("NOTE"), VCardEscape(item.Note));
  int group = 0;
  for (const ContactValueItem& value : item.Values) {
    const VCardProperty property = VCardPropertyOf(value.Property);
    const LabelMeaning meaning = MeaningOfLabel(value.Label);
    QStringList types = property.FixedTypes;
    bool typesSayAll = meaning.TypesSayAll;
    for (const QString& type : meaning.VCardTypes) {
      if (property.AllowedTypes.isEmpty() || property.AllowedTypes.contains(type)) {
        types.append(type);
      } else {
        typesSayAll = false;
      }
    }
    // A label that no TYPE says is kept as the text readers show: an X-ABLabel in the
    // value's own group.
    const QString prefix = typesSayAll ? QString() : QStringLiteral("item%1.").arg(++group);
    const QString name = prefix + property.Name + (types.isEmpty() ? QString() : QStringLiteral(";TYPE=") + types.join(QLatin1Char(',')));
    add(name, value.Property == kAddressProperty ? AdrValue(value) : VCardEscape(value.Value));
    if (!prefix.isEmpty()) add(prefix + QStringLiteral("X-ABLabel"), VCardEscape(meaning.Text));
  }
  if (item.Deleted) add(QStringLiteral("X-QUARRY-DELETED"), QStringLiteral("1"));
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
    if (item.Unowned) continue;  // values without their person make no card
    const QString path = UniqueFilePath(folder, CleanFileName(item.Name, QStringLiteral("contact")), QStringLiteral(".vcf"));
    WriteUtf8File(path, VCardText(item), report, ByteOrderMark::Without);
  }
}

}  // namespace quarry::views
