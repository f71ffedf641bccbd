#include "sieve/extractors/calendar_info.h"

#include <map>
#include <optional>
#include <set>
#include <tuple>

#include <sqlite3.h>

#include "sieve/extractors/calendar_sqlite.h"
#include "sieve/extractors/reminder_store.h"
#include "sieve/reader/time_text.h"
#include "sieve/sqlite/database.h"

namespace sieve {
namespace {

constexpr std::int64_t kReminderListTypes = 8;  // Calendar.supported_entity_types of a list

struct CalendarRow {
  std::int64_t id = 0;
  std::string title;
  bool reminderList = false;
};

// One item as both extractors need it, live or carved.
struct ItemRow {
  std::string summary, startDate, endDate, dueDate, completionDate, description, location, calendarTitle;
  std::int32_t status = 0, availability = 0, priority = 0, completed = 0, allDay = 0;
  bool deleted = false;
};

std::string DateText(std::optional<double> seconds) { return MacTimeTextFromDouble(seconds.value_or(0.0)); }

// An all-day event is stored as floating midnights: its days are the UTC days of those
// values. The end is the last day covered, whether stored as that day's last second or
// as the next midnight.
void SetTimes(ItemRow& item, std::optional<double> start, std::optional<double> end, bool allDay) {
  item.allDay = allDay ? 1 : 0;
  if (allDay && start && *start != 0) {
    item.startDate = MacDateOnlyText(*start);
    item.endDate = end && *end > *start ? MacDateOnlyText(*end - 1) : item.startDate;
    return;
  }
  item.startDate = DateText(start);
  item.endDate = DateText(end);
}

std::string CompletionText(std::optional<double> seconds) { return seconds ? DateText(seconds) : std::string(); }

std::optional<double> NumberColumn(const sqlite::Statement& row, int col) {
  if (row.IsNull(col)) return std::nullopt;
  return row.Double(col);
}

// Title of a Location row; "" when there is none.
class LocationTitles {
 public:
  explicit LocationTitles(sqlite::Database& db) {
    if (db.TableExists("Location")) query_ = db.Prepare("SELECT title FROM Location WHERE ROWID = ?");
  }
  std::string Find(std::optional<std::int64_t> id) {
    if (!id || !query_.Ok()) return {};
    query_.Reset();
    query_.Bind(1, *id);
    std::string title;
    while (query_.Step()) title = query_.Text(0);  // the last row, should ROWID not be unique
    return title;
  }

 private:
  sqlite::Statement query_;
};

// Everything one read needs from the calendar database: live items of the calendars of the
// wanted kind, then carved items of that kind that are neither live nor repeated.
class CalendarReader {
 public:
  CalendarReader(const OpenableDatabase& file, bool reminders) : file_(file), reminders_(reminders) {}

  // 0, or the SQLite code of a failed open or calendar query.
  int Read(std::vector<ItemRow>& items) {
    if (!file_.ok) return SQLITE_CANTOPEN;
    const int opened = db_.Open(file_.path, file_.immutable);
    if (opened != 0) return opened;
    sqlite::Statement calendarsQuery = db_.Prepare("SELECT ROWID, title, supported_entity_types FROM Calendar");
    if (!calendarsQuery.Ok()) return calendarsQuery.Result();
    while (calendarsQuery.Step()) {
      CalendarRow row;
      row.id = calendarsQuery.Int64(0);
      row.title = calendarsQuery.Text(1);
      row.reminderList = calendarsQuery.Int64(2) == kReminderListTypes;
      titles_[row.id] = row.title;
      if (calendarsQuery.IsNull(1) || row.reminderList != reminders_) continue;
      calendars_.push_back(std::move(row));
    }
    ReadLive(items);
    AddRecovered(items);
    return 0;
  }

 private:
  void ReadLive(std::vector<ItemRow>& items) {
    const bool newer = db_.TableExists("CalendarItem");
    const std::string table = newer ? "CalendarItem" : "Event";
    // The older Event table holds the location itself, as text.
    std::string sql = "SELECT summary, start_date, end_date, description, ";
    sql += newer ? "location_id" : "location";
    sql += ", status, availability";
    const auto optional = [&](const char* column) {
      sql += db_.HasColumn(table, column) ? std::string(", ") + column : std::string(", NULL");
    };
    optional("priority");
    optional("completion_date");
    optional("due_date");
    optional("all_day");
    sql += " FROM " + table + " WHERE calendar_id = ? ORDER BY ROWID";
    sqlite::Statement query = db_.Prepare(sql);
    if (!query.Ok()) return;
    const bool hasDueDate = db_.HasColumn(table, "due_date");
    LocationTitles locations(db_);
    for (const CalendarRow& calendar : calendars_) {
      query.Reset();
      query.Bind(1, calendar.id);
      while (query.Step()) {
        ItemRow item;
        item.summary = query.Text(0);
        SetTimes(item, NumberColumn(query, 1), NumberColumn(query, 2), !reminders_ && query.Int(10) != 0);
        item.dueDate = hasDueDate ? DateText(NumberColumn(query, 9)) : item.endDate;
        item.description = query.Text(3);
        if (newer) {
          item.location = query.IsNull(4) ? std::string() : locations.Find(query.Int64(4));
        } else {
          item.location = query.Text(4);
        }
        item.status = query.Int(5);
        item.availability = query.Int(6);
        item.priority = query.Int(7);
        item.completed = query.IsNull(8) ? 0 : 1;
        item.completionDate = CompletionText(NumberColumn(query, 8));
        item.calendarTitle = calendar.title;
        items.push_back(std::move(item));
      }
    }
  }

