// Deleted reminders of a Reminders store (iOS 13 and later), carved from its free space.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sieve/extractors/reminder_store_layout.h"
#include "sieve/sqlite/sqlite_delete.h"

namespace sieve {

// One deleted reminder as its cell held it; times are seconds since 2001.
struct RecoveredReminder {
  std::int64_t rowid = -1;
  std::string title;
  std::string notes;
  std::optional<double> start;
  std::optional<double> due;
  std::optional<double> completion;
  std::optional<std::int64_t> list;  // Z_PK of its list
  std::int32_t priority = 0;
  bool completed = false;
};

class CReminderStoreSqlite : public CSqliteDelete {
 public:
  // Fills Items(): deleted reminders only, never a row that is still live.
  int scan() override;
  const std::vector<RecoveredReminder>& Items() const { return items_; }

 protected:
  std::vector<RecordShape> Shapes() const override;
  ShapeTable TableOf(std::size_t shapeIndex) const override;
  bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const override;
  void OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin) override;

 private:
  struct Columns {
    int title = -1, notes = -1, start = -1, due = -1, completed = -1, completion = -1, priority = -1;
    int list = -1, identity = -1, entity = -1;
  };
  void FindLayout();

  std::optional<ReminderStoreLayout> layout_;
  Columns columns_;
  std::optional<std::int64_t> entity_;  // Z_ENT of reminders in a shared table
  std::vector<RecoveredReminder> items_;
};

}  // namespace sieve
