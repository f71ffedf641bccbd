#include "sieve/extractors/calendar_sqlite.h"

#include <algorithm>
#include <set>

#include "sieve/extractors/carved_columns.h"

namespace sieve {
namespace {

constexpr std::int64_t kReminderEntityType = 3;  // CalendarItem.entity_type of a reminder
constexpr std::int64_t kReminderListTypes = 8;   // Calendar.supported_entity_types of a list
constexpr std::uint32_t kLongestText = 655350;

std::int32_t Narrow(std::optional<std::int64_t> value) {
  if (!value) return 0;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(*value, INT32_MIN, INT32_MAX));
}

}  // namespace

void CCalendarSqlite::FindColumns() {
  table_.clear();
  columns_ = Columns{};
  for (const char* candidate : {"CalendarItem", "Event"}) {
    if (TableRootPage(candidate) != 0) {
      table_ = candidate;
      break;
    }
  }
  if (table_.empty()) return;
  const auto columns = TableColumns(table_);
  const auto at = [&](const char* name) { return StoredColumnIndex(columns, name); };
  columns_.summary = at("summary");
  columns_.location = at("location");
  columns_.locationId = at("location_id");
  columns_.description = at("description");
  columns_.start = at("start_date");
  columns_.end = at("end_date");
  columns_.calendar = at("calendar_id");
  columns_.status = at("status");
  columns_.availability = at("availability");
  columns_.entityType = at("entity_type");
  columns_.priority = at("priority");
  columns_.due = at("due_date");
  columns_.completion = at("completion_date");
  columns_.allDay = at("all_day");
  columns_.uuid = at(table_ == "Event" ? "unique_identifier" : "UUID");

  reminderLists_.clear();
  const auto calendarColumns = TableColumns("Calendar");
  const int typesColumn = StoredColumnIndex(calendarColumns, "supported_entity_types");
  if (typesColumn < 0) return;
  ForEachLiveRow("Calendar", [&](std::int64_t rowid, const std::vector<sqlite::Value>& values) {
    if (CarvedInteger(values, typesColumn) == kReminderListTypes) reminderLists_.push_back(rowid);
  });
}

int CCalendarSqlite::scan() {
  items_.clear();
  FindColumns();
  const int found = CSqliteDelete::scan();
  if (found <= 0) return found;
  // An edited row leaves its old cell behind, and moving cells between pages leaves copies of
  // live rows; the freeblock header often overwrites their rowid. Neither is a deleted item:
  // they are known by a live rowid, a live item's UUID, or the same summary and start.
  const std::set<std::int64_t> live = LiveRowids(table_);
  std::set<std::string> liveUuids;
  std::set<std::pair<std::string, std::optional<double>>> liveItems;
  ForEachLiveRow(table_, [&](std::int64_t, const std::vector<sqlite::Value>& values) {
    const sqlite::Value* summary = CarvedValue(values, columns_.summary);
    liveItems.emplace(summary ? Text(*summary) : std::string(), CarvedNumber(values, columns_.start));
    const sqlite::Value* uuid = CarvedValue(values, columns_.uuid);
    if (uuid != nullptr && uuid->kind == sqlite::ValueKind::kText) liveUuids.insert(Text(*uuid));
  });
  std::erase_if(items_, [&](const RecoveredCalendarItem& item) {
    return live.contains(item.rowid) || (!item.uuid.empty() && liveUuids.contains(item.uuid)) ||
           liveItems.contains({item.summary, item.startTime});
  });
  return static_cast<int>(items_.size());
}

std::vector<RecordShape> CCalendarSqlite::Shapes() const {
  if (table_.empty() || columns_.summary < 0) return {};
  std::optional<RecordShape> shape = ShapeForTable(table_);
  if (!shape) return {};
  // An item without a summary shows nothing; asking for text also rules out most noise.
  shape->columns[static_cast<std::size_t>(columns_.summary)] = sqlite::kText;
  shape->maxBytes.assign(shape->columns.size(), kLongestText);
  return {*shape};
}

bool CCalendarSqlite::Accept(std::size_t, const CarvedRecord& record) const {
  const sqlite::Value* summary = CarvedValue(record.values, columns_.summary);
  if (summary == nullptr || summary->kind != sqlite::ValueKind::kText || summary->bytes.empty()) return false;
  // A row found without its start and calendar is too damaged to place anywhere.
  return CarvedNumber(record.values, columns_.start).has_value() || CarvedInteger(record.values, columns_.calendar).has_value();
}

void CCalendarSqlite::OnRecord(std::size_t, const CarvedRecord& record) {
  RecoveredCalendarItem item;
  item.rowid = record.rowid;
  if (const auto* v = CarvedValue(record.values, columns_.summary)) item.summary = Text(*v);
  if (const auto* v = CarvedValue(record.values, columns_.description)) item.description = Text(*v);
  if (const auto* v = CarvedValue(record.values, columns_.location)) item.locationText = Text(*v);
  if (const auto* v = CarvedValue(record.values, columns_.uuid); v && v->kind == sqlite::ValueKind::kText) {
    item.uuid = Text(*v);
  }
  item.locationId = CarvedInteger(record.values, columns_.locationId);
  item.startTime = CarvedNumber(record.values, columns_.start);
  item.endTime = CarvedNumber(record.values, columns_.end);
  item.dueTime = CarvedNumber(record.values, columns_.due);
  item.completionTime = CarvedNumber(record.values, columns_.completion);
  item.calendarId = CarvedInteger(record.values, columns_.calendar);
  item.status = Narrow(CarvedInteger(record.values, columns_.status));
  item.availability = Narrow(CarvedInteger(record.values, columns_.availability));
  item.priority = Narrow(CarvedInteger(record.values, columns_.priority));
  item.allDay = CarvedInteger(record.values, columns_.allDay).value_or(0) != 0;
  const auto entityType = CarvedInteger(record.values, columns_.entityType);
  const bool inReminderList =
      item.calendarId && std::find(reminderLists_.begin(), reminderLists_.end(), *item.calendarId) !=
                             reminderLists_.end();
  if ((entityType && *entityType == kReminderEntityType) || (!entityType && inReminderList)) {
    item.itemType = RecoveredCalendarItem::kReminderType;
  }
  items_.push_back(std::move(item));
}

}  // namespace sieve