  void AddRecovered(std::vector<ItemRow>& items) {
    CCalendarSqlite engine;
    if (engine.Load(file_.path) != 0 || engine.scan() <= 0) return;
    using Key = std::tuple<std::string, std::string, std::string>;
    std::set<Key> seen;
    for (const ItemRow& item : items) seen.emplace(item.summary, item.startDate, item.endDate);
    LocationTitles locations(db_);
    for (const RecoveredCalendarItem& found : engine.Items()) {
      if ((found.itemType == RecoveredCalendarItem::kReminderType) != reminders_) continue;
      ItemRow item;
      item.deleted = true;
      item.summary = found.summary;
      SetTimes(item, found.startTime, found.endTime, !reminders_ && found.allDay);
      item.dueDate = engine.HasDueDate() ? DateText(found.dueTime) : item.endDate;
      item.description = found.description;
      item.location = found.locationId ? locations.Find(found.locationId) : found.locationText;
      item.status = found.status;
      item.availability = found.availability;
      item.priority = found.priority;
      item.completed = found.completionTime ? 1 : 0;
      item.completionDate = CompletionText(found.completionTime);
      if (found.calendarId) {
        const auto title = titles_.find(*found.calendarId);
        if (title != titles_.end()) item.calendarTitle = title->second;
      }
      // A copy of a live item, or a second copy of the same deleted one, is no new item.
      if (!seen.emplace(item.summary, item.startDate, item.endDate).second) continue;
      items.push_back(std::move(item));
    }
  }

  OpenableDatabase file_;
  bool reminders_;
  sqlite::Database db_;
  std::vector<CalendarRow> calendars_;
  std::map<std::int64_t, std::string> titles_;
};

}  // namespace

std::string ListTitleText(std::string_view title) {
  std::string text;
  for (const char c : title) {
    if (std::string_view("\\/:*?<>|").find(c) == std::string_view::npos) text += c;
  }
  return text;
}

int CCalendarInfo::read(std::string /*backupFolder*/) {
  records_.clear();
  const OpenableDatabase file = PrepareDatabase(MainDatabase, "Calendar.sqlitedb");
  std::vector<ItemRow> items;
  const int result =
      CalendarReader(file, false).Read(items);
  for (const ItemRow& item : items) {
    CalendarRecord record;
    record.Deleted = item.deleted ? 1 : 0;
    record.Summary = item.summary;
    record.StartDate = item.startDate;
    record.EndDate = item.endDate;
    record.Description = item.description;
    record.Location = item.location;
    record.Status = item.status;
    record.Availability = item.availability;
    record.AllDay = item.allDay;
    records_.push_back(std::move(record));
  }
  return result;
}

void CRemainderInfo::SetDatabase(RuleAction role, const DatabaseSource& source) {
  if (role == RuleAction::SecondDatabase) {
    stores_.push_back(source);
  } else {
    CDatabaseInfo::SetDatabase(role, source);
  }
}

bool CRemainderInfo::ReadStores(int& result) {
  bool anyStore = false;
  for (std::size_t i = 0; i < stores_.size(); ++i) {
    const OpenableDatabase file = PrepareDatabase(stores_[i], "reminders-" + std::to_string(i) + ".sqlite");
    const ReminderStoreResult read = ReadReminderStore(file, records_);
    anyStore |= read.isStore;
    if (read.code != 0) result = read.code;
  }
  for (ReminderRecord& record : records_) record.ListTitle = ListTitleText(record.ListTitle);
  return anyStore;
}

int CRemainderInfo::read(std::string /*backupFolder*/) {
  records_.clear();
  int storesResult = 0;
  if (ReadStores(storesResult)) return storesResult;
  records_.clear();
  const OpenableDatabase file = PrepareDatabase(MainDatabase, "remainder.sqlitedb");
  std::vector<ItemRow> items;
  const int result =
      CalendarReader(file, true).Read(items);
  for (const ItemRow& item : items) {
    ReminderRecord record;
    record.Summary = item.summary;
    record.StartDate = item.startDate;
    record.EndDate = item.dueDate;
    record.Description = item.description;
    record.Location = item.location;
    record.Completed = item.completed;
    record.Priority = item.priority;
    record.ListTitle = ListTitleText(item.calendarTitle);
    record.Deleted = item.deleted ? 1 : 0;
    record.CompletionDate = item.completionDate;
    records_.push_back(std::move(record));
  }
  return result;
}

std::size_t CCalendarInfo::RecordCount(_InfoType type) const { return type == INFO_CALENDAR ? records_.size() : 0; }

void* CCalendarInfo::RecordAt(_InfoType type, std::size_t index) {
  return type == INFO_CALENDAR && index < records_.size() ? &records_[index] : nullptr;
}

std::size_t CRemainderInfo::RecordCount(_InfoType type) const { return type == INFO_REMINDER ? records_.size() : 0; }

void* CRemainderInfo::RecordAt(_InfoType type, std::size_t index) {
  return type == INFO_REMINDER && index < records_.size() ? &records_[index] : nullptr;
}

}  // namespace sieve
