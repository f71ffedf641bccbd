#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sieve/extractors/call_info.h"
#include "sieve/extractors/call_sqlite.h"
#include "sieve/itunes_backup_reader.h"
#include "sieve/reader/text.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using test::JsonValue;
using test::TempDir;

struct Layout {
  std::string version;
  std::string name;  // the generator's layout name
  bool store;
};

const std::vector<Layout> kLayouts = {{"5.1.1", "call_history.db/ios5", false},
                                      {"7.1.2", "call_history.db/ios7", false},
                                      {"9.3.2", "storedata/ios8", true},
                                      {"10.3", "storedata/ios10", true},
                                      {"13.7", "storedata/ios13", true},
                                      {"16.7", "storedata/ios16", true},
                                      {"18.2", "storedata/ios18", true}};

// The service and kind of call the truth gives ("" and 0 where the layout has none).
void ExpectService(const CallRecord& call, const JsonValue& row) {
  EXPECT_EQ(call.Service, row.Find("service") != nullptr ? row.Text("service") : "");
  EXPECT_EQ(call.CallType, row.Find("call_type") != nullptr ? row.Int("call_type") : 0);
}

std::vector<CallRecord> Copy(CCallInfo& info) {
  std::vector<CallRecord> calls;
  for (std::size_t i = 0; i < info.RecordCount(INFO_CALL); ++i) {
    calls.push_back(*static_cast<CallRecord*>(info.RecordAt(INFO_CALL, i)));
  }
  return calls;
}

// Reads one database file the way the scan hands it over.
std::vector<CallRecord> ReadCalls(const std::string& path, bool store, const std::string& version,
                                  int* result = nullptr, const ContactNameLookup& lookup = {}) {
  ScanContext context;
  context.productVersion = version;
  CCallInfo info;
  info.SetContext(&context);
  DatabaseSource source;
  source.main.path = path;
  info.SetDatabase(store ? RuleAction::SecondDatabase : RuleAction::MainDatabase, source);
  const int rc = info.read("");
  if (result != nullptr) *result = rc;
  if (lookup) info.FillContactNames(lookup);
  return Copy(info);
}

// A layout's generated backup: its call truth and its stored call database.
struct Generated {
  const test::LayoutBackup& backup;
  const JsonValue& truth;
  std::string file;

  explicit Generated(const std::string& version)
      : backup(test::SmallBackup(version)),
        truth(backup.Database("calls")),
        file(backup.Stored(truth.Text("path"))) {}
};

// Worked out apart from the library: the store counts seconds from 2001, the older file from 1970.
std::string ExpectedDate(double seconds, bool store) {
  return test::TestZoneDateText(static_cast<std::int64_t>(std::floor(seconds)) + (store ? 978307200 : 0));
}
std::string ExpectedDate(const JsonValue& row, bool store) { return ExpectedDate(row["date"].Number, store); }

// 1 answered, 0 not, -1 where the layout does not say (null in the truth).
int ExpectedAnswered(const JsonValue& row) {
  const JsonValue& answered = row["answered"];
  return answered.IsNull() ? -1 : (answered.Number != 0 ? 1 : 0);
}

struct PlainCall {
  std::string address, date, name;
  double seconds = 0;
  std::int64_t flags = 0;
};

std::string ColumnText(sqlite3_stmt* row, int column) {
  const auto* text = sqlite3_column_text(row, column);
  return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text),
                                                       static_cast<std::size_t>(sqlite3_column_bytes(row, column)));
}

std::vector<PlainCall> PlainRead(const std::string& path, bool store) {
  std::vector<PlainCall> rows;
  sqlite3* db = nullptr;
  sqlite3_stmt* row = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  const char* sql = store ? "SELECT ZADDRESS, ZDATE, ZDURATION, ZORIGINATED, ZNAME FROM ZCALLRECORD"
                          : "SELECT address, date, duration, flags, name FROM call";
  EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &row, nullptr), SQLITE_OK);
  while (row != nullptr && sqlite3_step(row) == SQLITE_ROW) {
    PlainCall call;
    call.address = ColumnText(row, 0);
    call.date = ExpectedDate(sqlite3_column_double(row, 1), store);
    call.seconds = sqlite3_column_double(row, 2);
    call.flags = sqlite3_column_int64(row, 3);
    call.name = ColumnText(row, 4);
    rows.push_back(std::move(call));
  }
  sqlite3_finalize(row);
  sqlite3_close(db);
  return rows;
}

