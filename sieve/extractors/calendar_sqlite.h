// Deleted events and reminders of Calendar.sqlitedb, carved from the free space of its pages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sieve/sqlite/sqlite_delete.h"

namespace sieve {

// One deleted calendar item as its cell held it. Times stay the 8-byte doubles of the page
// (seconds since 2001); a narrower type would move them by seconds.
struct RecoveredCalendarItem {
  static constexpr std::int32_t kReminderType = 8;

  std::int64_t rowid = -1;
  std::string summary;
  std::string description;
  std::string uuid;                  // the item's identity; a live item's UUID marks a stale copy
  std::string locationText;          // the older Event table keeps the location as text
  std::optional<std::int64_t> locationId;  // CalendarItem points into the Location table
  std::optional<double> startTime;
  std::optional<double> endTime;
  std::optional<double> dueTime;
  std::optional<double> completionTime;
  std::optional<std::int64_t> calendarId;
  std::int32_t status = 0;
  std::int32_t availability = 0;
  std::int32_t priority = 0;
  std::int32_t itemType = 0;  // kReminderType for a reminder, 0 for an event
};

class CCalendarSqlite : public CSqliteDelete {
 public:
  // Fills Items(): deleted items only, never a row that is still live.
  int scan() override;
  const std::vector<RecoveredCalendarItem>& Items() const { return items_; }
  // "CalendarItem", "Event", or "" when the file has neither table.
  const std::string& ItemTable() const { return table_; }
  // Reminders of the newer table carry their due date in a column of its own.
  bool HasDueDate() const { return columns_.due >= 0; }

 protected:
  std::vector<RecordShape> Shapes() const override;
  ShapeTable TableOf(std::size_t shapeIndex) const override;
  bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const override;
  void OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin) override;

 private:
  struct Columns {
    int summary = -1, location = -1, locationId = -1, description = -1, start = -1, end = -1;
    int calendar = -1, status = -1, availability = -1, entityType = -1, priority = -1, due = -1;
    int completion = -1, uuid = -1;
  };
  void FindColumns();

  std::string table_;
  Columns columns_;
  std::vector<std::int64_t> reminderLists_;  // live calendars that hold reminders
  std::vector<RecoveredCalendarItem> items_;
};

}  // namespace sieve
