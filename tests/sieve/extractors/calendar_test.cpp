#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/extractors/calendar_info.h"
#include "sieve/extractors/calendar_sqlite.h"
#include "sieve/extractors/reminder_store_sqlite.h"
#include "sieve/private_folder.h"
#include "sieve/reader/time_text.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using test::JsonValue;

constexpr char kPath[] = "Library/Calendar/Calendar.sqlitedb";

struct Backup {
  test::GeneratedBackup generated;
  JsonValue truth;  // databases/calendar
  JsonValue storeTruth;  // databases/reminders: the stores of iOS 13 and later
  std::string database;
  std::vector<std::string> stores;
  std::vector<std::string> storeWals;  // beside each store, "" when it has none
};

// The older layouts, the iOS 9 one, and the reminder stores' three layouts beside a widened CalendarItem.
constexpr const char* kVersions[] = {"9.3.2", "4.3.3", "13.7", "16.5", "18.1"};
// The stores again with their last changes in a -wal.
constexpr const char* kStoreVersions[] = {"13.7", "16.5", "18.1", "13.7 with -wal", "16.5 with -wal", "18.1 with -wal"};
constexpr char kWithWal[] = " with -wal";

class CalendarTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir();
    folder_ = new PrivateFolder();
    context_.privateFolder = folder_;
    std::vector<std::string> names(std::begin(kVersions), std::end(kVersions));
    for (const char* version : kStoreVersions) {
      if (std::string_view(version).ends_with(kWithWal)) names.emplace_back(version);
    }
    for (const std::string& name : names) {
      const std::string version = name.substr(0, name.find(' '));
      std::vector<std::string> args{"--profile", "small", "--seed", "11", "--product-version", version};
      // The -wal backups also take the Manifest.db layout, so the stores are found in both.
      if (name != version) args.insert(args.end(), {"--wal-history", "--manifest-db"});
      auto* backup = new Backup();
      backup->generated = test::MakeBackup(*dir_, "v" + version + (name != version ? "w" : ""), args);
      const JsonValue truth = test::ParseJson(test::ReadFile(backup->generated.TruthPath))["databases"];
      backup->truth = truth["calendar"];
      if (const JsonValue* stores = truth.Find("reminders")) backup->storeTruth = *stores;
      std::map<std::string, std::string> stored;  // a store's files by their path in the backup
      for (const test::TruthFile& file : test::ReadTruthFiles(backup->generated.TruthPath)) {
        const std::string path = backup->generated.Folder + "/" + file.StoredPath;
        if (file.Path == kPath) backup->database = path;
        if (file.Path.starts_with("Container_v1/Stores/Data-")) stored[file.Path] = path;
      }
      for (const auto& [inBackup, path] : stored) {
        if (!inBackup.ends_with(".sqlite")) continue;
        backup->stores.push_back(path);
        const auto wal = stored.find(inBackup + "-wal");
        backup->storeWals.push_back(wal == stored.end() ? std::string() : wal->second);
      }
      EXPECT_EQ(name != version, stored.size() > backup->stores.size()) << name;
      backups_[name] = backup;
    }
  }
  static void TearDownTestSuite() {
    for (auto& [name, backup] : backups_) delete backup;
    backups_.clear();
    delete dir_;
    delete folder_;
  }

  template <typename Info>
  static Info& Read(Info& info, const std::string& path, int* result = nullptr,
                    const std::vector<std::string>& stores = {}, const std::vector<std::string>& wals = {}) {
    info.SetContext(&context_);
    DatabaseSource source;
    source.main.path = path;
    info.SetDatabase(RuleAction::MainDatabase, source);
    for (std::size_t i = 0; i < stores.size(); ++i) {
      DatabaseSource second;
      second.main.path = stores[i];
      if (i < wals.size()) second.wal.path = wals[i];
      info.SetDatabase(RuleAction::SecondDatabase, second);
    }
    const int rc = info.read("");
    if (result) *result = rc;
    return info;
  }

  static std::string Date(const JsonValue& seconds) {
    return MacTimeTextFromDouble(seconds.IsNull() ? 0.0 : seconds.Number);
  }

  static test::TempDir* dir_;
  static PrivateFolder* folder_;  // where a store is copied beside its -wal
  static ScanContext context_;
  static std::map<std::string, Backup*> backups_;
};

