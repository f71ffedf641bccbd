#include "sieve/extractors/bookmark_sqlite.h"

#include "sieve/sqlite/carve_toolkit.h"

namespace sieve {
namespace {

using namespace sqlite;

constexpr char kTable[] = "bookmarks";
constexpr std::uint32_t kLongestText = 655350;
constexpr std::size_t kUuidLength = 36;

}  // namespace

int CBookmarkSqlite::scan() {
  bookmarks_.clear();
  const auto columns = TableColumns(kTable);
  title_ = StoredColumnIndex(columns, "title");
  url_ = StoredColumnIndex(columns, "url");
  uuid_ = StoredColumnIndex(columns, "external_uuid");
  const int result = CSqliteDelete::scan();
  return result < 0 ? result : static_cast<int>(bookmarks_.size());
}

std::vector<RecordShape> CBookmarkSqlite::Shapes() const {
  if (title_ < 0 || url_ < 0) return {};
  std::optional<RecordShape> shape = ShapeForTable(kTable);
  if (!shape) return {};
  // Folders have no address and are never listed, so only rows with one are looked for.
  NarrowColumn(*shape, url_, kText, kLongestText);
  NarrowColumn(*shape, title_, kText | kNull, kLongestText);
  NarrowColumn(*shape, uuid_, kText | kNull);
  return {*shape};
}

// An edited bookmark leaves its old cell behind; it is known by its UUID, or by the same
// title and address.
CSqliteDelete::ShapeTable CBookmarkSqlite::TableOf(std::size_t) const { return {kTable, {{uuid_}, {title_, url_}}}; }

bool CBookmarkSqlite::Accept(std::size_t, const CarvedRecord& record) const {
  if (!HasText(record.values, url_)) return false;
  // Bookmarks carry a UUID of fixed length; a row whose UUID survived must have that length.
  const Value* uuid = ValueAt(record.values, uuid_);
  return uuid == nullptr || uuid->kind != ValueKind::kText || uuid->truncated || uuid->bytes.size() == kUuidLength;
}

void CBookmarkSqlite::OnRecord(std::size_t, const CarvedRecord& record, const RecordOrigin&) {
  bookmarks_.push_back({TextAt(record.values, title_), TextAt(record.values, url_)});
}

}  // namespace sieve
