// The contacts export read back: the page as XML, the CSV with an RFC 4180
// reader, the vCards with a vCard reader; names, pictures and failures.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>

#include "export_parsers.h"
#include "quarry/views/contacts_model.h"
#include "quarry/views/html_report.h"
#include "support/test_support.h"

namespace quarry::views {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

struct Exported {
  ExportReport Report;
  QDir Contacts;
};

Exported Export(const ContactsModel& model, const QString& folder) {
  Exported out;
  std::atomic<bool> cancel{false};
  model.SnapshotChecked()->RecoverTo(folder, cancel, out.Report);
  out.Contacts = QDir(QDir(folder).filePath(QStringLiteral("Contacts")));
  return out;
}

TEST(ContactsExport, HostileNamesRoundTripThroughHtmlCsvAndVCard) {
  sieve::test::TempDir dir;
  const std::string picture = dir.Join("face.jpg");
  sieve::test::WriteFile(picture, "\xFF\xD8\xFF\xE0 not really a jpeg");

  std::vector<sieve::ContactRecord> records(6);
  records[0].First = "<script>";
  records[0].Organization = "Acme & Sons";
  records[0].Phone = "+1 555";
  records[0].HomeEmail = "x@y.z";
  records[0].Others = {"o1", "o2", "o3", "o4"};
  records[1].First = "a,\"b\"";
  records[1].Department = "R;D\\lab";
  records[1].Address = "1 Main St\nSpringfield";
  records[1].ImagePath = picture;
  records[1].Deleted = 1;
  records[2].First = "A/B";
  records[3].Last = "Ann";
  records[4].Last = "Ann";  // same name: a second file, not a replacement
  records[5].First = "Zoë 😀 with a name long enough to need folding in its vCard line";
  ContactsModel model;
  for (const auto& r : records) model.AddContact(r);

  const Exported out = Export(model, Q(dir.Path()));
  EXPECT_TRUE(out.Report.Failed.isEmpty()) << out.Report.Failed.join(QLatin1Char('\n')).toStdString();

  // HTML parses as XML and shows every value as it was.
  const QByteArray html = test::ReadBytes(out.Contacts.filePath(QStringLiteral("HTML/Contacts.html")));
  ASSERT_TRUE(html.startsWith("\xEF\xBB\xBF"));
  QString error;
  const auto divs = test::ReadHtmlDivTexts(html, &error);
  ASSERT_TRUE(error.isEmpty()) << error.toStdString();
  QStringList names;
  for (int i = 0; i < model.FoundCount(); ++i) names.append(model.Item(i).Name);
  EXPECT_EQ(divs.value(QStringLiteral("name")), names);
  EXPECT_EQ(divs.value(QStringLiteral("li")), names);
  EXPECT_EQ(divs.value(QStringLiteral("company")).value(0), QStringLiteral("Acme & Sons"));
  EXPECT_EQ(divs.value(QStringLiteral("department")).value(1), QStringLiteral("R;D\\lab"));
  EXPECT_FALSE(html.contains("<script>\n </div>"));
  EXPECT_TRUE(html.contains("Image/deleted_icon.png"));
  const QImage marker(out.Contacts.filePath(QStringLiteral("HTML/Image/deleted_icon.png")));
  EXPECT_EQ(marker.size(), QSize(16, 16));
  EXPECT_TRUE(QFile::exists(out.Contacts.filePath(QStringLiteral("HTML/Images/contact_photo.png"))));
  EXPECT_EQ(test::ReadBytes(out.Contacts.filePath(QStringLiteral("HTML/Images/a,_b_.jpg"))),
            QByteArray("\xFF\xD8\xFF\xE0 not really a jpeg"));

  // CSV: header plus one record per contact, 20 fields each, values exact.
  const auto csv = test::ReadCsv(QString::fromUtf8(test::ReadBytes(out.Contacts.filePath(QStringLiteral("CSV/Contacts.csv")))));
  ASSERT_EQ(csv.size(), records.size() + 1);
  for (const auto& row : csv) EXPECT_EQ(row.size(), 20);
  for (std::size_t i = 0; i < records.size(); ++i) EXPECT_EQ(csv[i + 1][0], names[static_cast<qsizetype>(i)]);
  EXPECT_EQ(csv[1][3], QStringLiteral("Acme & Sons"));
  EXPECT_EQ(csv[1][9], QStringLiteral("o3; o4"));
  EXPECT_EQ(csv[2][16], QStringLiteral("1 Main St\nSpringfield"));

  // vCards: cleaned, unique file names; every value parses back.
  const QDir vcf(out.Contacts.filePath(QStringLiteral("VCF")));
  const QStringList files = vcf.entryList(QDir::Files, QDir::Name);
  EXPECT_EQ(files, (QStringList{QStringLiteral("A_B.vcf"), QStringLiteral("Ann (2).vcf"), QStringLiteral("Ann.vcf"),
                                QStringLiteral("Zoë 😀 with a name long enough to need folding in its vCard line.vcf"),
                                QStringLiteral("_script_.vcf"), QStringLiteral("a,_b_.vcf")}));
  const auto card = [&vcf](const QString& file) {
    const auto cards = test::ReadVCards(QString::fromUtf8(test::ReadBytes(vcf.filePath(file))));
    EXPECT_EQ(cards.size(), 1u) << file.toStdString();
    return cards.empty() ? test::VCard() : cards[0];
  };
  const test::VCard script = card(QStringLiteral("_script_.vcf"));
  EXPECT_EQ(test::VCardUnescape(script.Values(QStringLiteral("FN")).value(0)), QStringLiteral("<script>"));
  EXPECT_EQ(test::VCardComponents(script.Values(QStringLiteral("N")).value(0)).value(1), QStringLiteral("<script>"));
  EXPECT_EQ(script.Values(QStringLiteral("TEL;TYPE=CELL")), QStringList{QStringLiteral("+1 555")});
  EXPECT_EQ(script.Values(QStringLiteral("TEL")).size(), 4);
  EXPECT_EQ(script.Values(QStringLiteral("VERSION")), QStringList{QStringLiteral("3.0")});

  const test::VCard quoted = card(QStringLiteral("a,_b_.vcf"));
  EXPECT_EQ(test::VCardUnescape(quoted.Values(QStringLiteral("FN")).value(0)), QStringLiteral("a,\"b\""));
  EXPECT_EQ(test::VCardComponents(quoted.Values(QStringLiteral("ORG")).value(0)),
            (QStringList{QString(), QStringLiteral("R;D\\lab")}));
  EXPECT_EQ(test::VCardComponents(quoted.Values(QStringLiteral("ADR")).value(0)).value(2),
            QStringLiteral("1 Main St\nSpringfield"));
  EXPECT_EQ(QByteArray::fromBase64(quoted.Values(QStringLiteral("PHOTO;ENCODING=b;TYPE=JPEG")).value(0).toLatin1()),
            QByteArray("\xFF\xD8\xFF\xE0 not really a jpeg"));

  const test::VCard bare = card(QStringLiteral("A_B.vcf"));
  EXPECT_EQ(bare.Values(QStringLiteral("ORG")), QStringList{QStringLiteral(";")});
  EXPECT_TRUE(bare.Values(QStringLiteral("TEL")).isEmpty());
  const QString longName = names[5];
  EXPECT_EQ(test::VCardUnescape(card(longName + QStringLiteral(".vcf")).Values(QStringLiteral("FN")).value(0)), longName);
}

TEST(ContactsExport, NothingCheckedGivesAnEmptyPageAHeaderOnlyCsvAndNoVCards) {
  sieve::test::TempDir dir;
  ContactsModel model;
  sieve::ContactRecord r;
  r.First = "Eve";
  model.AddContact(r);
  model.CheckAll(false);
  const Exported out = Export(model, Q(dir.Path()));
  EXPECT_TRUE(out.Report.Failed.isEmpty());
  QString error;
  const auto divs = test::ReadHtmlDivTexts(test::ReadBytes(out.Contacts.filePath(QStringLiteral("HTML/Contacts.html"))), &error);
  EXPECT_TRUE(error.isEmpty());
  EXPECT_TRUE(divs.value(QStringLiteral("li")).isEmpty());
  EXPECT_EQ(test::ReadCsv(QString::fromUtf8(test::ReadBytes(out.Contacts.filePath(QStringLiteral("CSV/Contacts.csv"))))).size(), 1u);
  EXPECT_TRUE(QDir(out.Contacts.filePath(QStringLiteral("VCF"))).entryList(QDir::Files).isEmpty());
}

TEST(ContactsExport, AFolderThatCannotBeMadeIsAFailureNamingIt) {
  sieve::test::TempDir dir;
  sieve::test::WriteFile(dir.Join("Contacts"), "a file where the folder should go");
  ContactsModel model;
  sieve::ContactRecord r;
  r.First = "Eve";
  model.AddContact(r);
  const Exported out = Export(model, Q(dir.Path()));
  EXPECT_TRUE(out.Report.Written.isEmpty());
  ASSERT_FALSE(out.Report.Failed.isEmpty());
  EXPECT_TRUE(out.Report.Failed[0].contains(QStringLiteral("Contacts"))) << out.Report.Failed[0].toStdString();
}

}  // namespace
}  // namespace quarry::views
