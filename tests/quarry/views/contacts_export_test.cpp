// The contacts export read back: the page as XML, the CSV with an RFC 4180
// reader, the vCards with a vCard reader; names and pictures.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <algorithm>
#include <ctime>
#include <map>
#include <set>

#include "export_parsers.h"
#include "quarry/views/contacts_export.h"
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

  // CSV: header plus one record per contact, a field for every column, values exact.
  const auto csv = test::ReadCsv(QString::fromUtf8(test::ReadBytes(out.Contacts.filePath(QStringLiteral("CSV/Contacts.csv")))));
  ASSERT_EQ(csv.size(), records.size() + 1);
  for (const auto& row : csv) EXPECT_EQ(row.size(), ContactsExport::CsvHeaders().size());
  for (std::size_t i = 0; i < records.size(); ++i) EXPECT_EQ(csv[i + 1][0], names[static_cast<qsizetype>(i)]);
  EXPECT_EQ(csv[1][3], QStringLiteral("Acme & Sons"));
  // Values of one column share it; an address without a label is an other address.
  EXPECT_EQ(csv[1][9], QStringLiteral("o1; o2; o3; o4"));
  EXPECT_EQ(csv[2][18], QStringLiteral("1 Main St\nSpringfield"));

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
  EXPECT_TRUE(bare.Values(QStringLiteral("ORG")).isEmpty());
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

using sieve::test::JsonValue;

// What common readers make of an export: Python's csv, vobject and html.parser.
JsonValue ReadWithPython(const QDir& contacts) {
  const auto run = sieve::test::RunCommand({"/usr/bin/python3", EXPORT_READER, contacts.absolutePath().toStdString()});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  return sieve::test::ParseJson(run.Out.empty() ? "{}" : run.Out);
}

std::vector<std::string> Texts(const JsonValue& list) {
  std::vector<std::string> texts;
  for (const JsonValue& item : list.Items) texts.push_back(item.String);
  return texts;
}

sieve::ContactValue Value(int property, const char* label, const char* value,
                          std::vector<std::pair<std::string, std::string>> parts = {}) {
  return {property, label, value, std::move(parts)};
}