test::TempDir* CalendarTest::dir_ = nullptr;
PrivateFolder* CalendarTest::folder_ = nullptr;
ScanContext CalendarTest::context_;
std::map<std::string, Backup*> CalendarTest::backups_;

template <typename Record>
std::map<std::string, Record> BySummary(const std::vector<Record>& records, int deleted) {
  std::map<std::string, Record> map;
  for (const Record& r : records) {
    if (r.Deleted == deleted) map.emplace(r.Summary, r);
  }
  return map;
}

// An all-day event shows its first and last day; others their times.
void ExpectEventTimes(const CalendarRecord& got, const JsonValue& want) {
  const double start = want["start_date"].Number;
  const double end = want["end_date"].IsNull() ? 0.0 : want["end_date"].Number;
  const bool allDay = want.Find("all_day") != nullptr && want.Int("all_day") != 0;
  EXPECT_EQ(got.AllDay, allDay ? 1 : 0);
  EXPECT_EQ(got.StartDate, allDay ? MacDateOnlyText(start) : MacTimeTextFromDouble(start));
  EXPECT_EQ(got.EndDate, allDay ? MacDateOnlyText(end - 1) : MacTimeTextFromDouble(end));
}

void ExpectEvent(const CalendarRecord& got, const JsonValue& want) {
  SCOPED_TRACE(want.Text("summary"));
  ExpectEventTimes(got, want);
  EXPECT_EQ(got.Description, want.Text("description"));
  EXPECT_EQ(got.Location, want.Text("location"));
  EXPECT_EQ(got.Status, want.Int("status"));
  EXPECT_EQ(got.Availability, want.Int("availability"));
}

void ExpectReminder(const ReminderRecord& got, const JsonValue& want, bool recovered) {
  SCOPED_TRACE(want.Text("summary"));
  EXPECT_EQ(got.StartDate, MacTimeTextFromDouble(want["start_date"].IsNull() ? 0.0 : want["start_date"].Number));
  // The due date, not end_date (which reminders leave empty).
  EXPECT_EQ(got.EndDate, MacTimeTextFromDouble(want["due_date"].IsNull() ? 0.0 : want["due_date"].Number));
  EXPECT_EQ(got.Description, want.Text("description"));
  EXPECT_EQ(got.Location, want.Text("location"));
  EXPECT_EQ(got.Completed, want.Int("completed"));
  EXPECT_EQ(got.CompletionDate,
            want["completion_date"].IsNull() ? "" : MacTimeTextFromDouble(want["completion_date"].Number));
  EXPECT_EQ(got.Priority, want.Int("priority"));
  EXPECT_EQ(got.ListTitle, ListTitleText(want.Text(want.Find("calendar") ? "calendar" : "list")));
  // A reminder the user moved to "recently deleted" is still a row, shown as deleted.
  if (!recovered) {
    EXPECT_EQ(got.Deleted, want.Find("marked") ? want.Int("marked") : 0);
  }
}

TEST_F(CalendarTest, LiveEventsOfEveryLayoutAreExact) {
  for (const auto& [version, backup] : backups_) {
    SCOPED_TRACE(version);
    CCalendarInfo info;
    int result = -1;
    const auto live = BySummary(Read(info, backup->database, &result).Records(), 0);
    EXPECT_EQ(result, 0);
    const JsonValue& events = backup->truth["events"];
    ASSERT_EQ(live.size(), events.Items.size());
    for (const JsonValue& want : events.Items) {
      const auto got = live.find(want.Text("summary"));
      ASSERT_NE(got, live.end()) << want.Text("summary");
      ExpectEvent(got->second, want);
    }
    // No reminder, and no event of the calendar without a title, among the events.
    for (const JsonValue& reminder : backup->truth["reminders"].Items) {
      EXPECT_FALSE(live.contains(reminder.Text("summary")));
    }
  }
  EXPECT_EQ(backups_["4.3.3"]->truth.Text("layout"), "Event");
  EXPECT_EQ(backups_["18.1"]->truth.Text("layout"), "CalendarItem");
}