TEST(CallBackups, LiveRowsOfEveryLayoutComeOutWithEveryField) {
  for (const Layout& layout : kLayouts) {
    SCOPED_TRACE(layout.version);
    const Generated g(layout.version);
    ASSERT_EQ(g.truth.Text("layout"), layout.name);
    int rc = -1;
    const std::vector<CallRecord> calls = ReadCalls(g.file, layout.store, layout.version, &rc);
    EXPECT_EQ(rc, SQLITE_OK);
    const auto& live = g.truth["live"].Items;
    ASSERT_GT(live.size(), 20u);
    ASSERT_GE(calls.size(), live.size());
    for (std::size_t i = 0; i < live.size(); ++i) {
      const JsonValue& row = live[i];
      const CallRecord& call = calls[i];
      SCOPED_TRACE(i);
      EXPECT_EQ(call.Deleted, 0);
      EXPECT_EQ(call.Address, row.Text("address"));
      EXPECT_EQ(call.Date, ExpectedDate(row, layout.store));
      const double seconds = row["duration"].Number;
      EXPECT_EQ(call.Duration, CallDurationText(seconds));
      EXPECT_FLOAT_EQ(call.Seconds, static_cast<float>(seconds));
      const auto flags = row.Int("flags");
      EXPECT_EQ(call.Flags, flags);
      // call_history.db: bit 0 set is a call this phone placed; the store says so in ZORIGINATED.
      EXPECT_EQ(call.Direction, (layout.store ? flags != 0 : (flags & 1) != 0) ? "OUT" : "IN");
      EXPECT_EQ(call.Name, row.Text("name"));
      EXPECT_EQ(call.Answered, ExpectedAnswered(row));
      ExpectService(call, row);
    }
    for (std::size_t i = live.size(); i < calls.size(); ++i) EXPECT_EQ(calls[i].Deleted, 1);

    // The same file read with nothing but SQLite gives the same rows, in the same order.
    const std::vector<PlainCall> plain = PlainRead(g.file, layout.store);
    ASSERT_EQ(plain.size(), live.size());
    for (std::size_t i = 0; i < plain.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(calls[i].Address, plain[i].address);
      EXPECT_EQ(calls[i].Date, plain[i].date);
      EXPECT_FLOAT_EQ(calls[i].Seconds, static_cast<float>(plain[i].seconds));
      EXPECT_EQ(calls[i].Flags, plain[i].flags);
      if (layout.store) {
        EXPECT_EQ(calls[i].Name, plain[i].name);
      }
    }
  }
}

TEST(CallBackups, DeletedCallsAreRecoveredPerLayout) {
  for (const Layout& layout : kLayouts) {
    SCOPED_TRACE(layout.version);
    const Generated g(layout.version);
    std::map<std::string, const JsonValue*> deleted;  // address + date -> truth row
    std::set<std::string> liveKeys;
    std::size_t intact = 0;
    for (const JsonValue& row : g.truth["deleted"].Items) {
      deleted[row.Text("address") + "|" + ExpectedDate(row, layout.store)] = &row;
      if (row["intact"].Bool) ++intact;
    }
    for (const JsonValue& row : g.truth["live"].Items) liveKeys.insert(row.Text("address") + "|" + ExpectedDate(row, layout.store));
    ASSERT_GE(intact, 3u);
    std::size_t reported = 0, correct = 0, intactFound = 0;
    for (const CallRecord& call : ReadCalls(g.file, layout.store, layout.version)) {
      if (call.Deleted == 0) continue;
      ++reported;
      const std::string key = call.Address + "|" + call.Date;
      EXPECT_EQ(liveKeys.count(key), 0u) << "a live call reported as deleted: " << key;
      const auto it = deleted.find(key);
      if (it == deleted.end()) continue;
      ++correct;
      if ((*it->second)["intact"].Bool) ++intactFound;
      const double seconds = (*it->second)["duration"].Number;
      EXPECT_FLOAT_EQ(call.Seconds, seconds > 0 ? static_cast<float>(seconds) : 0.0f) << key;
      const auto flags = it->second->Int("flags");
      EXPECT_EQ(call.Flags, flags) << key;
      EXPECT_EQ(call.Direction, (layout.store ? flags != 0 : (flags & 1) != 0) ? "OUT" : "IN") << key;
      EXPECT_EQ(call.Duration, CallDurationText(seconds)) << key;
      if ((*it->second)["intact"].Bool) {
        EXPECT_EQ(call.Answered, ExpectedAnswered(*it->second)) << key;
        ExpectService(call, *it->second);
      }
    }
    const double recall = static_cast<double>(intactFound) / static_cast<double>(intact);
    const double precision = reported == 0 ? 1.0 : static_cast<double>(correct) / static_cast<double>(reported);
    std::printf("[calls %s] deleted %zu (intact %zu), reported %zu: recall %.3f precision %.3f\n",
                layout.name.c_str(), deleted.size(), intact, reported, recall, precision);
    EXPECT_GE(recall, 0.9);
    EXPECT_GE(precision, 0.95);
  }
}

