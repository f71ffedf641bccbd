#include "sieve/extractors/bookmark_sqlite.h"

#include <set>
#include <utility>

#include "sieve/extractors/carved_columns.h"

namespace sieve {
namespace {

constexpr char kTable[] = "bookmarks";
constexpr std::uint32_t kLongestText = 655350;
constexpr std::size_t kUuidLength = 36;

}  // namespace

int CBookmarkSqlite::scan() {
  bookmarks_.clear();
  found_.clear();
  const auto columns = TableColumns(kTable);
  title_ = StoredColumnIndex(columns, "title");
  url_ = StoredColumnIndex(columns, "url");
  uuid_ = StoredColumnIndex(columns, "external_uuid");
  parent_ = StoredColumnIndex(columns, "parent");
  const int result = CSqliteDelete::scan();
  if (result <= 0) return result;
  // An edited bookmark leaves its old cell behind, and moving cells between pages leaves copies
  // of live rows; the freeblock header often overwrites their id. Neither is a deleted one:
  // they are known by a live id, a live bookmark's UUID, or the same title and address.
  const std::set<std::int64_t> live = LiveRowids(kTable);
  std::set<std::string> liveUuids;
  std::set<std::pair<std::string, std::string>> liveBookmarks;
  ForEachLiveRow(kTable, [&](std::int64_t, const std::vector<sqlite::Value>& values) {
    const sqlite::Value* title = CarvedValue(values, title_);
    const sqlite::Value* url = CarvedValue(values, url_);
    liveBookmarks.emplace(title ? Text(*title) : std::string(), url ? Text(*url) : std::string());
    const sqlite::Value* uuid = CarvedValue(values, uuid_);
    if (uuid != nullptr && uuid->kind == sqlite::ValueKind::kText) liveUuids.insert(Text(*uuid));
  });
  for (Found& found : found_) {
    if (live.contains(found.rowid) || (!found.uuid.empty() && liveUuids.contains(found.uuid)) ||
        liveBookmarks.contains({found.bookmark.title, found.bookmark.url})) {
      continue;
    }
    bookmarks_.push_back(std::move(found.bookmark));
  }
  found_.clear();
  return static_cast<int>(bookmarks_.size());
}

std::vector<RecordShape> CBookmarkSqlite::Shapes() const {
  if (title_ < 0 || url_ < 0) return {};
  std::optional<RecordShape> shape = ShapeForTable(kTable);
  if (!shape) return {};
  // Folders have no address and are never listed, so only rows with one are looked for.
  shape->columns[static_cast<std::size_t>(url_)] = sqlite::kText;
  shape->columns[static_cast<std::size_t>(title_)] = sqlite::kText | sqlite::kNull;
  if (uuid_ >= 0) shape->columns[static_cast<std::size_t>(uuid_)] = sqlite::kText | sqlite::kNull;
  shape->maxBytes.assign(shape->columns.size(), 0);
  shape->maxBytes[static_cast<std::size_t>(url_)] = kLongestText;
  shape->maxBytes[static_cast<std::size_t>(title_)] = kLongestText;
  return {*shape};
}

bool CBookmarkSqlite::Accept(std::size_t, const CarvedRecord& record) const {
  const sqlite::Value* url = CarvedValue(record.values, url_);
  if (url == nullptr || url->kind != sqlite::ValueKind::kText || url->bytes.empty()) return false;
  // Bookmarks carry a UUID of fixed length; a row whose UUID survived must have that length.
  const sqlite::Value* uuid = CarvedValue(record.values, uuid_);
  return uuid == nullptr || uuid->kind != sqlite::ValueKind::kText || uuid->truncated ||
         uuid->bytes.size() == kUuidLength;
}

void CBookmarkSqlite::OnRecord(std::size_t, const CarvedRecord& record) {
  Found found{record.rowid, {}, {}};
  if (const auto* v = CarvedValue(record.values, uuid_); v && v->kind == sqlite::ValueKind::kText) {
    found.uuid = Text(*v);
  }
  if (const auto* v = CarvedValue(record.values, title_)) found.bookmark.title = Text(*v);
  if (const auto* v = CarvedValue(record.values, url_)) found.bookmark.url = Text(*v);
  found.bookmark.parent = CarvedInteger(record.values, parent_);
  found_.push_back(std::move(found));
}

}  // namespace sieve
