#include "sieve/extractors/reminder_store_sqlite.h"

#include <algorithm>
#include <set>
#include <tuple>

#include "sieve/extractors/carved_columns.h"

namespace sieve {
namespace {

constexpr std::uint32_t kLongestText = 655350;

std::int32_t Narrow(std::optional<std::int64_t> value) {
  if (!value) return 0;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(*value, INT32_MIN, INT32_MAX));
}

}  // namespace

void CReminderStoreSqlite::FindLayout() {
  columns_ = Columns{};
  entity_.reset();
  layout_ = FindReminderLayout([&](std::string_view table) { return TableRootPage(table) != 0; });
  if (!layout_) return;
  const auto columns = TableColumns(layout_->table);
  const auto at = [&](std::string_view name) { return StoredColumnIndex(columns, name); };
  namespace col = reminder_column;
  columns_.title = at(layout_->title);
  columns_.notes = at(col::kNotes);
  columns_.start = at(col::kStart);
  columns_.due = at(col::kDue);
  columns_.completed = at(col::kCompleted);
  columns_.completion = at(col::kCompletion);
  columns_.priority = at(col::kPriority);
  columns_.list = at(col::kList);
  columns_.identity = at(col::kIdentity);
  columns_.entity = at(col::kEntity);
  if (!layout_->shared) return;
  const int name = StoredColumnIndex(TableColumns("Z_PRIMARYKEY"), "Z_NAME");
  ForEachLiveRow("Z_PRIMARYKEY", [&](std::int64_t rowid, const std::vector<sqlite::Value>& values) {
    const sqlite::Value* value = CarvedValue(values, name);
    if (value != nullptr && value->kind == sqlite::ValueKind::kText && Text(*value) == kReminderEntityName) {
      entity_ = rowid;
    }
  });
}

int CReminderStoreSqlite::scan() {
  items_.clear();
  found_.clear();
  FindLayout();
  // Without its entity number a shared table's rows cannot be told apart.
  if (!layout_ || columns_.title < 0 || (layout_->shared && !entity_)) return 0;
  const int result = CSqliteDelete::scan();
  if (result <= 0) return result;
  // Edits and page moves leave copies of live rows behind: known by a live Z_PK, a live
  // reminder's identity, or the same title and due date.
  const std::set<std::int64_t> live = LiveRowids(layout_->table);
  std::set<std::string> liveIdentities;
  std::set<std::pair<std::string, std::optional<double>>> liveReminders;
  ForEachLiveRow(layout_->table, [&](std::int64_t, const std::vector<sqlite::Value>& values) {
    const sqlite::Value* title = CarvedValue(values, columns_.title);
    if (title == nullptr || title->kind != sqlite::ValueKind::kText) return;
    liveReminders.emplace(Text(*title), CarvedNumber(values, columns_.due));
    const sqlite::Value* identity = CarvedValue(values, columns_.identity);
    if (identity != nullptr && identity->kind == sqlite::ValueKind::kText) liveIdentities.insert(Text(*identity));
  });
  for (auto& [item, identity] : found_) {
    if (live.contains(item.rowid) || (!identity.empty() && liveIdentities.contains(identity)) ||
        liveReminders.contains({item.title, item.due})) {
      continue;
    }
    items_.push_back(std::move(item));
  }
  found_.clear();
  return static_cast<int>(items_.size());
}

std::vector<RecordShape> CReminderStoreSqlite::Shapes() const {
  if (!layout_) return {};
  std::optional<RecordShape> shape = ShapeForTable(layout_->table);
  if (!shape) return {};
  // A reminder without a title shows nothing; asking for text also rules out most noise.
  shape->columns[static_cast<std::size_t>(columns_.title)] = sqlite::kText;
  if (layout_->shared && columns_.entity >= 0) shape->columns[static_cast<std::size_t>(columns_.entity)] = sqlite::kInteger;
  shape->maxBytes.assign(shape->columns.size(), kLongestText);
  return {*shape};
}

bool CReminderStoreSqlite::Accept(std::size_t, const CarvedRecord& record) const {
  const sqlite::Value* title = CarvedValue(record.values, columns_.title);
  if (title == nullptr || title->kind != sqlite::ValueKind::kText || title->bytes.empty()) return false;
  return !layout_->shared || CarvedInteger(record.values, columns_.entity) == entity_;
}

void CReminderStoreSqlite::OnRecord(std::size_t, const CarvedRecord& record) {
  RecoveredReminder item;
  std::string identity;
  item.rowid = record.rowid;
  if (const auto* v = CarvedValue(record.values, columns_.title)) item.title = Text(*v);
  if (const auto* v = CarvedValue(record.values, columns_.notes); v && v->kind == sqlite::ValueKind::kText) {
    item.notes = Text(*v);
  }
  if (const auto* v = CarvedValue(record.values, columns_.identity); v && v->kind == sqlite::ValueKind::kText) {
    identity = Text(*v);
  }
  item.start = CarvedNumber(record.values, columns_.start);
  item.due = CarvedNumber(record.values, columns_.due);
  item.completion = CarvedNumber(record.values, columns_.completion);
  item.list = CarvedInteger(record.values, columns_.list);
  item.priority = Narrow(CarvedInteger(record.values, columns_.priority));
  item.completed = CarvedInteger(record.values, columns_.completed).value_or(0) != 0 || item.completion.has_value();
  found_.emplace_back(std::move(item), std::move(identity));
}

}  // namespace sieve