TEST(CallBackups, EncryptedBackupGivesTheSameCalls) {
  const std::string password = "Anruf ☎ geheim";
  const Generated g("9.3.2");
  const auto& plain = g.backup.Backup;
  TempDir dir;
  const auto encrypted =
      test::MakeBackup(dir, "enc", {"--profile", "small", "--seed", "11", "--product-version", "9.3.2",
                                    "--encrypted", "--password-file", test::WritePasswordFile(dir, password)});
  const auto scan = [](const std::string& folder, const std::string& pass) {
    CItunesBackupReader reader;
    EXPECT_EQ(reader.ReadItunesbackFromPath(folder.c_str()), 0);
    if (!pass.empty()) reader.SetPassword(0, pass.c_str());
    std::vector<CallRecord> calls;
    reader.SetCallBack(
        [](void* record, _InfoType type, void* user) {
          if (type == INFO_CALL) static_cast<std::vector<CallRecord>*>(user)->push_back(*static_cast<CallRecord*>(record));
        },
        &calls);
    EXPECT_GE(reader.ReadBackup(0), 0);
    return calls;
  };
  const std::vector<CallRecord> fromPlain = scan(plain.Folder, "");
  const std::vector<CallRecord> fromEncrypted = scan(encrypted.Folder, password);
  ASSERT_GT(fromPlain.size(), g.truth["live"].Items.size() - 1);
  ASSERT_EQ(fromPlain.size(), fromEncrypted.size());
  for (std::size_t i = 0; i < fromPlain.size(); ++i) {
    EXPECT_EQ(fromPlain[i].Address, fromEncrypted[i].Address);
    EXPECT_EQ(fromPlain[i].Date, fromEncrypted[i].Date);
    EXPECT_EQ(fromPlain[i].Deleted, fromEncrypted[i].Deleted);
    EXPECT_EQ(fromPlain[i].Name, fromEncrypted[i].Name);
  }
}

