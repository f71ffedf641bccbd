#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sieve/extractors/contact_fields.h"
#include "sieve/extractors/contact_info.h"
#include "sieve/extractors/contact_sqlite.h"
#include "sieve/private_folder.h"
#include "extractor_test.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using test::JsonValue;
using test::TempDir;

struct Layout {
  std::string version;
  std::string name;  // the generator's layout name
  bool manifestDb = false;
};
const std::vector<Layout> kLayouts = {{"5.1.1", "ios5"},         {"9.3.2", "ios8"},         {"13.7", "ios13"},
                                      {"13.7", "ios13", true},   {"16.7", "ios16"},         {"16.7", "ios16", true},
                                      {"18.2", "ios18"},         {"18.2", "ios18", true}};

// Reads an address book the way the scan hands it over.
struct Reading {
  ScanContext context;
  PrivateFolder folder;
  CContactInfo info;
  int result = -1;

  Reading(const std::string& book, const std::string& images, const std::string& version) {
    context.productVersion = version;
    context.privateFolder = &folder;
    info.SetContext(&context);
    DatabaseSource main, second;
    main.main.path = book;
    second.main.path = images;
    info.SetDatabase(RuleAction::MainDatabase, main);
    if (!images.empty()) info.SetDatabase(RuleAction::SecondDatabase, second);
    result = info.read("");
  }
  std::vector<const ContactRecord*> Where(int deleted) const {
    std::vector<const ContactRecord*> out;
    for (const auto& r : info.Records()) {
      if (r->Deleted == deleted) out.push_back(r.get());
    }
    return out;
  }
};