TEST_F(CalendarTest, LiveRemindersAreExactWithTheirDueDatesAndLists) {
  CRemainderInfo info;
  const auto live = BySummary(Read(info, backups_["9.3.2"]->database).Records(), 0);
  const JsonValue& reminders = backups_["9.3.2"]->truth["reminders"];
  ASSERT_EQ(live.size(), reminders.Items.size());
  ASSERT_GT(live.size(), 5u);
  for (const JsonValue& want : reminders.Items) {
    const auto got = live.find(want.Text("summary"));
    ASSERT_NE(got, live.end()) << want.Text("summary");
    ExpectReminder(got->second, want, false);
  }
  // The older layout has no reminder lists.
  CRemainderInfo older;
  EXPECT_TRUE(Read(older, backups_["4.3.3"]->database).Records().empty());
}

// Since iOS 13 the stores hold the reminders (all of them, every store), and the calendar's
// own reminder lists are left behind.
TEST_F(CalendarTest, LiveRemindersOfEveryStoreLayoutAreExact) {
  for (const char* version : kStoreVersions) {
    const Backup& backup = *backups_[version];
    SCOPED_TRACE(std::string(version) + " " + backup.storeTruth.Text("layout"));
    ASSERT_EQ(backup.stores.size(), 2u);
    CRemainderInfo info;
    int result = -1;
    // Every record by its title: the live rows, the marked ones and the carved ones; the
    // calendar's reminders would add unmarked rows.
    std::map<std::string, ReminderRecord> live;
    for (const ReminderRecord& r : Read(info, backup.database, &result, backup.stores, backup.storeWals).Records()) {
      EXPECT_TRUE(live.emplace(r.Summary, r).second) << "twice: " << r.Summary;
    }
    EXPECT_EQ(result, 0);
    const JsonValue& reminders = backup.storeTruth["reminders"];
    std::size_t unmarked = 0;
    for (const JsonValue& want : reminders.Items) unmarked += want.Int("marked") == 0 ? 1 : 0;
    EXPECT_EQ(static_cast<std::size_t>(std::count_if(live.begin(), live.end(),
                                                     [](const auto& r) { return r.second.Deleted == 0; })),
              unmarked);
    for (const JsonValue& want : reminders.Items) {
      const auto got = live.find(want.Text("summary"));
      ASSERT_NE(got, live.end()) << want.Text("summary");
      ExpectReminder(got->second, want, false);
    }
  }
}

// Recall over the deleted rows whose bytes survived, precision over everything recovered.
template <typename Record, typename Check>
void MeasureRecovery(const std::string& label, const std::vector<Record>& records, const JsonValue& deleted,
                     const JsonValue& live, Check check) {
  const auto recovered = BySummary(records, 1);
  std::map<std::string, const JsonValue*> wanted;
  for (const JsonValue& row : deleted.Items) wanted[row.Text("summary")] = &row;
  for (const JsonValue& row : live.Items) {
    EXPECT_FALSE(recovered.contains(row.Text("summary"))) << "live row as deleted";
  }
  int intact = 0, found = 0, correct = 0;
  for (const JsonValue& row : deleted.Items) {
    if (!row["intact"].Bool) continue;
    ++intact;
    if (recovered.contains(row.Text("summary"))) ++found;
  }
  for (const auto& [summary, record] : recovered) {
    const auto want = wanted.find(summary);
    if (want == wanted.end()) continue;
    ++correct;
    check(record, *want->second);
  }
  const double recall = intact ? static_cast<double>(found) / intact : 1.0;
  const double precision = recovered.empty() ? 1.0 : static_cast<double>(correct) / recovered.size();
  std::printf("[ figures  ] %s: deleted %zu, intact %d, recovered %zu, recall %.3f, precision %.3f\n",
              label.c_str(), deleted.Items.size(), intact, recovered.size(), recall, precision);
  EXPECT_GT(intact, 0) << label;
  EXPECT_GE(recall, 0.95) << label;
  EXPECT_GE(precision, 0.98) << label;
}

