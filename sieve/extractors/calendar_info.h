// Events (CCalendarInfo) and reminders (CRemainderInfo) of Library/Calendar/Calendar.sqlitedb:
// the live items of every calendar, then the deleted ones carved from the file's free space.
#pragma once

#include <string>
#include <vector>

#include "sieve/extractors/database_info.h"
#include "sieve/records.h"

namespace sieve {

class CCalendarInfo : public CDatabaseInfo {
 public:
  int read(std::string backupFolder) override;
  std::size_t RecordCount(_InfoType type) const override;
  void* RecordAt(_InfoType type, std::size_t index) override;

  const std::vector<CalendarRecord>& Records() const { return records_; }

 private:
  std::vector<CalendarRecord> records_;
};

// Since iOS 13 reminders live in stores of their own (each a SecondDatabase, there may be
// several); when a backup has one, the calendar's reminders are left behind.
class CRemainderInfo : public CDatabaseInfo {
 public:
  void SetDatabase(RuleAction role, const DatabaseSource& source) override;
  int read(std::string backupFolder) override;
  std::size_t RecordCount(_InfoType type) const override;
  void* RecordAt(_InfoType type, std::size_t index) override;

  const std::vector<ReminderRecord>& Records() const { return records_; }

 private:
  // Reads the stores; false when none of them is a Reminders store.
  bool ReadStores(int& result);

  std::vector<DatabaseSource> stores_;
  std::vector<ReminderRecord> records_;
};

// The list title as the reminder views use it: without the characters \ / : * ? < > |.
std::string ListTitleText(std::string_view title);

}  // namespace sieve