// Every value keeps its kind and its label, in each format in the way its readers know.
TEST(ContactsExport, EveryFieldKindAndLabelReachesCsvVCardAndPage) {
  const struct {
    sieve::ContactValue In;
    const char* CsvColumn;
    const char* VCardName;
    std::vector<std::string> Types;
    const char* Label;  // the X-ABLabel of the value's group, "" for none
  } cases[] = {
      {Value(3, "_$!<Mobile>!$_", "+1 555 0001"), "Mobile Phone", "TEL", {"CELL"}, ""},
      {Value(3, "iPhone", "+1 555 0002"), "iPhone", "TEL", {"CELL"}, "iPhone"},
      {Value(3, "_$!<Home>!$_", "+1 555 0003"), "Home Phone", "TEL", {"HOME"}, ""},
      {Value(3, "_$!<Work>!$_", "+1 555 0004"), "Work Phone", "TEL", {"WORK"}, ""},
      {Value(3, "_$!<Main>!$_", "+1 555 0005"), "Main Phone", "TEL", {}, "main"},
      {Value(3, "_$!<HomeFAX>!$_", "+1 555 0006"), "Home Fax", "TEL", {"FAX", "HOME"}, ""},
      {Value(3, "_$!<WorkFAX>!$_", "+1 555 0007"), "Work Fax", "TEL", {"FAX", "WORK"}, ""},
      {Value(3, "_$!<Pager>!$_", "+1 555 0008"), "Pager", "TEL", {"PAGER"}, ""},
      {Value(3, "Ferienhaus", "+1 555 0009"), "Other Phone", "TEL", {}, "Ferienhaus"},
      {Value(3, "", "+1 555 0010"), "Other Phone", "TEL", {}, ""},
      {Value(4, "_$!<Home>!$_", "k@home.example"), "Home E-mail", "EMAIL", {"HOME", "INTERNET"}, ""},
      {Value(4, "_$!<Work>!$_", "k@work.example"), "Work E-mail", "EMAIL", {"INTERNET", "WORK"}, ""},
      {Value(4, "Büro 2", "k@buero.example"), "Other E-mail", "EMAIL", {"INTERNET"}, "Büro 2"},
      {Value(5, "_$!<Work>!$_", "Hauptstraße 5, Berlin, 10115, Germany",
             {{"Street", "Hauptstraße 5"}, {"City", "Berlin"}, {"ZIP", "10115"}, {"Country", "Germany"}}),
       "Work Address", "ADR", {"WORK"}, ""},
      {Value(22, "_$!<HomePage>!$_", "https://k.example/?a=1&b=2"), "Home Page", "URL", {}, "home page"},
  };
  sieve::test::ScopedTimeZone zone("Europe/Berlin");
  sieve::test::TempDir dir;
  std::vector<sieve::ContactRecord> records(4);
  sieve::ContactRecord& kenji = records[0];
  kenji.First = "Kenji";
  kenji.Last = "Müller";
  kenji.Prefix = "Dr.";
  kenji.Suffix = "PhD";
  kenji.Nickname = "Ken";
  kenji.JobTitle = "Engineer";
  kenji.Note = "likes \"quotes\", commas; and <b>tags</b>";
  kenji.Birthday = "1984-01-01";
  kenji.CreationDate = "2016-01-26 02:00:00";
  kenji.ModificationDate = "2016-06-14 12:12:45";
  kenji.HomeEmail = kenji.WorkEmail = "k@home.example";  // the fixed fields repeat a value
  kenji.Deleted = 1;
  for (const auto& c : cases) kenji.Values.push_back(c.In);
  records[1].First = "李";
  records[1].Last = "王";
  records[1].Birthday = "1984-02-29 (from sync)";
  records[2].Unowned = records[2].Deleted = 1;
  records[2].Values = {Value(4, "", "lost@example.org")};
  records[3].First = "../x";
  records[3].Organization = "Acme";

  // Another language for the window: names and headers stay English, the page follows it.
  const TextLookup german = [](const QString& key) {
    if (key == QLatin1String("IDS_RECOVERY_MAIN_CONTACT")) return QStringLiteral("Kontakte");
    if (key == QLatin1String("IDS_REPORT_TIMES_IN")) return QStringLiteral("Zeiten in %1");
    return QStringLiteral("DE ") + key;
  };
  ContactsModel model(german);
  for (const auto& r : records) model.AddContact(r);
  const Exported out = Export(model, Q(dir.Path()));
  ASSERT_TRUE(out.Report.Failed.isEmpty()) << out.Report.Failed.join(QLatin1Char('\n')).toStdString();
  ASSERT_TRUE(out.Contacts.exists());
  const JsonValue read = ReadWithPython(out.Contacts);

  // CSV: English headers with the zone in the date columns, one column per kind and label.
  const JsonValue& csv = read["csv"];
  EXPECT_TRUE(csv["bom"].Bool);
  const std::vector<std::string> headers = Texts(csv["rows"].Items.at(0));
  ASSERT_EQ(csv["rows"].Items.size(), records.size() + 1);
  const auto cell = [&](std::size_t row, const std::string& header) {
    const auto at = std::find(headers.begin(), headers.end(), header);
    EXPECT_NE(at, headers.end()) << header;
    return at == headers.end() ? std::string() : csv["rows"].Items.at(row).Items.at(static_cast<std::size_t>(at - headers.begin())).String;
  };
  EXPECT_EQ(headers.at(0), "Name");
  EXPECT_EQ(headers.at(19), "Note");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.In.Value);
    const QStringList shared = Q(cell(1, c.CsvColumn)).split(QStringLiteral("; "));
    EXPECT_TRUE(shared.contains(Q(c.In.Value))) << cell(1, c.CsvColumn);
  }
  const std::pair<const char*, std::string> fields[] = {
      {"Name", "Kenji Müller"}, {"First Name", "Kenji"}, {"Last Name", "Müller"}, {"Prefix", "Dr."},
      {"Suffix", "PhD"}, {"Nickname", "Ken"}, {"Job Title", "Engineer"}, {"Note", kenji.Note},
      {"Birthday", "1984-01-01"}, {"Created (UTC+01:00/+02:00)", kenji.CreationDate},
      {"Modified (UTC+01:00/+02:00)", kenji.ModificationDate}, {"Deleted", "1"}, {"Company", ""}};
  for (const auto& [header, value] : fields) EXPECT_EQ(cell(1, header), value) << header;
  EXPECT_EQ(cell(2, "Name"), "李王");
  EXPECT_EQ(cell(2, "Deleted"), "0");
  EXPECT_EQ(cell(3, "Name"), "");  // values, not a person
  EXPECT_EQ(cell(3, "Other E-mail"), "lost@example.org");

  // vCards: no byte-order mark, no card for the unowned values, names that cannot hide.
  const JsonValue& cards = read["vcards"];
  EXPECT_EQ(cards.Keys, (std::vector<std::string>{"Kenji Müller.vcf", "_._x.vcf", "李王.vcf"}));
  for (const JsonValue& card : cards.Items) {
    EXPECT_FALSE(card["bom"].Bool);
    EXPECT_EQ(card.Int("cards"), 1);
  }
  const JsonValue& lines = cards["Kenji Müller.vcf"]["lines"];
  const auto all = [&lines](const std::string& name) {
    std::vector<const JsonValue*> found;
    for (const JsonValue& line : lines.Items) {
      if (line.Text("name") == name) found.push_back(&line);
    }
    return found;
  };
  ASSERT_EQ(all("N").size(), 1u);
  EXPECT_EQ(Texts((*all("N")[0])["value"]), (std::vector<std::string>{"Müller", "Kenji", "", "Dr.", "PhD"}));
  EXPECT_EQ(all("FN").at(0)->Text("value"), "Kenji Müller");
  EXPECT_EQ(all("NICKNAME").at(0)->Text("value"), "Ken");
  EXPECT_EQ(all("TITLE").at(0)->Text("value"), "Engineer");
  EXPECT_EQ(all("NOTE").at(0)->Text("value"), kenji.Note);
  EXPECT_EQ(all("BDAY").at(0)->Text("value"), "1984-01-01");
  EXPECT_EQ(all("X-QUARRY-DELETED").at(0)->Text("value"), "1");
  EXPECT_TRUE(all("ORG").empty());
  EXPECT_EQ(all("EMAIL").size(), 3u);  // each address once
  EXPECT_EQ(all("TEL").size(), 10u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.In.Value);
    const JsonValue* line = nullptr;
    for (const JsonValue* candidate : all(c.VCardName)) {
      const JsonValue& v = (*candidate)["value"];
      const bool same = v.Type == JsonValue::Kind::Array ? v.Items.at(2).String == c.In.Parts.at(0).second
                                                         : v.String == c.In.Value;
      if (same) line = candidate;
    }
    ASSERT_NE(line, nullptr);
    std::vector<std::string> types;
    if (const JsonValue* type = (*line)["params"].Find("TYPE")) types = Texts(*type);
    std::sort(types.begin(), types.end());
    EXPECT_EQ(types, c.Types);
    std::string label;
    for (const JsonValue* l : all("X-ABLABEL")) {
      if (!line->Text("group").empty() && l->Text("group") == line->Text("group")) label = l->Text("value");
    }
    EXPECT_EQ(label, c.Label);
  }
  const JsonValue& adr = *all("ADR").at(0);
  EXPECT_EQ(Texts(adr["value"]), (std::vector<std::string>{"", "", "Hauptstraße 5", "Berlin", "", "10115", "Germany"}));
  const JsonValue& li = cards["李王.vcf"]["lines"];
  EXPECT_EQ(li.Items.at(2).Text("value"), "李王");  // FN after VERSION and N
  bool textBirthday = false;
  for (const JsonValue& line : li.Items) textBirthday = textBirthday || line.Text("value") == "1984-02-29 (from sync)";
  EXPECT_TRUE(textBirthday);
  bool company = false;
  for (const JsonValue& line : cards["_._x.vcf"]["lines"].Items) company = company || line.Text("name") == "ORG";
  EXPECT_TRUE(company);

  // The page: in the window's language, every value beside its label, the unowned value in
  // a table of its own, the zone named at the end.
  const JsonValue& page = read["html"];
  EXPECT_EQ(Texts(page["items"]), (std::vector<std::string>{"Kenji Müller", "李王", "../x"}));
  std::vector<std::vector<std::string>> rows;
  for (const JsonValue& row : page["rows"].Items) rows.push_back(Texts(row));
  const auto hasRow = [&rows](const std::string& label, const std::string& value) {
    return std::find(rows.begin(), rows.end(), std::vector<std::string>{label, value}) != rows.end();
  };
  // The device's labels and the kinds in the page's language, the user's own label as typed.
  EXPECT_TRUE(hasRow("DE IDS_CONTACT_LABEL_MOBILE", "+1 555 0001"));
  EXPECT_TRUE(hasRow("Ferienhaus", "+1 555 0009"));
  EXPECT_TRUE(hasRow("DE IDS_CONTACT_LABEL_PAGER", "+1 555 0008"));
  EXPECT_TRUE(hasRow("DE IDS_CONTACT_LABEL_WORK", "Hauptstraße 5, Berlin, 10115, Germany"));
  EXPECT_TRUE(hasRow("DE IDS_CONTACT_LABEL_PHONE", "+1 555 0010"));
  EXPECT_TRUE(hasRow("DE IDS_CONTACT_NICKNAME", "Ken"));
  EXPECT_TRUE(hasRow("DE IDS_CONTACT_CREATED", "2016-01-26 02:00:00"));
  EXPECT_TRUE(hasRow("DE IDS_CONTACT_LABEL_EMAIL", "lost@example.org"));
  EXPECT_EQ(page.Text("footer"), "Zeiten in UTC+01:00/+02:00 (Europe/Berlin)");
  EXPECT_TRUE(QFile::exists(out.Contacts.filePath(QStringLiteral("HTML/Contacts.html"))));
}


