#include "sieve/extractors/recording_undelete.h"

#include <cmath>
#include <set>
#include <utility>

#include "sieve/reader/text.h"
#include "sieve/reader/time_text.h"
#include "sieve/sqlite/carve_toolkit.h"

namespace sieve {
namespace {

using namespace sqlite;

// The older store names its table ZRECORDING, the newer one ZCLOUDRECORDING.
constexpr const char* kTables[] = {"ZCLOUDRECORDING", "ZRECORDING"};
constexpr std::uint32_t kLongestPath = 4096;
constexpr std::uint32_t kLongestLabel = 65536;
// Voice memos began with the iPhone 3GS in 2009; a date outside 2009..2100 is no memo's.
constexpr std::int64_t kEarliestUnixSeconds = 1230768000;
constexpr std::int64_t kLatestUnixSeconds = 4102444800;

bool IsRecordingPath(std::string_view path) {
  return !path.empty() && ToLowerAscii(std::string(path)).ends_with(".m4a");
}

}  // namespace

int CRecordingUndelete::scan() {
  memos_.clear();
  table_.clear();
  columns_ = Columns{};
  if (!Searchable()) return CSqliteDelete::scan();
  for (const char* table : kTables) {
    if (TableRootPage(table) != 0) {
      table_ = table;
      break;
    }
  }
  if (table_.empty()) return 0;
  const auto columns = TableColumns(table_);
  const auto at = [&](const char* name) { return StoredColumnIndex(columns, name); };
  columns_ = {at("ZDATE"), at("ZDURATION"), at("ZCUSTOMLABEL"), at("ZENCRYPTEDTITLE"), at("ZPATH")};
  if (columns_.path < 0 || columns_.date < 0) return 0;
  const int carved = CSqliteDelete::scan();
  if (carved < 0) return carved;
  // One memo found in several places (free space, older log frames) is one memo.
  std::set<std::pair<std::string, std::int64_t>> seen;
  std::vector<RecoveredMemo> unique;
  for (RecoveredMemo& memo : memos_) {
    if (seen.emplace(memo.path, std::llround(memo.date * 1000.0)).second) unique.push_back(std::move(memo));
  }
  memos_ = std::move(unique);
  return static_cast<int>(memos_.size());
}

std::vector<RecordShape> CRecordingUndelete::Shapes() const {
  std::optional<RecordShape> shape = ShapeForTable(table_);
  if (!shape) return {};
  LimitValueBytes(*shape, kLongestLabel);
  NarrowColumn(*shape, columns_.path, kText, kLongestPath);
  NarrowColumn(*shape, columns_.date, kInteger | kReal);
  return {*shape};
}

// A memo is named by its recording file; a retitled memo keeps it.
CSqliteDelete::ShapeTable CRecordingUndelete::TableOf(std::size_t) const { return {table_, {{columns_.path}}}; }

std::optional<RecoveredMemo> CRecordingUndelete::Decode(const std::vector<Value>& values) const {
  if (!HasText(values, columns_.path)) return std::nullopt;
  const Value* path = ValueAt(values, columns_.path);
  if (path == nullptr || path->truncated) return std::nullopt;
  RecoveredMemo memo;
  memo.path = TextAt(values, columns_.path);
  if (!IsRecordingPath(memo.path)) return std::nullopt;
  const std::optional<double> date = NumberAt(values, columns_.date);
  if (!date || !std::isfinite(*date)) return std::nullopt;
  const std::int64_t unix = UnixSecondsFromMacValue(*date);
  if (unix < kEarliestUnixSeconds || unix >= kLatestUnixSeconds) return std::nullopt;
  memo.date = *date;
  memo.duration = NumberAt(values, columns_.duration).value_or(0.0);
  for (const int column : {columns_.title, columns_.label}) {
    if (memo.label.empty() && HasText(values, column)) memo.label = TextAt(values, column);
  }
  return memo;
}

bool CRecordingUndelete::Accept(std::size_t, const CarvedRecord& record) const {
  return Decode(record.values).has_value();
}

void CRecordingUndelete::OnRecord(std::size_t, const CarvedRecord& record, const RecordOrigin&) {
  if (std::optional<RecoveredMemo> memo = Decode(record.values)) memos_.push_back(std::move(*memo));
}

}  // namespace sieve
