#include "sieve/extractors/reminder_store_sqlite.h"


#include "sieve/sqlite/carve_toolkit.h"

namespace sieve {
namespace {

using namespace sqlite;

constexpr std::uint32_t kLongestText = 655350;

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
  ForEachLiveRow("Z_PRIMARYKEY", [&](std::int64_t rowid, const std::vector<Value>& values) {
    if (HasText(values, name) && TextAt(values, name) == kReminderEntityName) entity_ = rowid;
  });
}

int CReminderStoreSqlite::scan() {
  items_.clear();
  FindLayout();
  // Without its entity number a shared table's rows cannot be told apart.
  if (!layout_ || columns_.title < 0 || (layout_->shared && !entity_)) return 0;
  const int result = CSqliteDelete::scan();
  return result < 0 ? result : static_cast<int>(items_.size());
}

std::vector<RecordShape> CReminderStoreSqlite::Shapes() const {
  if (!layout_) return {};
  std::optional<RecordShape> shape = ShapeForTable(layout_->table);
  if (!shape) return {};
  // A reminder without a title shows nothing; asking for text also rules out most noise.
  LimitValueBytes(*shape, kLongestText);
  NarrowColumn(*shape, columns_.title, kText);
  if (layout_->shared) NarrowColumn(*shape, columns_.entity, kInteger);
  return {*shape};
}

// Edits and page moves leave copies of live rows behind, often with their Z_PK overwritten:
// they are known by the reminder's CloudKit identity, or by the same title and due date.
CSqliteDelete::ShapeTable CReminderStoreSqlite::TableOf(std::size_t) const {
  return {layout_ ? layout_->table : std::string(), {{columns_.identity}, {columns_.title, columns_.due}}};
}

bool CReminderStoreSqlite::Accept(std::size_t, const CarvedRecord& record) const {
  if (!HasText(record.values, columns_.title)) return false;
  return !layout_->shared || IntegerAt(record.values, columns_.entity) == entity_;
}

void CReminderStoreSqlite::OnRecord(std::size_t, const CarvedRecord& record, const RecordOrigin&) {
  RecoveredReminder item;
  item.rowid = record.rowid;
  item.title = TextAt(record.values, columns_.title);
  if (HasText(record.values, columns_.notes)) item.notes = TextAt(record.values, columns_.notes);
  item.start = NumberAt(record.values, columns_.start);
  item.due = NumberAt(record.values, columns_.due);
  item.completion = NumberAt(record.values, columns_.completion);
  item.list = IntegerAt(record.values, columns_.list);
  item.priority = Int32At(record.values, columns_.priority);
  item.completed = IntegerAt(record.values, columns_.completed).value_or(0) != 0 || item.completion.has_value();
  items_.push_back(std::move(item));
}

}  // namespace sieve