// The headless recovery of a generated backup: dates in the zone TZ names, or in UTC with
// --utc, and the CSV's date headers say which. Each zone's text is checked against the C
// library's own conversion of the UTC text.
TEST(ContactsExport, HeadlessRecoveryShowsDatesInTheComputersZoneOrInUtc) {
  sieve::test::TempDir dir;
  const auto backup = sieve::test::MakeBackup(dir, "backup", {"--profile", "small", "--seed", "11"});
  const auto recover = [&](const std::string& name, const char* zone, bool utc) {
    std::vector<std::string> argv = {QUARRY_CLI, "--recover", backup.Folder, "--out", dir.Join(name),
                                     "--categories", "contacts"};
    if (utc) argv.push_back("--utc");
    const auto run = sieve::test::RunCommand(argv, {}, {std::string("TZ=") + zone});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    const QString folder = Q(run.Out).trimmed();
    return test::ReadCsv(QString::fromUtf8(test::ReadBytes(QDir(folder).filePath(QStringLiteral("Contacts/CSV/Contacts.csv")))));
  };
  const auto inUtc = recover("utc", "America/New_York", true);
  ASSERT_GT(inUtc.size(), 1u);
  const qsizetype created = inUtc[0].indexOf(QStringLiteral("Created (UTC)"));
  ASSERT_GE(created, 0) << inUtc[0].join(QLatin1Char(',')).toStdString();
  const struct {
    const char* Zone;
    const char* Header;
  } zones[] = {{"America/New_York", "Created (UTC-05:00/-04:00)"}, {"Asia/Tokyo", "Created (UTC+09:00)"}};
  for (const auto& z : zones) {
    SCOPED_TRACE(z.Zone);
    const auto local = recover(z.Zone, z.Zone, false);
    ASSERT_EQ(local.size(), inUtc.size());
    EXPECT_EQ(local[0].value(created), QLatin1String(z.Header));
    sieve::test::ScopedTimeZone zone(z.Zone);
    int dated = 0;
    for (std::size_t row = 1; row < local.size(); ++row) {
      const QString utcText = inUtc[row].value(created);
      if (utcText.isEmpty()) {
        EXPECT_TRUE(local[row].value(created).isEmpty());
        continue;
      }
      std::tm fields{};
      ASSERT_NE(strptime(utcText.toStdString().c_str(), "%Y-%m-%d %H:%M:%S", &fields), nullptr);
      const std::time_t moment = timegm(&fields);
      std::tm there{};
      localtime_r(&moment, &there);
      char text[32];
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &there);
      EXPECT_EQ(local[row].value(created), QLatin1String(text));
      ++dated;
    }
    EXPECT_GT(dated, 0);
  }
}

