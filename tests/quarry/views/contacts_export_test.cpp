// The contacts export read back by Python's csv, vobject and html.parser (read_export.py):
// hostile names, every kind of value with its label, pictures, and dates in a zone or UTC.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <algorithm>
#include <ctime>
#include <set>

#include "export_parsers.h"
#include "quarry/views/contacts_export.h"
#include "quarry/views/contacts_model.h"
#include "support/test_support.h"

namespace quarry::views {
namespace {

using sieve::test::JsonValue;
using sieve::test::Texts;

struct Exported {
  ExportReport Report;
  QDir Contacts;
  JsonValue Read;  // what Python's csv, vobject and html.parser made of it
};

Exported Export(const ContactsModel& model, const QString& folder) {
  Exported out;
  std::atomic<bool> cancel{false};
  model.SnapshotChecked()->RecoverTo(folder, cancel, out.Report);
  out.Contacts = QDir(QDir(folder).filePath(QStringLiteral("Contacts")));
  const auto run = sieve::test::RunCommand({"/usr/bin/python3", EXPORT_READER, out.Contacts.absolutePath().toStdString()});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  out.Read = sieve::test::ParseJson(run.Out.empty() ? "{}" : run.Out);
  return out;
}

// The `name` lines of a card as vobject read them.
std::vector<const JsonValue*> Lines(const JsonValue& card, const std::string& name) {
  std::vector<const JsonValue*> found;
  for (const JsonValue& line : card["lines"].Items) {
    if (line.Text("name") == name) found.push_back(&line);
  }
  return found;
}

TEST(ContactsExport, HostileNamesRoundTripThroughHtmlCsvAndVCard) {
  sieve::test::TempDir dir;
  const std::string picture = dir.Join("face.jpg"), jpeg = "\xFF\xD8\xFF\xE0 not really a jpeg";
  sieve::test::WriteFile(picture, jpeg);

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

  const Exported out = Export(model, Q(dir.Join("out")));
  EXPECT_TRUE(out.Report.Failed.isEmpty()) << out.Report.Failed.join(QLatin1Char('\n')).toStdString();
  std::vector<std::string> names;
  for (int i = 0; i < model.FoundCount(); ++i) names.push_back(model.Item(i).Name.toStdString());

  // The page shows every value as it was, the deleted marker and the pictures beside it.
  const JsonValue& page = out.Read["html"];
  EXPECT_EQ(Texts(page["items"]), names);
  EXPECT_EQ(Texts(page["divs"]["name"]), names);
  EXPECT_EQ(page["divs"]["company"].Items.at(0).String, "Acme & Sons");
  EXPECT_EQ(page["divs"]["department"].Items.at(1).String, "R;D\\lab");
  EXPECT_EQ(QImage(out.Contacts.filePath(QStringLiteral("HTML/Image/deleted_icon.png"))).size(), QSize(16, 16));
  EXPECT_TRUE(QFile::exists(out.Contacts.filePath(QStringLiteral("HTML/Images/contact_photo.png"))));
  EXPECT_EQ(test::ReadBytes(out.Contacts.filePath(QStringLiteral("HTML/Images/a,_b_.jpg"))).toStdString(), jpeg);

  // CSV: header plus one record per contact, a field for every column, values exact.
  const auto& rows = out.Read["csv"]["rows"].Items;
  ASSERT_EQ(rows.size(), records.size() + 1);
  for (const auto& row : rows) EXPECT_EQ(row.Items.size(), static_cast<std::size_t>(ContactsExport::CsvHeaders().size()));
  for (std::size_t i = 0; i < records.size(); ++i) EXPECT_EQ(rows[i + 1].Items[0].String, names[i]);
  EXPECT_EQ(rows[1].Items[3].String, "Acme & Sons");
  EXPECT_EQ(rows[1].Items[7].String, "+1 555");  // a main number without labelled values is the mobile one
  // Values of one column share it; an address without a label is an other address.
  EXPECT_EQ(rows[1].Items[9].String, "o1; o2; o3; o4");
  EXPECT_EQ(rows[2].Items[18].String, "1 Main St\nSpringfield");

  // vCards: cleaned, unique file names; every value parses back.
  const JsonValue& cards = out.Read["vcards"];
  EXPECT_EQ(cards.Keys, (std::vector<std::string>{"A_B.vcf", "Ann (2).vcf", "Ann.vcf", names[5] + ".vcf",
                                                  "_script_.vcf", "a,_b_.vcf"}));
  for (const JsonValue& card : cards.Items) EXPECT_EQ(card.Int("cards"), 1);
  const JsonValue& script = cards["_script_.vcf"];
  EXPECT_EQ(Lines(script, "FN").at(0)->Text("value"), "<script>");
  EXPECT_EQ((*Lines(script, "N").at(0))["value"].Items.at(1).String, "<script>");
  EXPECT_EQ(Lines(script, "VERSION").at(0)->Text("value"), "3.0");
  std::multiset<std::string> phones;  // value and type
  for (const JsonValue* tel : Lines(script, "TEL")) {
    const JsonValue* type = (*tel)["params"].Find("TYPE");
    phones.insert(tel->Text("value") + (type != nullptr ? " " + Texts(*type).at(0) : ""));
  }
  EXPECT_EQ(phones, (std::multiset<std::string>{"+1 555 CELL", "o1", "o2", "o3", "o4"}));

  const JsonValue& quoted = cards["a,_b_.vcf"];
  EXPECT_EQ(Lines(quoted, "FN").at(0)->Text("value"), "a,\"b\"");
  EXPECT_EQ(Texts((*Lines(quoted, "ORG").at(0))["value"]), (std::vector<std::string>{"", "R;D\\lab"}));
  EXPECT_EQ((*Lines(quoted, "ADR").at(0))["value"].Items.at(2).String, "1 Main St\nSpringfield");
  EXPECT_EQ(QByteArray::fromHex(QByteArray::fromStdString(Lines(quoted, "PHOTO").at(0)->Text("value"))).toStdString(), jpeg);

  EXPECT_TRUE(Lines(cards["A_B.vcf"], "ORG").empty());
  EXPECT_TRUE(Lines(cards["A_B.vcf"], "TEL").empty());
  EXPECT_EQ(Lines(cards[names[5] + ".vcf"], "FN").at(0)->Text("value"), names[5]);
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
  EXPECT_TRUE(out.Read["html"]["items"].Items.empty());
  EXPECT_EQ(out.Read["csv"]["rows"].Items.size(), 1u);
  EXPECT_TRUE(out.Read["vcards"].Items.empty());
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
  const JsonValue& read = out.Read;

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
  const auto all = [&cards](const std::string& name) { return Lines(cards["Kenji Müller.vcf"], name); };
  ASSERT_EQ(all("N").size(), 1u);
  EXPECT_EQ(Texts((*all("N")[0])["value"]), (std::vector<std::string>{"Müller", "Kenji", "", "Dr.", "PhD"}));
  const std::pair<const char*, std::string> single[] = {{"FN", "Kenji Müller"}, {"NICKNAME", "Ken"}, {"TITLE", "Engineer"},
                                                        {"NOTE", kenji.Note}, {"BDAY", "1984-01-01"}, {"X-QUARRY-DELETED", "1"}};
  for (const auto& [name, value] : single) EXPECT_EQ(all(name).at(0)->Text("value"), value) << name;
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
  EXPECT_EQ(Lines(cards["_._x.vcf"], "ORG").size(), 1u);

  // The page: in the window's language, every value beside its label, the unowned value in
  // a table of its own, the zone named at the end.
  const JsonValue& page = read["html"];
  EXPECT_EQ(Texts(page["items"]), (std::vector<std::string>{"Kenji Müller", "李王", "../x"}));
  std::vector<std::vector<std::string>> rows;
  for (const JsonValue& row : page["rows"].Items) rows.push_back(Texts(row));
  // The device's labels and the kinds in the page's language, the user's own label as typed.
  const std::vector<std::string> shown[] = {
      {"DE IDS_CONTACT_LABEL_MOBILE", "+1 555 0001"}, {"Ferienhaus", "+1 555 0009"},
      {"DE IDS_CONTACT_LABEL_PAGER", "+1 555 0008"}, {"DE IDS_CONTACT_LABEL_WORK", "Hauptstraße 5, Berlin, 10115, Germany"},
      {"DE IDS_CONTACT_LABEL_PHONE", "+1 555 0010"}, {"DE IDS_CONTACT_NICKNAME", "Ken"},
      {"DE IDS_CONTACT_CREATED", "2016-01-26 02:00:00"}, {"DE IDS_CONTACT_LABEL_EMAIL", "lost@example.org"}};
  for (const auto& row : shown) EXPECT_NE(std::find(rows.begin(), rows.end(), row), rows.end()) << row[0];
  EXPECT_EQ(page.Text("footer"), "Zeiten in UTC+01:00/+02:00 (Europe/Berlin)");
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

}  // namespace
}  // namespace quarry::views
