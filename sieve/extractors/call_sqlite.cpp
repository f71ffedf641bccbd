#include "sieve/extractors/call_sqlite.h"

#include <cmath>
#include <optional>

#include "sieve/reader/text.h"

namespace sieve {
namespace {

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
constexpr std::uint32_t kLongestService = 255;  // a bundle id

double Number(const sqlite::Value& value) {
  if (value.kind == sqlite::ValueKind::kInteger) return static_cast<double>(value.integer);
  if (value.kind == sqlite::ValueKind::kReal) return value.real;
  return 0.0;
}

bool HasValue(const std::vector<sqlite::Value>& values, int column) {
  return column >= 0 && static_cast<std::size_t>(column) < values.size() &&
         values[static_cast<std::size_t>(column)].kind != sqlite::ValueKind::kNull;
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
  Columns found;
  int stored = 0;
  for (const sqlite::TableColumn& column : TableColumns(TableName())) {
    if (!column.stored) continue;
    const std::string name = ToLowerAscii(column.name);
    if (name == (store ? "zaddress" : "address")) found.address = stored;
    if (name == (store ? "zdate" : "date")) found.date = stored;
    if (name == (store ? "zduration" : "duration")) found.duration = stored;
    if (name == (store ? "zoriginated" : "flags")) found.flags = stored;
    if (store && name == "zname") found.name = stored;
    if (name == (store ? "zanswered" : "answered")) found.answered = stored;
    if (store && name == "zservice_provider") found.service = stored;
    if (store && name == "zcalltype") found.callType = stored;
    ++stored;
  }
  return found;
}

int CCallSqlite::scan() {
  calls_.clear();
  layout_ = Searchable() ? Layout() : CallLayout::Unknown;
  if (layout_ != CallLayout::Unknown) {
    columns_ = FindColumns();
    liveRowids_ = LiveRowids(TableName());
  }
  return CSqliteDelete::scan();
}

std::vector<RecordShape> CCallSqlite::Shapes() const {
  if (layout_ == CallLayout::Unknown) return {};
  const Columns c = columns_;
  if (c.address < 0 || c.date < 0 || c.duration < 0 || c.flags < 0) return {};
  std::optional<RecordShape> shape = ShapeForTable(TableName());
  if (!shape) return {};
  const auto narrow = [&](int column, std::uint8_t kinds, std::uint32_t maxBytes) {
    const auto at = static_cast<std::size_t>(column);
    shape->columns[at] &= kinds;
    if (shape->maxBytes.size() < shape->columns.size()) shape->maxBytes.resize(shape->columns.size(), 0);
    if (maxBytes > 0) shape->maxBytes[at] = maxBytes;
  };
  // A call always has its date, length and direction; a withheld number has no address.
  narrow(c.address, sqlite::kNull | sqlite::kText | sqlite::kBlob, kLongestAddress);
  narrow(c.date, sqlite::kInteger | sqlite::kReal, 0);
  narrow(c.duration, sqlite::kInteger | sqlite::kReal, 0);
  narrow(c.flags, sqlite::kInteger, 0);
  if (c.name >= 0) narrow(c.name, sqlite::kNull | sqlite::kText, kLongestName);
  if (c.answered >= 0) narrow(c.answered, sqlite::kNull | sqlite::kInteger, 0);
  if (c.service >= 0) narrow(c.service, sqlite::kNull | sqlite::kText, kLongestService);
  if (c.callType >= 0) narrow(c.callType, sqlite::kNull | sqlite::kInteger, 0);
  return {*shape};
}

bool CCallSqlite::Accept(std::size_t, const CarvedRecord& record) const {
  const Columns& c = columns_;
  const auto& v = record.values;
  if (!HasValue(v, c.date) || !HasValue(v, c.duration) || !HasValue(v, c.flags)) return false;
  const double date = Number(v[static_cast<std::size_t>(c.date)]);
  const bool store = layout_ == CallLayout::CallRecordStore;
  if (store ? (date < kEarliestMac || date > kLatestMac) : (date < kEarliestUnix || date > kLatestUnix)) {
    return false;
  }
  if (std::fabs(Number(v[static_cast<std::size_t>(c.duration)])) > kLongestCall) return false;
  const std::int64_t flags = v[static_cast<std::size_t>(c.flags)].integer;
  if (store ? (flags != 0 && flags != 1) : (flags < 0 || flags > 0x7fffffff)) return false;
  if (HasValue(v, c.address) && !IsValidUtf8(v[static_cast<std::size_t>(c.address)].bytes)) return false;
  return true;
}

void CCallSqlite::OnRecord(std::size_t, const CarvedRecord& record) {
  // A live row's old copy (left behind when the row was rewritten) is not a deleted call.
  if (record.rowid >= 0 && liveRowids_.count(record.rowid) > 0) return;
  const Columns& c = columns_;
  const auto& v = record.values;
  RecoveredCall call;
  if (HasValue(v, c.address)) call.address = Text(v[static_cast<std::size_t>(c.address)]);
  call.date = Number(v[static_cast<std::size_t>(c.date)]);
  call.duration = Number(v[static_cast<std::size_t>(c.duration)]);
  call.flags = v[static_cast<std::size_t>(c.flags)].integer;
  if (HasValue(v, c.name)) call.name = Text(v[static_cast<std::size_t>(c.name)]);
  if (HasValue(v, c.answered)) call.answered = v[static_cast<std::size_t>(c.answered)].integer != 0 ? 1 : 0;
  if (HasValue(v, c.service)) call.service = Text(v[static_cast<std::size_t>(c.service)]);
  if (HasValue(v, c.callType)) call.callType = v[static_cast<std::size_t>(c.callType)].integer;
  call.rowid = record.rowid;
  calls_.push_back(std::move(call));
}

}  // namespace sieve
