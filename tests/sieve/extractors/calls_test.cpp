#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sieve/extractors/call_info.h"
#include "extractor_test.h"
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

// Every layout: the live rows in order with every field, then the deleted calls whose cells
// survive, each with what it still says.
TEST(CallBackups, LiveRowsExactlyAndDeletedCallsByRecallAndPrecision) {
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
    // The fields a live row and a recovered one share.
    const auto expectCall = [&](const CallRecord& call, const JsonValue& row) {
      const double seconds = row["duration"].Number;
      EXPECT_EQ(call.Duration, CallDurationText(seconds));
      const auto flags = row.Int("flags");
      EXPECT_EQ(call.Flags, flags);
      // call_history.db: bit 0 set is a call this phone placed; the store says so in ZORIGINATED.
      EXPECT_EQ(call.Direction, (layout.store ? flags != 0 : (flags & 1) != 0) ? "OUT" : "IN");
    };
    std::set<std::string> liveKeys;
    for (std::size_t i = 0; i < live.size(); ++i) {
      const JsonValue& row = live[i];
      const CallRecord& call = calls[i];
      SCOPED_TRACE(i);
      EXPECT_EQ(call.Deleted, 0);
      EXPECT_EQ(call.Address, row.Text("address"));
      EXPECT_EQ(call.Date, ExpectedDate(row, layout.store));
      expectCall(call, row);
      EXPECT_FLOAT_EQ(call.Seconds, static_cast<float>(row["duration"].Number));
      EXPECT_EQ(call.Name, row.Text("name"));
      EXPECT_EQ(call.Answered, ExpectedAnswered(row));
      ExpectService(call, row);
      liveKeys.insert(call.Address + "|" + call.Date);
    }

    const auto key = [&](const JsonValue& row) { return row.Text("address") + "|" + ExpectedDate(row, layout.store); };
    std::map<std::string, const JsonValue*> deleted;
    for (const JsonValue& row : g.truth["deleted"].Items) deleted[key(row)] = &row;
    const std::vector<CallRecord> recovered(calls.begin() + static_cast<std::ptrdiff_t>(live.size()), calls.end());
    test::Recovery score;
    score.Score(recovered, g.truth["deleted"],
                [&](const CallRecord& call, const JsonValue& row) { return call.Address + "|" + call.Date == key(row); });
    for (const CallRecord& call : recovered) {
      const std::string key = call.Address + "|" + call.Date;
      SCOPED_TRACE(key);
      EXPECT_EQ(call.Deleted, 1);
      EXPECT_EQ(liveKeys.count(key), 0u) << "a live call reported as deleted";
      const auto it = deleted.find(key);
      if (it == deleted.end()) continue;
      expectCall(call, *it->second);
      // A negative duration is no duration.
      EXPECT_FLOAT_EQ(call.Seconds, std::max(0.0f, static_cast<float>((*it->second)["duration"].Number)));
      if ((*it->second)["intact"].Bool) {
        EXPECT_EQ(call.Answered, ExpectedAnswered(*it->second));
        ExpectService(call, *it->second);
      }
    }
    EXPECT_GE(score.intact, 3u);
    score.Expect("calls " + layout.name, 0.9, 0.95);
  }
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
  std::string Make(const std::string& name, const std::string& sql) {
    test::ExecSql(dir_.Join(name), sql);
    return dir_.Join(name);
  }
  std::string OldDb() {
    return Make("call_history.db",
                "CREATE TABLE call (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, "
                "duration INTEGER, flags INTEGER, id INTEGER, name TEXT, country_code TEXT);"
                "INSERT INTO call (address, date, duration, flags) VALUES ('+1 555 0100', 1400000000, 30, 4), "
                 "('+1 555 0101', 1400000100, 31, 5), ('+1 555 0102', 1400000200, 0, 0), "
                 "('+1 555 0103', 1400000300, 12, 1), ('x@example.com', 1400000400, 9, 20), "
                 "('x@example.com', 1400000500, 8, 21)");
  }
  std::string Store() {
    return Make("CallHistory.storedata",
                "CREATE TABLE ZCALLRECORD ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZORIGINATED INTEGER, "
                "ZDATE TIMESTAMP, ZDURATION FLOAT, ZADDRESS VARCHAR, ZNAME VARCHAR );"
                "INSERT INTO ZCALLRECORD VALUES (1, 2, 1, 0, 500000000.5, 12.9, '+1 555 0200', 'Own Name'), "
                 "(2, 2, 1, 1, 500000100.0, 3.0, '+1 555 0201', NULL)");
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
  EXPECT_EQ(calls[1].Name, "Contact Person");
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
  // The update leaves an old copy of a live row behind.
  const std::string path = Make("rules.db", "PRAGMA secure_delete=OFF;"
      "CREATE TABLE call (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, duration INTEGER, "
      "flags INTEGER, id INTEGER, name TEXT, country_code TEXT);"
      "INSERT INTO call (address, date, duration, flags) VALUES ('+1 555 0300', 1400000000, -4, 5), "
      "('+1 555 0301', 1400000100, 40, 4), ('+1 555 0302', 1400000200, 50, 4);"
      "UPDATE call SET id = 3 WHERE ROWID = 3; DELETE FROM call WHERE ROWID < 3;");
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

}  // namespace
}  // namespace sieve