// The address books of current phones, recovered headless and read back by vobject: each
// live person's card carries every phone number and e-mail the generator gave them, and
// their picture byte for byte.
TEST(ContactsExport, CurrentAddressBooksReachVCardsWholeWithTheirPictures) {
  for (const char* version : {"13.7", "16.7", "18.2"}) {
    SCOPED_TRACE(version);
    sieve::test::TempDir dir;
    const auto backup = sieve::test::MakeBackup(
        dir, "backup", {"--profile", "small", "--seed", "11", "--product-version", version, "--manifest-db"});
    const auto run = sieve::test::RunCommand(
        {QUARRY_CLI, "--recover", backup.Folder, "--out", dir.Join("out"), "--categories", "contacts"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const JsonValue read = ReadWithPython(QDir(QDir(Q(run.Out).trimmed()).filePath(QStringLiteral("Contacts"))));
    // Each card's numbers and addresses, and its picture's digest.
    std::map<std::set<std::string>, std::string> cards;
    for (const JsonValue& card : read["vcards"].Items) {
      std::set<std::string> values;
      std::string photo;
      for (const JsonValue& line : card["lines"].Items) {
        if (line.Text("name") == "TEL" || line.Text("name") == "EMAIL") values.insert(line["value"].String);
        if (line.Text("name") == "PHOTO") {
          photo = sieve::test::Sha256Hex(QByteArray::fromHex(QByteArray::fromStdString(line["value"].String)).toStdString());
        }
      }
      cards[values] = photo;
    }
    const JsonValue truth = sieve::test::ParseJson(sieve::test::ReadFile(backup.TruthPath));
    const auto& people = truth["databases"]["contacts"]["people"].Items;
    ASSERT_GE(people.size(), 10u);
    int pictures = 0;
    for (const JsonValue& person : people) {
      std::set<std::string> values;
      for (const char* kind : {"Phones", "Emails"}) {
        for (const JsonValue& v : person[kind].Items) values.insert(v.String);
      }
      const auto card = cards.find(values);
      ASSERT_NE(card, cards.end()) << person.Text("Last");
      const JsonValue& picture = person["ImageSha256"];
      EXPECT_EQ(card->second, picture.IsNull() ? "" : picture.String) << person.Text("Last");
      pictures += picture.IsNull() ? 0 : 1;
    }
    EXPECT_GT(pictures, 0);
  }
}

}  // namespace
}  // namespace quarry::views
