#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/extractors/calendar_info.h"
#include "sieve/extractors/calendar_sqlite.h"
#include "sieve/private_folder.h"
#include "sieve/reader/time_text.h"
#include "extractor_test.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using test::JsonValue;

constexpr char kPath[] = "Library/Calendar/Calendar.sqlitedb";

// A generated backup's calendar database and, from iOS 13 on, its reminder stores.
struct Backup {
  const JsonValue& truth;       // databases/calendar
  const JsonValue& storeTruth;  // databases/reminders
  std::string database;
  std::vector<std::string> stores, storeWals;  // beside each store its -wal, "" when it has none

  // "13.7", or "13.7 with -wal": the stores' last changes in a -wal, in the Manifest.db layout.
  explicit Backup(const std::string& name) : Backup(Generate(name)) {}

 private:
  explicit Backup(const test::LayoutBackup& b)
      : truth(b.Database("calendar")), storeTruth(Or(b.Truth["databases"].Find("reminders"))), database(b.Stored(kPath)) {
    for (const auto& [inBackup, path] : b.StoredByPath) {
      if (!inBackup.starts_with("Container_v1/Stores/Data-") || !inBackup.ends_with(".sqlite")) continue;
      stores.push_back(path);
      storeWals.push_back(b.Stored(inBackup + "-wal"));
    }
  }
  static const JsonValue& Or(const JsonValue* value) {
    static const JsonValue none;
    return value != nullptr ? *value : none;
  }
  static const test::LayoutBackup& Generate(const std::string& name) {
    const std::string version = name.substr(0, name.find(' '));
    return name == version ? test::SmallBackup(version, "11")
                           : test::SmallBackup(version, "11", {"--wal-history", "--manifest-db"});
  }
};

// The older layouts, the iOS 9 one, and the reminder stores' three layouts beside a widened
// CalendarItem; the stores again with their last changes in a -wal.
const char* const kVersions[] = {"9.3.2", "4.3.3", "13.7", "16.5", "18.1", "13.7 with -wal", "16.5 with -wal", "18.1 with -wal"};

// Reads a calendar database (and reminder stores) the way the scan hands them over.
template <typename Info>
Info& Read(Info& info, const Backup& b, int* result = nullptr, bool withStores = false) {
  static PrivateFolder folder;  // where a store is copied beside its -wal
  static ScanContext context;
  context.privateFolder = &folder;
  info.SetContext(&context);
  DatabaseSource source;
  source.main.path = b.database;
  info.SetDatabase(RuleAction::MainDatabase, source);
  for (std::size_t i = 0; withStores && i < b.stores.size(); ++i) {
    DatabaseSource second;
    second.main.path = b.stores[i];
    second.wal.path = b.storeWals[i];
    info.SetDatabase(RuleAction::SecondDatabase, second);
  }
  const int rc = info.read("");
  if (result) *result = rc;
  return info;
}

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

TEST(CalendarBackups, LiveEventsOfEveryLayoutAreExact) {
  for (const std::string version : kVersions) {
    const Backup backup(version);
    SCOPED_TRACE(version);
    CCalendarInfo info;
    int result = -1;
    const auto live = BySummary(Read(info, backup, &result).Records(), 0);
    EXPECT_EQ(result, 0);
    const JsonValue& events = backup.truth["events"];
    ASSERT_EQ(live.size(), events.Items.size());
    for (const JsonValue& want : events.Items) {
      const auto got = live.find(want.Text("summary"));
      ASSERT_NE(got, live.end()) << want.Text("summary");
      ExpectEvent(got->second, want);
    }
    // No reminder, and no event of the calendar without a title, among the events.
    for (const JsonValue& reminder : backup.truth["reminders"].Items) {
      EXPECT_FALSE(live.contains(reminder.Text("summary")));
    }
  }
  EXPECT_EQ(Backup("4.3.3").truth.Text("layout"), "Event");
  EXPECT_EQ(Backup("18.1").truth.Text("layout"), "CalendarItem");
}