TEST_F(CalendarTest, DeletedItemsAreRecoveredWithFullPrecisionTimes) {
  for (const auto& [version, backup] : backups_) {
    CCalendarInfo events;
    MeasureRecovery("calendar " + version, Read(events, backup->database).Records(), backup->truth["deleted_events"],
                    backup->truth["events"], [](const CalendarRecord& got, const JsonValue& want) {
                      // Whole-second texts of the stored doubles: a float would move them.
                      ExpectEventTimes(got, want);
                      EXPECT_EQ(got.Description.substr(0, 40), want.Text("description").substr(0, 40));
                      EXPECT_EQ(got.Location, want.Text("location"));
                      EXPECT_EQ(got.Status, want.Int("status"));
                    });
  }
  CRemainderInfo reminders;
  const Backup& newer = *backups_["9.3.2"];
  MeasureRecovery("reminders 9.3.2", Read(reminders, newer.database).Records(), newer.truth["deleted_reminders"],
                  newer.truth["reminders"],
                  [](const ReminderRecord& got, const JsonValue& want) { ExpectReminder(got, want, true); });
  for (const char* version : kStoreVersions) {
    const Backup& backup = *backups_[version];
    CRemainderInfo store;
    std::vector<ReminderRecord> carved;
    for (const ReminderRecord& r : Read(store, backup.database, nullptr, backup.stores, backup.storeWals).Records()) {
      if (r.Deleted) carved.push_back(r);
    }
    // Rows only marked as deleted are no carving result: they are measured as live rows.
    std::erase_if(carved, [&](const ReminderRecord& r) {
      for (const JsonValue& want : backup.storeTruth["reminders"].Items) {
        if (want.Text("summary") == r.Summary) return true;
      }
      return false;
    });
    MeasureRecovery(std::string("reminder store ") + version + " " + backup.storeTruth.Text("layout"), carved,
                    backup.storeTruth["deleted_reminders"], backup.storeTruth["reminders"],
                    [](const ReminderRecord& got, const JsonValue& want) { ExpectReminder(got, want, true); });
  }
}

TEST_F(CalendarTest, EngineNeverReportsLiveRowsAndKeepsDoubles) {
  CCalendarSqlite engine;
  ASSERT_EQ(engine.Load(backups_["9.3.2"]->database), 0);
  ASSERT_GT(engine.scan(), 0);
  EXPECT_EQ(engine.ItemTable(), "CalendarItem");
  std::map<std::string, const JsonValue*> deleted;
  for (const char* list : {"deleted_events", "deleted_reminders"}) {
    for (const JsonValue& row : backups_["9.3.2"]->truth[list].Items) deleted[row.Text("summary")] = &row;
  }
  for (const RecoveredCalendarItem& item : engine.Items()) {
    const auto want = deleted.find(item.summary);
    // The stale cell an edit left behind carries a live rowid and must not appear.
    ASSERT_NE(want, deleted.end()) << item.summary;
    ASSERT_TRUE(item.startTime.has_value() || (*want->second)["start_date"].IsNull());
    if (item.startTime) {
      EXPECT_DOUBLE_EQ(*item.startTime, (*want->second)["start_date"].Number);
    }
  }
}

