#include "sieve/extractors/bookmark_info.h"

#include <set>
#include <tuple>
#include <utility>

#include <sqlite3.h>

#include "sieve/extractors/bookmark_sqlite.h"
#include "sieve/extractors/history_sqlite.h"
#include "sieve/reader/time_text.h"
#include "sieve/sqlite/database.h"

namespace sieve {

std::string CBookmarkInfo::FolderTitle(std::int64_t id) const {
  const auto found = folders_.find(id);
  return found == folders_.end() ? std::string() : found->second;
}

int CBookmarkInfo::read(std::string /*backupFolder*/) {
  records_.clear();
  folders_.clear();
  const OpenableDatabase file = PrepareDatabase(MainDatabase, "Bookmarks.db");
  if (!file.ok) return SQLITE_CANTOPEN;
  {
    sqlite::Database db;
    const int opened = db.Open(file.path, file.immutable);
    if (opened != SQLITE_OK) return opened;
    sqlite::Statement query = db.Prepare("SELECT id, title, url, parent FROM bookmarks ORDER BY id");
    if (!query.Ok()) return query.Result();
    std::vector<std::pair<BookmarkRecord, std::int64_t>> rows;
    while (query.Step()) {
      BookmarkRecord record;
      record.Title = query.Text(1);
      record.Url = query.Text(2);
      // Folders (no address) are not listed but name their bookmarks' place; the root,
      // which has no parent, is no place worth naming.
      if (record.Url.empty()) {
        if (!query.IsNull(3)) folders_[query.Int64(0)] = record.Title;
        continue;
      }
      rows.emplace_back(std::move(record), query.IsNull(3) ? -1 : query.Int64(3));
    }
    for (auto& [record, parent] : rows) {
      record.Folder = FolderTitle(parent);
      records_.push_back(std::move(record));
    }
  }
  ReadHistory();
  AddRecovered(file.path);
  return 0;
}

void CBookmarkInfo::ReadHistory() {
  const OpenableDatabase file = PrepareDatabase(SecondDatabase, "history.db");
  if (!file.ok) return;
  std::map<std::int64_t, std::string> pages;
  {
    sqlite::Database db;
    if (db.Open(file.path, file.immutable) != SQLITE_OK) return;
    sqlite::Statement items = db.Prepare("SELECT id, url FROM history_items");
    while (items.Ok() && items.Step()) pages[items.Int64(0)] = items.Text(1);
    // Every visit is its own record, so a page seen twice is listed twice.
    sqlite::Statement visits = db.Prepare("SELECT history_item, title, visit_time FROM history_visits ORDER BY id");
    while (items.Ok() && visits.Ok() && visits.Step()) {
      const auto page = pages.find(visits.Int64(0));
      if (page == pages.end() || page->second.empty()) continue;
      BookmarkRecord record;
      record.Kind = kHistoryVisit;
      record.Title = visits.Text(1);
      record.Url = page->second;
      record.VisitDate = MacTimeTextFromDouble(visits.IsNull(2) ? 0.0 : visits.Double(2));
      records_.push_back(std::move(record));
    }
  }
  AddRecoveredVisits(file.path, pages);
}

void CBookmarkInfo::AddRecoveredVisits(const std::string& historyPath, std::map<std::int64_t, std::string> pages) {
  CHistorySqlite engine;
  if (engine.Load(historyPath) != 0 || engine.scan() <= 0) return;
  // A cleared page's row went with its visits: its address comes from its carved row, where
  // that kept its id.
  for (const RecoveredPage& page : engine.Pages()) {
    if (page.id >= 0 && !page.url.empty()) pages.emplace(page.id, page.url);
  }
  std::set<std::tuple<std::string, std::string, std::string>> listed;
  for (const BookmarkRecord& record : records_) {
    if (record.Kind == kHistoryVisit) listed.emplace(record.Title, record.Url, record.VisitDate);
  }
  for (const RecoveredVisit& visit : engine.Visits()) {
    const auto page = pages.find(visit.item);
    // A visit whose address is lost says nothing worth listing.
    if (page == pages.end()) continue;
    BookmarkRecord record;
    record.Kind = kHistoryVisit;
    record.Deleted = 1;
    record.Title = visit.title;
    record.Url = page->second;
    record.VisitDate = MacTimeTextFromDouble(visit.time);
    if (!listed.emplace(record.Title, record.Url, record.VisitDate).second) continue;
    records_.push_back(std::move(record));
  }
}

void CBookmarkInfo::AddRecovered(const std::string& bookmarksPath) {
  CBookmarkSqlite engine;
  if (engine.Load(bookmarksPath) != 0 || engine.scan() <= 0) return;
  // A bookmark identical to one already listed (live, a visit, or found twice) adds nothing.
  std::set<std::pair<std::string, std::string>> listed;
  for (const BookmarkRecord& record : records_) listed.emplace(record.Title, record.Url);
  for (const RecoveredBookmark& found : engine.Bookmarks()) {
    if (!listed.emplace(found.title, found.url).second) continue;
    BookmarkRecord record;
    record.Title = found.title;
    record.Url = found.url;
    record.Deleted = 1;
    record.Folder = FolderTitle(found.parent.value_or(-1));
    records_.push_back(std::move(record));
  }
}

std::size_t CBookmarkInfo::RecordCount(_InfoType type) const { return type == INFO_BOOKMARK ? records_.size() : 0; }

void* CBookmarkInfo::RecordAt(_InfoType type, std::size_t index) {
  return type == INFO_BOOKMARK && index < records_.size() ? &records_[index] : nullptr;
}

}  // namespace sieve
