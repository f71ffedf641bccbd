// The reminders of one Reminders store (AppDomainGroup-group.com.apple.reminders,
// Container_v1/Stores/Data-*.sqlite, iOS 13 and later): the live ones, those the user
// moved to "recently deleted" (marked deleted), then those carved from free space.
#pragma once

#include <vector>

#include "sieve/extractors/database_info.h"
#include "sieve/records.h"

namespace sieve {

struct ReminderStoreResult {
  int code = 0;           // 0, or the SQLite code of a failed open or query
  bool isStore = false;   // the file has the tables of a Reminders store
};

// Appends the store's reminders with their list's name as stored.
ReminderStoreResult ReadReminderStore(const OpenableDatabase& file, std::vector<ReminderRecord>& out);

}  // namespace sieve