// Every value a record shows, wherever it was placed.
std::set<std::string> ValuesOf(const ContactRecord& r) {
  std::set<std::string> values(r.Others.begin(), r.Others.end());
  for (const std::string* f : {&r.HomePhone, &r.WorkPhone, &r.Phone, &r.HomeEmail, &r.WorkEmail, &r.HomePage}) {
    if (!f->empty()) values.insert(*f);
  }
  return values;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    const std::size_t end = std::min(text.find(separator, start), text.size());
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

// Seconds since 2001 as the records show them; 0 is no date.
std::string ExpectedDate(std::int64_t macSeconds) {
  return macSeconds == 0 ? std::string() : test::TestZoneDateText(macSeconds + 978307200);
}


// A layout's generated backup: its contacts truth, address book and images database.
struct Generated {
  const JsonValue& truth;
  std::string book, images;

  explicit Generated(const test::LayoutBackup& backup)
      : truth(backup.Database("contacts")),
        book(backup.Stored(truth.Text("path"))),
        images(backup.Stored(truth.Text("images_path"))) {}
};

class ContactLayouts : public testing::TestWithParam<Layout> {
 protected:
  Generated G() const {
    std::vector<std::string> options;
    if (GetParam().manifestDb) options.push_back("--manifest-db");
    return Generated(test::SmallBackup(GetParam().version, "11", options));
  }
};

// The names straight from SQLite, the multi-value placement and pictures from the generator's
// own record of what it wrote.
TEST_P(ContactLayouts, LivePeopleMatchAPlainReadInEveryField) {
  const Generated g = G();
  ASSERT_EQ(g.truth.Text("layout"), GetParam().name);
  Reading reading(g.book, g.images, GetParam().version);
  ASSERT_EQ(reading.result, 0);
  const auto live = reading.Where(0);

  const auto rows = test::Query(g.book, "SELECT ROWID, First, Last, Middle, Organization, Department, Note, JobTitle, "
                                         "Prefix, Suffix, Nickname, CreationDate, ModificationDate FROM ABPerson ORDER BY ROWID");
  ASSERT_EQ(rows.size(), live.size());
  int addresses = 0;
  for (std::size_t n = 0; n < rows.size(); ++n) {
    const ContactRecord& r = *live[n];
    SCOPED_TRACE(r.RowID);
    EXPECT_EQ(std::to_string(r.RowID), rows[n][0]);
    const std::string* fields[] = {&r.First, &r.Last, &r.Middle, &r.Organization, &r.Department,
                                   &r.Note,  &r.JobTitle, &r.Prefix, &r.Suffix, &r.Nickname};
    for (int c = 0; c < 10; ++c) EXPECT_EQ(*fields[c], rows[n][c + 1]) << "column " << c + 1;
    EXPECT_EQ(r.CreationDate, ExpectedDate(std::atoll(rows[n][11].c_str())));
    EXPECT_EQ(r.ModificationDate, ExpectedDate(std::atoll(rows[n][12].c_str())));
    // Every multi-value with its kind and label text; an address by its parts.
    const auto values = test::Query(g.book,
        "SELECT v.property, IFNULL(l.value, ''), IFNULL(v.value, ''), "
        " (SELECT group_concat(k.value || '=' || e.value, '|') FROM (SELECT * FROM ABMultiValueEntry ORDER BY value) e "
        "  JOIN ABMultiValueEntryKey k ON k.ROWID = e.key WHERE e.parent_id = v.UID) "
        "FROM ABMultiValue v LEFT JOIN ABMultiValueLabel l ON l.ROWID = v.label WHERE v.record_id = " +
        rows[n][0] + " ORDER BY v.UID");
    ASSERT_EQ(values.size(), r.Values.size());
    for (std::size_t k = 0; k < values.size(); ++k) {
      const ContactValue& v = r.Values[k];
      EXPECT_EQ(std::to_string(v.Property), values[k][0]);
      EXPECT_EQ(v.Label, values[k][1]);
      if (v.Property != kPropertyAddress) {
        EXPECT_EQ(v.Value, values[k][2]);
        EXPECT_TRUE(v.Parts.empty());
        continue;
      }
      ++addresses;
      // The same parts, read in the order people read an address.
      std::vector<std::string> want = Split(values[k][3], '|'), got;
      std::map<std::string, std::size_t> position;
      for (const auto& [key, part] : v.Parts) {
        position[key] = position.size();
        got.push_back(key + "=" + part);
      }
      std::sort(want.begin(), want.end());
      std::sort(got.begin(), got.end());
      EXPECT_EQ(got, want);
      EXPECT_LT(position.at("Street"), position.at("City"));
      if (position.count("ZIP") != 0) {
        EXPECT_LT(position.at("City"), position.at("ZIP"));
      }
      EXPECT_EQ(v.Value.substr(0, v.Parts[0].second.size()), v.Parts[0].second);
    }
  }
  EXPECT_GT(addresses, 0);

  const JsonValue& people = g.truth["people"];
  ASSERT_EQ(people.Items.size(), live.size());
  int pictures = 0;
  for (std::size_t i = 0; i < live.size(); ++i) {
    const ContactRecord& r = *live[i];
    const JsonValue& want = people.Items[i];
    SCOPED_TRACE(r.RowID);
    EXPECT_EQ(r.Birthday, want.Text("Birthday")) << want.Text("BirthdayStored");
    EXPECT_EQ(r.HomePhone, want.Text("HomePhone"));
    EXPECT_EQ(r.WorkPhone, want.Text("WorkPhone"));
    EXPECT_EQ(r.Phone, want.Text("Phone"));
    EXPECT_EQ(r.HomeEmail, want.Text("HomeEmail"));
    EXPECT_EQ(r.WorkEmail, want.Text("WorkEmail"));
    EXPECT_EQ(r.HomePage, want.Text("HomePage"));
    EXPECT_TRUE(r.Address.empty());
    std::vector<std::string> others;
    for (const JsonValue& o : want["Others"].Items) others.push_back(o.String);
    EXPECT_EQ(r.Others, others);
    if (want["ImageSha256"].IsNull()) {
      EXPECT_TRUE(r.ImagePath.empty());
    } else {
      ++pictures;
      ASSERT_FALSE(r.ImagePath.empty());
      EXPECT_EQ(test::Sha256Hex(test::ReadFile(r.ImagePath)), want["ImageSha256"].String);
    }
  }
  EXPECT_GT(pictures, 0);
}

// Deleted people whose row survives are found, with the values that survive, and nothing
// else is reported: no live person, no value of somebody else.
TEST_P(ContactLayouts, DeletedPeopleRecallAndPrecision) {
  const Generated g = G();
  Reading reading(g.book, g.images, GetParam().version);
  const auto recovered = reading.Where(1);
  const JsonValue& deleted = g.truth["deleted_people"];
  const JsonValue& lone = g.truth["deleted_multivalues"];

  std::set<std::string> liveValues;
  for (const JsonValue& p : g.truth["people"].Items) {
    for (const char* list : {"Phones", "Emails"}) {
      for (const JsonValue& v : p[list].Items) liveValues.insert(v.String);
    }
  }
  // Which truth entry a recovered record stands for: a person by name, or a lone value.
  const auto personOf = [&](const ContactRecord& r) -> const JsonValue* {
    for (const JsonValue& want : deleted.Items) {
      if (!r.Last.empty() && r.First == want.Text("First") && r.Last == want.Text("Last")) return &want;
    }
    const std::set<std::string> values = ValuesOf(r);
    for (const JsonValue& want : deleted.Items) {
      for (const JsonValue& v : want["values"].Items) {
        if (r.Last.empty() && values.count(v.Text("value"))) return &want;
      }
    }
    return nullptr;
  };
  // A deleted value of a live person comes under that person's name.
  const auto isLone = [&](const ContactRecord& r) {
    const std::set<std::string> values = ValuesOf(r);
    for (const JsonValue& v : lone.Items) {
      if (!values.count(v.Text("value"))) continue;
      for (const JsonValue& owner : g.truth["people"].Items) {
        if (owner.Int("RowID") != v.Int("record_id")) continue;
        if (r.First == owner.Text("First") && r.Last == owner.Text("Last") && r.Unowned == 0) return true;
      }
    }
    return false;
  };

  test::Recovery people, values;  // people and their values; precision over the records
  for (const JsonValue& want : deleted.Items) {
    const ContactRecord* got = nullptr;
    for (const ContactRecord* r : recovered) {
      if (personOf(*r) == &want) got = r;
    }
    if (want["intact"].Bool) {
      ++people.intact;
      people.found += got != nullptr;
    }
    for (const JsonValue& v : want["values"].Items) {
      if (!v["intact"].Bool) continue;
      ++values.intact;
      values.found += got != nullptr && ValuesOf(*got).count(v.Text("value")) != 0;
    }
  }
  for (const JsonValue& v : lone.Items) {
    if (!v["intact"].Bool) continue;
    ++values.intact;
    bool found = false;
    for (const ContactRecord* r : recovered) found = found || ValuesOf(*r).count(v.Text("value")) != 0;
    values.found += found;
  }
  for (const ContactRecord* r : recovered) {
    const JsonValue* person = personOf(*r);
    bool right = person != nullptr || isLone(*r);
    // Each value shown belongs to that very person (or is a lone deleted value).
    std::set<std::string> own;
    if (person != nullptr) {
      for (const JsonValue& v : (*person)["values"].Items) own.insert(v.Text("value"));
    }
    for (const JsonValue& v : lone.Items) own.insert(v.Text("value"));
    EXPECT_EQ(std::set<std::string>(r->Others.begin(), r->Others.end()).size(), r->Others.size())
        << r->Last << " shows a value twice";
    for (const std::string& value : ValuesOf(*r)) {
      EXPECT_TRUE(own.count(value)) << r->Last << " shows " << value;
      EXPECT_FALSE(liveValues.count(value)) << r->Last << " shows the live value " << value;
      right = right && own.count(value) != 0;
    }
    EXPECT_TRUE(right) << "reported: '" << r->First << "' '" << r->Last << "' with " << ValuesOf(*r).size()
                       << " values";
    people.correct += right;
  }
  people.reported = recovered.size();
  people.Expect("contacts " + GetParam().name, 0.9, 0.95);
  values.Expect("contact values " + GetParam().name, 0.9, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ContactLayouts, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<Layout>& info) {
                           return info.param.name + (info.param.manifestDb ? "_manifest_db" : "");
                         });

// A small address book built here, with label rows numbered unlike any device's: values are
// placed by their label's text, birthdays read as days unless they are no number, and names
// found for numbers and addresses written other ways.
TEST(HandMadeBook, LabelsByTheirTextBirthdaysAndContactNames) {
  TempDir dir;
  const std::string path = dir.Join("book.sqlite");
  test::ExecSql(path,
      "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, Middle TEXT,"
      " Organization TEXT, Department TEXT, Note TEXT, Birthday TEXT, JobTitle TEXT, Prefix TEXT, Suffix TEXT);"
      "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property INTEGER,"
      " identifier INTEGER, label INTEGER, value TEXT);"
      "CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value));"
      "CREATE TABLE ABMultiValueEntry (parent_id INTEGER, key INTEGER, value TEXT);"
      // Label rows 1..4: Work, Home, iPhone, Main -- the old fixed numbers would misplace all.
      "INSERT INTO ABMultiValueLabel VALUES ('_$!<Work>!$_'), ('_$!<Home>!$_'), ('iPhone'), ('_$!<Main>!$_');"
      "INSERT INTO ABPerson (ROWID, First, Last, Birthday) VALUES (1, 'Ada', 'King', '-536544000.000000'),"
      " (2, 'Bo', 'Lind', 'sometime in May'), (3, NULL, NULL, NULL), (4, 'Cy', 'Moe', '0');"
      "UPDATE ABPerson SET Organization = 'Acme' WHERE ROWID = 3;"
      "INSERT INTO ABMultiValue (record_id, property, identifier, label, value) VALUES"
      " (1, 3, 0, 2, '+1 (571) 308-3236'), (1, 3, 1, 1, '020 7946 0018'), (1, 3, 2, 3, '0171 555 0101'),"
      " (1, 4, 0, 1, 'Ada.King@Example.org'), (1, 4, 1, 2, 'ada@home.example'), (1, 22, 0, 4, 'https://ada.example'),"
      " (2, 3, 0, 4, '911'), (2, 4, 0, NULL, 'bo@example.com'),"
      " (3, 3, 0, 1, '+44 20 7946 0999'), (4, 3, 0, 2, '555-0100');");
  Reading reading(path, "", "9.3.2");
  ASSERT_EQ(reading.result, 0);
  const auto live = reading.Where(0);
  ASSERT_EQ(live.size(), 4u);
  const ContactRecord& ada = *live[0];
  EXPECT_EQ(ada.HomePhone, "+1 (571) 308-3236");
  EXPECT_EQ(ada.WorkPhone, "020 7946 0018");
  EXPECT_EQ(ada.Phone, "0171 555 0101");  // iPhone: the main number, also in Others
  // A second e-mail finds its field taken: Others, after the numbers before it.
  EXPECT_EQ(ada.Others, (std::vector<std::string>{"0171 555 0101", "ada@home.example"}));
  EXPECT_EQ(ada.HomeEmail, "Ada.King@Example.org");  // the first e-mail, although labelled Work
  EXPECT_EQ(ada.WorkEmail, "Ada.King@Example.org");
  EXPECT_EQ(ada.HomePage, "https://ada.example");
  // An e-mail without a label still lands, and a Main phone has no field of its own.
  EXPECT_EQ(live[1]->HomeEmail, "bo@example.com");
  EXPECT_EQ(live[1]->Others, std::vector<std::string>{"911"});
  EXPECT_TRUE(reading.Where(1).empty());
  EXPECT_EQ(live[0]->Birthday, "1984-01-01");  // 1984-01-01 00:00 UTC, seconds since 2001
  EXPECT_EQ(live[1]->Birthday, "sometime in May");
  EXPECT_EQ(live[2]->Birthday, "");
  EXPECT_EQ(live[3]->Birthday, "2001-01-01");
  EXPECT_EQ(BirthdayText("  "), "");
  EXPECT_EQ(BirthdayText("12abc"), "12abc");
  const CContactInfo& info = reading.info;
  const std::pair<const char*, const char*> cases[] = {
      // One line written three ways; a short number matches nobody: six digits are not enough,
      // nor Bo's 911; exactly seven digits are.
      {"+1 (571) 308-3236", "Ada King"}, {"5713083236", "Ada King"}, {"+15713083236", "Ada King"},
      {"3083236", "Ada King"}, {"083236", ""}, {"911", ""}, {"+15713083237", ""}, {"555-0100", "Cy Moe"},
      // E-mail: whole address, any case; a part of one is nobody.
      {"ada.king@example.ORG", "Ada King"}, {"king@example.org", ""}, {"BO@example.com", "Bo Lind"},
      // A company card is named by its organization; a trunk 0 stands where the country code was.
      {"020 7946 0999", "Acme"}, {"0044 20 7946 0999", "Acme"}, {"", ""}};
  for (const auto& [address, name] : cases) EXPECT_EQ(info.FindContactName(address), name) << address;
}

TEST(ContactFields, PhoneKeysAgreeOnTheShorterTail) {
  EXPECT_EQ(PhoneKey("+1 (571) 308-3236"), "15713083236");
  EXPECT_EQ(PhoneKey("308-32"), "");
  EXPECT_TRUE(SamePhone("15713083236", "5713083236"));
  EXPECT_FALSE(SamePhone("15713083236", "5713083237"));
  EXPECT_FALSE(SamePhone("123456", "123456"));
  EXPECT_TRUE(SamePhone("442079460999", "02079460999"));
  EXPECT_FALSE(SamePhone("0001234", "1234"));
  EXPECT_EQ(EmailKey(" A@B.c "), "a@b.c");
  EXPECT_EQ(EmailKey("no at sign"), "");
  EXPECT_EQ(ClassifyLabel("_$!<Mobile>!$_"), LabelKind::Mobile);
  EXPECT_EQ(ClassifyLabel("Büro 2"), LabelKind::Other);
}

// An address book of six people with one phone number each, with the guid columns (and so
// the guid index) of later systems or without them, after the people named were deleted.
std::string BookWithDeletedPeople(const TempDir& dir, bool guid, const std::string& deleted) {
  const std::string path = dir.Join("book.sqlite");
  const std::string guidColumn = guid ? ", guid TEXT, UNIQUE(guid)" : "";
  std::string script =
      "PRAGMA secure_delete = OFF;"
      "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, Middle TEXT,"
      " Organization TEXT, Department TEXT, Note TEXT, Birthday TEXT, JobTitle TEXT, Prefix TEXT, Suffix TEXT" +
      guidColumn + ");"
      "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property INTEGER,"
      " identifier INTEGER, label INTEGER, value TEXT" + guidColumn + ");"
      "CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value));";
  for (int i = 1; i <= 6; ++i) {
    const std::string n = std::to_string(i);
    const std::string personGuid = guid ? ", 'AB12CD34-0000-4000-8000-00000000000" + n + "'" : "";
    const std::string valueGuid = guid ? ", 'EF56-" + n + "'" : "";
    script += "INSERT INTO ABPerson (First, Last" + std::string(guid ? ", guid" : "") + ") VALUES ('Name" + n +
              "', 'Family" + n + "'" + personGuid + ");"
              "INSERT INTO ABMultiValue (record_id, property, identifier, value" + (guid ? ", guid" : "") +
              ") VALUES (" + n + ", 3, 0, '+1 571 308 32" + n + "0'" + valueGuid + ");";
  }
  script += "DELETE FROM ABPerson WHERE ROWID IN (" + deleted + "); DELETE FROM ABMultiValue WHERE record_id IN (" +
            deleted + ");";
  test::ExecSql(path, script);
  return path;
}

// A deleted person whose cell lost its rowid when it was freed is linked to its multi-values:
// through its entry in the guid index, or without one (the iOS 5 table) by where the cell lies
// among its page's cells. Two people gone: each value must go to the right one.
TEST(LostRowids, APersonIsFoundAgainThroughItsIndexEntryOrItsCellsPlace) {
  for (const bool guid : {true, false}) {
    SCOPED_TRACE(guid ? "guid index" : "no index");
    TempDir dir;
    CContactSqlite engine;
    ASSERT_EQ(engine.Load(BookWithDeletedPeople(dir, guid, "3, 5")), 0);
    ASSERT_EQ(engine.Recover(), 2);
    std::set<std::int64_t> rowids;
    for (const RecoveredPerson& person : engine.People()) {
      ASSERT_TRUE(person.found) << "values without their person, record " << person.rowid;
      rowids.insert(person.rowid);
      const std::string n = std::to_string(person.rowid);
      EXPECT_EQ(person.texts[kFirst], "Name" + n);
      ASSERT_EQ(person.values.size(), 1u);
      EXPECT_EQ(person.values[0].value, "+1 571 308 32" + n + "0");
    }
    EXPECT_EQ(rowids, (std::set<std::int64_t>{3, 5}));
  }
}

}  // namespace
}  // namespace sieve
