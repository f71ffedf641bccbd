// The Core Data store of the Reminders app (iOS 13 and later), as both its readers see it:
// which table holds the reminders, which one the lists, and under which column names.
// iOS 13 and 14 keep every entity in one ZREMCDOBJECT table (a reminder is known by its
// Z_ENT); later systems give reminders (ZREMCDREMINDER) and lists (ZREMCDBASELIST)
// tables of their own.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace sieve {

struct ReminderStoreLayout {
  std::string table;      // where the reminders are
  std::string title;      // the reminder's title column
  std::string listTable;  // where the lists are
  std::string listName;   // the list's name column
  bool shared = false;    // one table for every entity: rows are told apart by Z_ENT
};

// The reminder's other columns carry the same names in every layout.
namespace reminder_column {
inline constexpr char kNotes[] = "ZNOTES";
inline constexpr char kDue[] = "ZDUEDATE";
inline constexpr char kStart[] = "ZSTARTDATE";
inline constexpr char kCompleted[] = "ZCOMPLETED";
inline constexpr char kCompletion[] = "ZCOMPLETIONDATE";
inline constexpr char kPriority[] = "ZPRIORITY";
inline constexpr char kList[] = "ZLIST";
inline constexpr char kMarkedDeleted[] = "ZMARKEDFORDELETION";  // in the app's "recently deleted"
inline constexpr char kIdentity[] = "ZCKIDENTIFIER";
inline constexpr char kEntity[] = "Z_ENT";
}  // namespace reminder_column

// Z_PRIMARYKEY.Z_NAME of the reminder entity, whose Z_ENT marks reminders in a shared table.
inline constexpr char kReminderEntityName[] = "REMCDReminder";

// The layout of a store from the tables it has; nullopt when it holds no reminders.
std::optional<ReminderStoreLayout> FindReminderLayout(const std::function<bool(std::string_view)>& hasTable);

}  // namespace sieve
