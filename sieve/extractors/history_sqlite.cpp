#include "sieve/extractors/history_sqlite.h"

#include "sieve/sqlite/carve_toolkit.h"

namespace sieve {
namespace {

using namespace sqlite;

constexpr char kVisits[] = "history_visits";
constexpr char kPages[] = "history_items";
constexpr std::size_t kVisitShape = 0;
constexpr std::size_t kPageShape = 1;
constexpr std::uint32_t kLongestText = 655350;

}  // namespace

int CHistorySqlite::scan() {
  visits_.clear();
  pages_.clear();
  columns_ = Columns{};
  const auto visits = TableColumns(kVisits);
  columns_.item = StoredColumnIndex(visits, "history_item");
  columns_.time = StoredColumnIndex(visits, "visit_time");
  columns_.title = StoredColumnIndex(visits, "title");
  columns_.url = StoredColumnIndex(TableColumns(kPages), "url");
  const int result = CSqliteDelete::scan();
  return result < 0 ? result : static_cast<int>(visits_.size());
}

std::vector<RecordShape> CHistorySqlite::Shapes() const {
  std::optional<RecordShape> visits = ShapeForTable(kVisits);
  std::optional<RecordShape> pages = ShapeForTable(kPages);
  if (!visits || !pages || columns_.item < 0 || columns_.time < 0 || columns_.url < 0) return {};
  // Both columns are NOT NULL: a visit names its page and its time.
  NarrowColumn(*visits, columns_.item, kInteger);
  NarrowColumn(*visits, columns_.time, kReal | kInteger);
  NarrowColumn(*visits, columns_.title, kText | kNull, kLongestText);
  LimitValueBytes(*pages, kLongestText);
  NarrowColumn(*pages, columns_.url, kText);
  return {*visits, *pages};
}

// A visit is known by its page and time; a page by its address, which is UNIQUE.
CSqliteDelete::ShapeTable CHistorySqlite::TableOf(std::size_t shapeIndex) const {
  if (shapeIndex == kVisitShape) return {kVisits, {{columns_.item, columns_.time}}};
  return {kPages, {{columns_.url}}};
}

bool CHistorySqlite::Accept(std::size_t shapeIndex, const CarvedRecord& record) const {
  if (shapeIndex == kPageShape) return HasText(record.values, columns_.url);
  const std::optional<std::int64_t> item = IntegerAt(record.values, columns_.item);
  const std::optional<double> time = NumberAt(record.values, columns_.time);
  // Page ids count up from 1; a time before 2001 is not one Safari writes.
  return item && *item > 0 && time && *time > 0;
}

void CHistorySqlite::OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin&) {
  if (shapeIndex == kVisitShape) {
    visits_.push_back({IntegerAt(record.values, columns_.item).value_or(-1),
                       NumberAt(record.values, columns_.time).value_or(0), TextAt(record.values, columns_.title)});
    return;
  }
  if (shapeIndex == kPageShape) pages_.push_back({record.rowid, TextAt(record.values, columns_.url)});
}

}  // namespace sieve