// Reminders with their due dates and lists: of the calendar database up to iOS 12 (none in the
// oldest layout), of the stores (all of them, every store) since iOS 13, which leave the
// calendar's own reminder lists behind.
TEST(CalendarBackups, LiveRemindersOfEveryLayoutAreExact) {
  CRemainderInfo older;
  EXPECT_TRUE(Read(older, Backup("4.3.3")).Records().empty());
  for (const std::string version : {"9.3.2", "13.7", "16.5", "18.1", "13.7 with -wal", "16.5 with -wal", "18.1 with -wal"}) {
    const Backup backup(version);
    const bool stores = version != "9.3.2";
    SCOPED_TRACE(version + " " + backup.storeTruth.Text("layout"));
    ASSERT_EQ(backup.stores.size(), stores ? 2u : 0u);
    EXPECT_EQ(version.ends_with("-wal"), stores && !backup.storeWals[0].empty());
    CRemainderInfo info;
    int result = -1;
    // Every record by its title: the live rows, the marked ones and the carved ones; the
    // calendar's reminders would add unmarked rows.
    std::map<std::string, ReminderRecord> live;
    for (const ReminderRecord& r : Read(info, backup, &result, true).Records()) {
      EXPECT_TRUE(live.emplace(r.Summary, r).second) << "twice: " << r.Summary;
    }
    EXPECT_EQ(result, 0);
    const JsonValue& reminders = (stores ? backup.storeTruth : backup.truth)["reminders"];
    ASSERT_GT(reminders.Items.size(), 5u);
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

// Recovered records by their title against the truth's deleted rows; `check` compares the
// fields of each pair.
template <typename Record, typename Check>
void MeasureRecovery(const std::string& label, const std::vector<Record>& records, const JsonValue& deleted,
                     const JsonValue& live, Check check) {
  const auto recovered = BySummary(records, 1);
  for (const JsonValue& row : live.Items) EXPECT_FALSE(recovered.contains(row.Text("summary"))) << "live row as deleted";
  test::Recovery score;
  score.Score(recovered, deleted, [](const auto& got, const JsonValue& want) { return got.first == want.Text("summary"); });
  std::map<std::string, const JsonValue*> wanted;
  for (const JsonValue& row : deleted.Items) wanted[row.Text("summary")] = &row;
  for (const auto& [summary, record] : recovered) {
    if (const auto want = wanted.find(summary); want != wanted.end()) check(record, *want->second);
  }
  score.Expect(label, 0.95, 0.98);
}

TEST(CalendarBackups, DeletedItemsAreRecoveredWithFullPrecisionTimes) {
  for (const std::string version : kVersions) {
    const Backup backup(version);
    CCalendarInfo events;
    MeasureRecovery("calendar " + version, Read(events, backup).Records(), backup.truth["deleted_events"],
                    backup.truth["events"], [](const CalendarRecord& got, const JsonValue& want) {
                      // Whole-second texts of the stored doubles: a float would move them.
                      ExpectEventTimes(got, want);
                      EXPECT_EQ(got.Description.substr(0, 40), want.Text("description").substr(0, 40));
                      EXPECT_EQ(got.Location, want.Text("location"));
                      EXPECT_EQ(got.Status, want.Int("status"));
                    });
  }
  CRemainderInfo reminders;
  const Backup newer("9.3.2");
  MeasureRecovery("reminders 9.3.2", Read(reminders, newer).Records(), newer.truth["deleted_reminders"],
                  newer.truth["reminders"],
                  [](const ReminderRecord& got, const JsonValue& want) { ExpectReminder(got, want, true); });
  for (const std::string version : {"13.7", "16.5", "18.1", "13.7 with -wal", "16.5 with -wal", "18.1 with -wal"}) {
    const Backup backup(version);
    CRemainderInfo store;
    std::vector<ReminderRecord> carved;
    for (const ReminderRecord& r : Read(store, backup, nullptr, true).Records()) {
      if (r.Deleted) carved.push_back(r);
    }
    // Rows only marked as deleted are no carving result: they are measured as live rows.
    std::erase_if(carved, [&](const ReminderRecord& r) {
      for (const JsonValue& want : backup.storeTruth["reminders"].Items) {
        if (want.Text("summary") == r.Summary) return true;
      }
      return false;
    });
    MeasureRecovery("reminder store " + version + " " + backup.storeTruth.Text("layout"), carved,
                    backup.storeTruth["deleted_reminders"], backup.storeTruth["reminders"],
                    [](const ReminderRecord& got, const JsonValue& want) { ExpectReminder(got, want, true); });
  }
}

TEST(CalendarBackups, EngineNeverReportsLiveRowsAndKeepsDoubles) {
  CCalendarSqlite engine;
  ASSERT_EQ(engine.Load(Backup("9.3.2").database), 0);
  ASSERT_GT(engine.scan(), 0);
  EXPECT_EQ(engine.ItemTable(), "CalendarItem");
  std::map<std::string, const JsonValue*> deleted;
  for (const char* list : {"deleted_events", "deleted_reminders"}) {
    for (const JsonValue& row : Backup("9.3.2").truth[list].Items) deleted[row.Text("summary")] = &row;
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

TEST(CalendarText, ListTitlesLoseFileNameCharacters) {
  EXPECT_EQ(ListTitleText("Shopping/Errands: \\*?<>|\"x\""), "ShoppingErrands \"x\"");
  EXPECT_EQ(ListTitleText("Einkäufe 🛒"), "Einkäufe 🛒");
}

}  // namespace
}  // namespace sieve
