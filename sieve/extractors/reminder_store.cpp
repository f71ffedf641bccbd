#include "sieve/extractors/reminder_store.h"

#include <map>
#include <optional>
#include <set>
#include <tuple>

#include <sqlite3.h>

#include "sieve/extractors/reminder_store_layout.h"
#include "sieve/extractors/reminder_store_sqlite.h"
#include "sieve/reader/time_text.h"
#include "sieve/sqlite/database.h"

namespace sieve {
namespace {

std::string DateText(std::optional<double> seconds) { return MacTimeTextFromDouble(seconds.value_or(0.0)); }

std::optional<double> Number(const sqlite::Statement& row, int col) {
  if (row.IsNull(col)) return std::nullopt;
  return row.Double(col);
}

class StoreReader {
 public:
  explicit StoreReader(sqlite::Database& db, ReminderStoreLayout layout) : db_(db), layout_(std::move(layout)) {}

  int Read(std::vector<ReminderRecord>& out) {
    ReadLists();
    namespace col = reminder_column;
    std::string sql = "SELECT " + layout_.title;
    for (const char* column : {col::kNotes, col::kStart, col::kDue, col::kCompleted, col::kCompletion,
                               col::kPriority, col::kList, col::kMarkedDeleted}) {
      sql += db_.HasColumn(layout_.table, column) ? std::string(", ") + column : std::string(", NULL");
    }
    sql += " FROM " + layout_.table + " WHERE " + layout_.title + " IS NOT NULL";
    const std::optional<std::int64_t> entity = layout_.shared ? ReminderEntity() : std::nullopt;
    if (entity) sql += " AND Z_ENT = " + std::to_string(*entity);
    sql += " ORDER BY Z_PK";
    sqlite::Statement query = db_.Prepare(sql);
    if (!query.Ok()) return query.Result();
    while (query.Step()) {
      ReminderRecord record;
      record.Summary = query.Text(0);
      record.Description = query.Text(1);
      record.StartDate = DateText(Number(query, 2));
      record.EndDate = DateText(Number(query, 3));
      const std::optional<double> completion = Number(query, 5);
      record.Completed = query.Int(4) != 0 || completion ? 1 : 0;
      record.CompletionDate = completion ? DateText(completion) : std::string();
      record.Priority = query.Int(6);
      if (!query.IsNull(7)) record.ListTitle = ListName(query.Int64(7));
      record.Deleted = query.Int(8) != 0 ? 1 : 0;
      out.push_back(std::move(record));
    }
    return 0;
  }

  std::string ListName(std::int64_t pk) const {
    const auto found = lists_.find(pk);
    return found == lists_.end() ? std::string() : found->second;
  }

 private:
  void ReadLists() {
    sqlite::Statement query = db_.Prepare("SELECT Z_PK, " + layout_.listName + " FROM " + layout_.listTable +
                                          " WHERE " + layout_.listName + " IS NOT NULL");
    while (query.Ok() && query.Step()) lists_[query.Int64(0)] = query.Text(1);
  }

  std::optional<std::int64_t> ReminderEntity() {
    sqlite::Statement query = db_.Prepare("SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = ?");
    if (!query.Ok()) return std::nullopt;
    query.Bind(1, std::string_view(kReminderEntityName));
    if (!query.Step()) return std::nullopt;
    return query.Int64(0);
  }

  sqlite::Database& db_;
  ReminderStoreLayout layout_;
  std::map<std::int64_t, std::string> lists_;
};

void AddRecovered(const std::string& path, const StoreReader& lists, std::vector<ReminderRecord>& out,
                  std::size_t firstOfStore) {
  CReminderStoreSqlite engine;
  if (engine.Load(path) != 0 || engine.scan() <= 0) return;
  using Key = std::tuple<std::string, std::string, std::string>;
  std::set<Key> seen;
  for (std::size_t i = firstOfStore; i < out.size(); ++i) seen.emplace(out[i].Summary, out[i].StartDate, out[i].EndDate);
  for (const RecoveredReminder& found : engine.Items()) {
    ReminderRecord record;
    record.Deleted = 1;
    record.Summary = found.title;
    record.Description = found.notes;
    record.StartDate = DateText(found.start);
    record.EndDate = DateText(found.due);
    record.Completed = found.completed ? 1 : 0;
    record.CompletionDate = found.completion ? DateText(found.completion) : std::string();
    record.Priority = found.priority;
    if (found.list) record.ListTitle = lists.ListName(*found.list);
    // A second copy of the same deleted reminder is no new one.
    if (!seen.emplace(record.Summary, record.StartDate, record.EndDate).second) continue;
    out.push_back(std::move(record));
  }
}

}  // namespace

ReminderStoreResult ReadReminderStore(const OpenableDatabase& file, std::vector<ReminderRecord>& out) {
  if (!file.ok) return {SQLITE_CANTOPEN, false};
  sqlite::Database db;
  const int opened = db.Open(file.path, file.immutable);
  if (opened != SQLITE_OK) return {opened, false};
  const auto layout = FindReminderLayout([&](std::string_view table) { return db.TableExists(table); });
  if (!layout) return {0, false};
  const std::size_t first = out.size();
  StoreReader reader(db, *layout);
  const int result = reader.Read(out);
  if (result == 0) AddRecovered(file.path, reader, out, first);
  return {result, true};
}

}  // namespace sieve
