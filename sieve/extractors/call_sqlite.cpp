#include "sieve/extractors/call_sqlite.h"

#include <cmath>
#include <optional>

#include "sieve/reader/text.h"
#include "sieve/sqlite/carve_toolkit.h"

namespace sieve {
namespace {

using namespace sqlite;

constexpr char kOldTable[] = "call";
constexpr char kStoreTable[] = "ZCALLRECORD";

// Plausible call dates: 1990 to 2100 counted from 1970, or -11 to +99 years from 2001.
constexpr double kEarliestUnix = 631152000.0;
constexpr double kLatestUnix = 4102444800.0;
constexpr double kEarliestMac = -347155200.0;
constexpr double kLatestMac = 3124224000.0;
// No call lasts longer than a few days; a larger value is some other row's bytes.
constexpr double kLongestCall = 7.0 * 86400.0;
constexpr std::uint32_t kLongestAddress = 320;
constexpr std::uint32_t kLongestName = 4096;

bool HasValue(const std::vector<Value>& values, int column) {
  const Value* value = ValueAt(values, column);
  return value != nullptr && value->kind != ValueKind::kNull;
}

}  // namespace

CallLayout CCallSqlite::Layout() const {
  if (TableRootPage(kStoreTable) != 0) return CallLayout::CallRecordStore;
  if (TableRootPage(kOldTable) != 0) return CallLayout::CallHistoryDb;
  return CallLayout::Unknown;
}

const char* CCallSqlite::TableName() const {
  return Layout() == CallLayout::CallRecordStore ? kStoreTable : kOldTable;
}

CCallSqlite::Columns CCallSqlite::FindColumns() const {
  const bool store = Layout() == CallLayout::CallRecordStore;
  const auto columns = TableColumns(TableName());
  const auto at = [&](const char* name) { return StoredColumnIndex(columns, name); };
  Columns found;
  found.address = at(store ? "ZADDRESS" : "address");
  found.date = at(store ? "ZDATE" : "date");
  found.duration = at(store ? "ZDURATION" : "duration");
  found.flags = at(store ? "ZORIGINATED" : "flags");
  if (store) found.name = at("ZNAME");
  found.answered = at(store ? "ZANSWERED" : "answered");
  return found;
}

int CCallSqlite::scan() {
  calls_.clear();
  layout_ = Searchable() ? Layout() : CallLayout::Unknown;
  if (layout_ != CallLayout::Unknown) columns_ = FindColumns();
  return CSqliteDelete::scan();
}

std::vector<RecordShape> CCallSqlite::Shapes() const {
  if (layout_ == CallLayout::Unknown) return {};
  const Columns c = columns_;
  if (c.address < 0 || c.date < 0 || c.duration < 0 || c.flags < 0) return {};
  std::optional<RecordShape> shape = ShapeForTable(TableName());
  if (!shape) return {};
  // A call always has its date, length and direction; a withheld number has no address.
  NarrowColumn(*shape, c.address, kNull | kText | kBlob, kLongestAddress);
  NarrowColumn(*shape, c.date, kInteger | kReal);
  NarrowColumn(*shape, c.duration, kInteger | kReal);
  NarrowColumn(*shape, c.flags, kInteger);
  NarrowColumn(*shape, c.name, kNull | kText, kLongestName);
  NarrowColumn(*shape, c.answered, kNull | kInteger);
  return {*shape};
}

// A live call's old copy (left behind when the row was rewritten) is not a deleted call.
CSqliteDelete::ShapeTable CCallSqlite::TableOf(std::size_t) const { return {TableName(), {}}; }

bool CCallSqlite::Accept(std::size_t, const CarvedRecord& record) const {
  const Columns& c = columns_;
  const auto& v = record.values;
  if (!HasValue(v, c.date) || !HasValue(v, c.duration) || !HasValue(v, c.flags)) return false;
  const double date = NumberAt(v, c.date).value_or(0.0);
  const bool store = layout_ == CallLayout::CallRecordStore;
  if (store ? (date < kEarliestMac || date > kLatestMac) : (date < kEarliestUnix || date > kLatestUnix)) {
    return false;
  }
  if (std::fabs(NumberAt(v, c.duration).value_or(0.0)) > kLongestCall) return false;
  const std::int64_t flags = v[static_cast<std::size_t>(c.flags)].integer;
  if (store ? (flags != 0 && flags != 1) : (flags < 0 || flags > 0x7fffffff)) return false;
  if (HasValue(v, c.address) && !IsValidUtf8(v[static_cast<std::size_t>(c.address)].bytes)) return false;
  return true;
}

void CCallSqlite::OnRecord(std::size_t, const CarvedRecord& record, const RecordOrigin&) {
  const Columns& c = columns_;
  const auto& v = record.values;
  RecoveredCall call;
  call.address = TextAt(v, c.address);
  call.date = NumberAt(v, c.date).value_or(0.0);
  call.duration = NumberAt(v, c.duration).value_or(0.0);
  call.flags = v[static_cast<std::size_t>(c.flags)].integer;
  call.name = TextAt(v, c.name);
  if (HasValue(v, c.answered)) call.answered = v[static_cast<std::size_t>(c.answered)].integer != 0 ? 1 : 0;
  call.rowid = record.rowid;
  calls_.push_back(std::move(call));
}

}  // namespace sieve
