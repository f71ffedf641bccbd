#include "sieve/extractors/reminder_store_layout.h"

namespace sieve {

std::optional<ReminderStoreLayout> FindReminderLayout(const std::function<bool(std::string_view)>& hasTable) {
  if (hasTable("ZREMCDREMINDER")) return ReminderStoreLayout{"ZREMCDREMINDER", "ZTITLE", "ZREMCDBASELIST", "ZNAME", false};
  // The shared table names the attributes of several entities alike; the reminder's title
  // and the list's name are the second of their names.
  if (hasTable("ZREMCDOBJECT")) return ReminderStoreLayout{"ZREMCDOBJECT", "ZTITLE1", "ZREMCDOBJECT", "ZNAME1", true};
  return std::nullopt;
}

}  // namespace sieve