TEST_F(CalendarTest, HostileFilesGiveAClearResult) {
  const std::string good = test::ReadFile(backups_["9.3.2"]->database);
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::vector<Case> cases = {{"empty", ""}, {"truncated", good.substr(0, good.size() / 3)},
                             {"header only", good.substr(0, 100)}};
  std::string zeroPageSize = good;
  zeroPageSize[16] = zeroPageSize[17] = 0;
  cases.push_back({"page size 0", zeroPageSize});
  std::string hugeCount = good;
  hugeCount[28] = hugeCount[29] = hugeCount[30] = hugeCount[31] = '\x7f';
  cases.push_back({"lying page count", hugeCount});
  std::string noise = good;
  for (std::size_t i = 4096; i < noise.size(); i += 7) noise[i] = static_cast<char>(i * 31);
  cases.push_back({"every page scribbled", noise});
  std::string pointers = good;
  for (std::size_t page = 4096; page + 16 < pointers.size(); page += 4096) {
    pointers[page + 8] = pointers[page + 9] = pointers[page + 10] = '\xff';  // cell pointers past the page
  }
  cases.push_back({"cell pointers past page", pointers});
  std::string freelist = good;
  freelist[32] = freelist[33] = freelist[34] = 0, freelist[35] = 2;  // first free page 2 ...
  freelist[4096] = freelist[4097] = freelist[4098] = 0, freelist[4099] = 2;  // ... which points at itself
  cases.push_back({"cyclic freelist", freelist});

  test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.Join(std::string(c.name) + ".sqlitedb");
    test::WriteFile(path, c.bytes);
    CCalendarInfo events;
    CRemainderInfo reminders;
    int eventsResult = 0, remindersResult = 0;
    Read(events, path, &eventsResult);
    Read(reminders, path, &remindersResult);
    EXPECT_GE(eventsResult, 0);
    for (const CalendarRecord& r : events.Records()) {
      EXPECT_FALSE(r.Summary.empty());
    }
    CCalendarSqlite engine;
    ASSERT_EQ(engine.Load(path), 0);
    EXPECT_GE(engine.scan(), CSqliteDelete::kNotSearchable);
  }
  // Damaged reminder stores of both table layouts: records with a title, never a crash.
  for (const char* version : {"13.7", "18.1"}) {
    for (const auto& [name, bytes] : test::DamagedCopies(test::ReadFile(backups_[version]->stores.front()), 4096, 5)) {
      SCOPED_TRACE(std::string(version) + " store " + name);
      const std::string path = dir.Join(std::string(version) + name + ".sqlite");
      test::WriteFile(path, bytes);
      CRemainderInfo reminders;
      for (const ReminderRecord& r : Read(reminders, dir.Join("absent"), nullptr, {path}).Records()) {
        EXPECT_FALSE(r.Summary.empty());
      }
      CReminderStoreSqlite engine;
      ASSERT_EQ(engine.Load(path), 0);
      EXPECT_GE(engine.scan(), CSqliteDelete::kNotSearchable);
    }
  }
  CCalendarInfo missing;
  int result = 0;
  Read(missing, dir.Join("absent"), &result);
  EXPECT_NE(result, 0);
  EXPECT_TRUE(missing.Records().empty());
}

TEST(CalendarText, ListTitlesLoseFileNameCharacters) {
  EXPECT_EQ(ListTitleText("Shopping/Errands: \\*?<>|\"x\""), "ShoppingErrands \"x\"");
  EXPECT_EQ(ListTitleText("Einkäufe 🛒"), "Einkäufe 🛒");
}

TEST_F(CalendarTest, EncryptedScanDeliversTheSameRecordsAsJson) {
  test::TempDir dir;
  const std::string password = test::WritePasswordFile(dir, "kalender-pass");
  const auto encrypted = test::MakeBackup(dir, "enc", {"--profile", "small", "--seed", "11", "--product-version",
                                                       "9.3.2", "--encrypted", "--password-file", password});
  const test::CommandResult scan = test::RunSieve({"scan", encrypted.Folder, "--json", "--password-file", password});
  ASSERT_EQ(scan.ExitCode, 0) << scan.Err;
  std::map<std::string, int> jsonEvents, jsonReminders;
  for (const JsonValue& line : test::ParseJsonLines(scan.Out)) {
    if (line.Text("category") == InfoTypeName(INFO_CALENDAR)) {
      jsonEvents[line.Text("summary")] = line["deleted"].Bool ? 1 : 0;
      EXPECT_NE(line.Find("availability"), nullptr);
      EXPECT_NE(line.Find("all_day"), nullptr);
      EXPECT_FALSE(line.Text("start_date").empty());
    } else if (line.Text("category") == InfoTypeName(INFO_REMINDER)) {
      jsonReminders[line.Text("summary")] = line["deleted"].Bool ? 1 : 0;
      EXPECT_NE(line.Find("list_title"), nullptr);
      EXPECT_NE(line.Find("completion_date"), nullptr);
    }
  }
  CCalendarInfo events;
  CRemainderInfo reminders;
  const Backup& plain = *backups_["9.3.2"];
  std::map<std::string, int> wantEvents, wantReminders;
  for (const auto& r : Read(events, plain.database).Records()) wantEvents[r.Summary] = r.Deleted;
  for (const auto& r : Read(reminders, plain.database).Records()) wantReminders[r.Summary] = r.Deleted;
  EXPECT_EQ(jsonEvents, wantEvents);
  EXPECT_EQ(jsonReminders, wantReminders);
}

}  // namespace
}  // namespace sieve