TEST(CallBackups, ScanJsonCarriesCallRecordsWithTheirFields) {
  const Generated g("10.3");
  const test::CommandResult run = test::RunSieve({"scan", g.backup.Backup.Folder, "--json"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  std::size_t calls = 0, deleted = 0, conversations = 0;
  for (const JsonValue& line : test::ParseJsonLines(run.Out)) {
    // The messages extractor runs in the same scan; its conversations must arrive as well.
    if (line.Text("category") == InfoTypeName(INFO_SMS) && line.Find("messages") != nullptr) ++conversations;
    if (line.Text("category") != InfoTypeName(INFO_CALL)) continue;
    ++calls;
    for (const char* field : {"deleted", "address", "date", "duration_seconds", "direction", "flags", "name", "service", "call_type"}) {
      EXPECT_NE(line.Find(field), nullptr) << field;
    }
    if (line["deleted"].Bool) ++deleted;
    EXPECT_EQ(line.Text("date").size(), 25u) << line.Text("date");  // ISO 8601 with the zone's offset
  }
  EXPECT_GE(calls, g.truth["live"].Items.size());
  EXPECT_GT(deleted, 0u);
  EXPECT_GT(conversations, 0u);
}

TEST(CallDuration, HoursMinutesSecondsOfWholeSeconds) {
  const std::pair<double, const char*> cases[] = {{0, "0:00:00"},      {65, "0:01:05"},       {12.9, "0:00:12"},
                                                  {3600, "1:00:00"},   {36059, "10:00:59"},  {-4, "0:00:00"},
                                                  {std::nan(""), "0:00:00"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(CallDurationText(seconds), text) << seconds;
}

TEST(CallService, NamesFaceTimeKindsAndAppsButNotThePhone) {
  const struct {
    const char* service;
    std::int32_t type;
    const char* name;
  } cases[] = {{"com.apple.Telephony", 1, ""},          {"com.apple.FaceTime", 8, "FaceTime Video"},
               {"com.apple.FaceTime", 16, "FaceTime Audio"}, {"com.apple.FaceTime", 0, "FaceTime"},
               {"net.whatsapp.WhatsApp", 1, "WhatsApp"},    {"", 0, ""},
               {"noperiod", 1, "noperiod"},                  {"ends.with.", 1, "ends.with."}};
  for (const auto& c : cases) {
    CallRecord call;
    call.Service = c.service;
    call.CallType = c.type;
    EXPECT_EQ(CallServiceName(call), c.name) << c.service << " " << c.type;
  }
}

// Hand-made files for the rules that a generated backup cannot pin down.
class CallFiles : public testing::Test {
 protected:
  std::string Make(const std::string& name, const std::vector<std::string>& sql) {
    const std::string path = dir_.Join(name);
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    for (const std::string& s : sql) EXPECT_EQ(sqlite3_exec(db, s.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << s;
    sqlite3_close(db);
    return path;
  }
  std::string OldDb() {
    return Make("call_history.db",
                {"CREATE TABLE call (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, "
                 "duration INTEGER, flags INTEGER, id INTEGER, name TEXT, country_code TEXT)",
                 "INSERT INTO call (address, date, duration, flags) VALUES ('+1 555 0100', 1400000000, 30, 4), "
                 "('+1 555 0101', 1400000100, 31, 5), ('+1 555 0102', 1400000200, 0, 0), "
                 "('+1 555 0103', 1400000300, 12, 1), ('x@example.com', 1400000400, 9, 20), "
                 "('x@example.com', 1400000500, 8, 21)"});
  }
  std::string Store() {
    return Make("CallHistory.storedata",
                {"CREATE TABLE ZCALLRECORD ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZORIGINATED INTEGER, "
                 "ZDATE TIMESTAMP, ZDURATION FLOAT, ZADDRESS VARCHAR, ZNAME VARCHAR )",
                 "INSERT INTO ZCALLRECORD VALUES (1, 2, 1, 0, 500000000.5, 12.9, '+1 555 0200', 'Own Name'), "
                 "(2, 2, 1, 1, 500000100.0, 3.0, '+1 555 0201', NULL)"});
  }
  TempDir dir_;
};

TEST_F(CallFiles, StoreKeepsItsOwnNameUnlessAContactMatches) {
  const ContactNameLookup lookup = [](std::string_view address) {
    return address == "+1 555 0201" ? std::string("Contact Person") : std::string();
  };
  const std::vector<CallRecord> calls = ReadCalls(Store(), true, "10.3", nullptr, lookup);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].Name, "Own Name");
  EXPECT_EQ(calls[0].Duration, "0:00:12");
  EXPECT_EQ(calls[0].Answered, -1);  // a store without ZANSWERED
  EXPECT_FLOAT_EQ(calls[0].Seconds, 12.9f);
  EXPECT_EQ(calls[0].Direction, "IN");
  EXPECT_EQ(calls[0].Date, ExpectedDate(500000000.5, true));
  EXPECT_EQ(calls[1].Name, "Contact Person");
  EXPECT_EQ(calls[1].Direction, "OUT");
  // Without an address book nothing is looked up and the calls are all there.
  const std::vector<CallRecord> alone = ReadCalls(dir_.Join("CallHistory.storedata"), true, "10.3");
  ASSERT_EQ(alone.size(), 2u);
  EXPECT_EQ(alone[1].Name, "");
}

TEST_F(CallFiles, VersionChoosesTheFileNumerically) {
  const std::string old = OldDb();
  const std::string store = Store();
  const struct {
    const char* version;
    bool hasOld, hasStore;
    std::size_t calls;  // 6 from call_history.db, 2 from the store
  } cases[] = {{"10.3", true, true, 2}, {"8.0", true, true, 2}, {"7.1.2", true, true, 6},
               {"10.3", true, false, 6}, {"5.1", false, true, 2}, {"", true, true, 6}};
  for (const auto& c : cases) {
    ScanContext context;
    context.productVersion = c.version;
    CCallInfo info;
    info.SetContext(&context);
    if (c.hasOld) info.SetDatabase(RuleAction::MainDatabase, DatabaseSource{{old, {}}, {}, {}, "call_history.db"});
    if (c.hasStore) info.SetDatabase(RuleAction::SecondDatabase, DatabaseSource{{store, {}}, {}, {}, "CallHistory.storedata"});
    EXPECT_EQ(info.read(""), SQLITE_OK) << c.version;
    EXPECT_EQ(info.RecordCount(INFO_CALL), c.calls) << c.version << " " << c.hasOld << c.hasStore;
  }
}

TEST_F(CallFiles, RecoveredCallsFollowTheMergeRules) {
  const std::string path = Make("rules.db", {"PRAGMA secure_delete=OFF",
      "CREATE TABLE call (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, duration INTEGER, "
      "flags INTEGER, id INTEGER, name TEXT, country_code TEXT)",
      "INSERT INTO call (address, date, duration, flags) VALUES ('+1 555 0300', 1400000000, -4, 5), "
      "('+1 555 0301', 1400000100, 40, 4), ('+1 555 0302', 1400000200, 50, 4)",
      "UPDATE call SET id = 3 WHERE ROWID = 3",  // leaves an old copy of a live row behind
      "DELETE FROM call WHERE ROWID < 3"});
  const std::vector<CallRecord> calls = ReadCalls(path, false, "6.1");
  std::map<std::string, CallRecord> recovered;
  for (const CallRecord& c : calls) {
    if (c.Deleted == 1) recovered[c.Address] = c;
  }
  ASSERT_EQ(recovered.size(), 2u);
  EXPECT_FLOAT_EQ(recovered.at("+1 555 0300").Seconds, 0.0f);
  EXPECT_EQ(recovered.at("+1 555 0300").Flags, 5);
  EXPECT_FLOAT_EQ(recovered.at("+1 555 0301").Seconds, 40.0f);
  EXPECT_EQ(recovered.at("+1 555 0301").Date, "2014-05-14 00:55:00");
  EXPECT_EQ(recovered.count("+1 555 0302"), 0u);
}

TEST(CallBackups, HostileDatabasesGiveAClearResult) {
  const std::string original = test::ReadFile(Generated("7.1.2").file);
  ASSERT_GT(original.size(), 3 * 4096u);
  const auto put32 = [](std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (24 - 8 * i));
  };
  const struct {
    const char* name;
    std::function<void(std::string&)> damage;
  } cases[] = {
      {"truncated", [](std::string& b) { b.resize(b.size() / 2 + 77); }},
      {"random page", [](std::string& b) { for (std::size_t i = 4096; i < 8192; ++i) b[i] = static_cast<char>((i * 2654435761u) >> 13); }},
      {"page size 0", [](std::string& b) { b[16] = 0; b[17] = 0; }},
      {"lying page count", [&](std::string& b) { put32(b, 28, 0x7fffffff); }},
      {"cyclic freelist", [&](std::string& b) { put32(b, 32, 2); put32(b, 36, 5); put32(b, 4096, 2); }},
      {"cell pointer past page", [](std::string& b) { for (std::size_t p = 4096; p < b.size(); p += 4096) { b[p + 8] = '\xff'; b[p + 9] = '\xf0'; } }},
      {"lying record headers", [](std::string& b) { for (std::size_t i = 4096 + 200; i < b.size(); i += 97) b[i] = '\x7f'; }},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = original;
    c.damage(bytes);
    const std::string path = dir.Join("damaged.db");
    test::WriteFile(path, bytes);
    int rc = -1;
    const std::vector<CallRecord> calls = ReadCalls(path, false, "7.1.2", &rc);
    if (rc != SQLITE_OK) {
      EXPECT_TRUE(calls.empty());
    }
    for (const CallRecord& call : calls) EXPECT_TRUE(IsValidUtf8(call.Address));
    CCallSqlite engine;
    ASSERT_EQ(engine.LoadBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end())), 0);
    const int found = engine.scan();
    EXPECT_TRUE(found >= 0 || found == CSqliteDelete::kNotSearchable) << found;
    EXPECT_LE(engine.Calls().size(), bytes.size() / 8);
  }
}

}  // namespace
}  // namespace sieve
