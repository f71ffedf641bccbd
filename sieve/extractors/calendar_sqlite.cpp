#include "sieve/extractors/calendar_sqlite.h"

#include <algorithm>

#include "sieve/sqlite/carve_toolkit.h"

namespace sieve {
namespace {

using namespace sqlite;

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
  columns_.uuid = at(table_ == "Event" ? "unique_identifier" : "UUID");

  reminderLists_.clear();
  const auto calendarColumns = TableColumns("Calendar");
  const int typesColumn = StoredColumnIndex(calendarColumns, "supported_entity_types");
  if (typesColumn < 0) return;
  ForEachLiveRow("Calendar", [&](std::int64_t rowid, const std::vector<Value>& values) {
    if (IntegerAt(values, typesColumn) == kReminderListTypes) reminderLists_.push_back(rowid);
  });
}

int CCalendarSqlite::scan() {
  items_.clear();
  FindColumns();
  const int found = CSqliteDelete::scan();
  return found <= 0 ? found : static_cast<int>(items_.size());
}

std::vector<RecordShape> CCalendarSqlite::Shapes() const {
  if (table_.empty() || columns_.summary < 0) return {};
  std::optional<RecordShape> shape = ShapeForTable(table_);
  if (!shape) return {};
  // An item without a summary shows nothing; asking for text also rules out most noise.
  NarrowColumn(*shape, columns_.summary, kText);
  LimitValueBytes(*shape, kLongestText);
  return {*shape};
}

// An edited row leaves its old cell behind, and moving cells between pages leaves copies of
// live rows; the freeblock header often overwrites their rowid. They are known by the item's
// UUID, or by the same summary and start.
CSqliteDelete::ShapeTable CCalendarSqlite::TableOf(std::size_t) const {
  return {table_, {{columns_.uuid}, {columns_.summary, columns_.start}}};
}

bool CCalendarSqlite::Accept(std::size_t, const CarvedRecord& record) const {
  if (!HasText(record.values, columns_.summary)) return false;
  // A row found without its start and calendar is too damaged to place anywhere.
  return NumberAt(record.values, columns_.start).has_value() || IntegerAt(record.values, columns_.calendar).has_value();
}

void CCalendarSqlite::OnRecord(std::size_t, const CarvedRecord& record, const RecordOrigin&) {
  RecoveredCalendarItem item;
  item.rowid = record.rowid;
  item.summary = TextAt(record.values, columns_.summary);
  item.description = TextAt(record.values, columns_.description);
  item.locationText = TextAt(record.values, columns_.location);
  if (const Value* v = ValueAt(record.values, columns_.uuid); v && v->kind == ValueKind::kText) item.uuid = Text(*v);
  item.locationId = IntegerAt(record.values, columns_.locationId);
  item.startTime = NumberAt(record.values, columns_.start);
  item.endTime = NumberAt(record.values, columns_.end);
  item.dueTime = NumberAt(record.values, columns_.due);
  item.completionTime = NumberAt(record.values, columns_.completion);
  item.calendarId = IntegerAt(record.values, columns_.calendar);
  item.status = Narrow(IntegerAt(record.values, columns_.status));
  item.availability = Narrow(IntegerAt(record.values, columns_.availability));
  item.priority = Narrow(IntegerAt(record.values, columns_.priority));
  const auto entityType = IntegerAt(record.values, columns_.entityType);
  const bool inReminderList =
      item.calendarId && std::find(reminderLists_.begin(), reminderLists_.end(), *item.calendarId) !=
                             reminderLists_.end();
  if ((entityType && *entityType == kReminderEntityType) || (!entityType && inReminderList)) {
    item.itemType = RecoveredCalendarItem::kReminderType;
  }
  items_.push_back(std::move(item));
}

}  // namespace sieve
