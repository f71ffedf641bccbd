// Safari bookmarks (Library/Safari/Bookmarks.db) with their folders, history visits
// (Library/Safari/History.db) with their times, and bookmarks and visits carved from the free
// space and logs of both files, as one list whose records say which kind they are.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sieve/extractors/database_info.h"
#include "sieve/records.h"

namespace sieve {

class CBookmarkInfo : public CDatabaseInfo {
 public:
  // MainDatabase is Bookmarks.db, SecondDatabase History.db.
  int read(std::string backupFolder) override;
  std::size_t RecordCount(_InfoType type) const override;
  void* RecordAt(_InfoType type, std::size_t index) override;

  const std::vector<BookmarkRecord>& Records() const { return records_; }

 private:
  void ReadHistory();
  void AddRecovered(const std::string& bookmarksPath);
  // pages: id -> address of the live page rows.
  void AddRecoveredVisits(const std::string& historyPath, std::map<std::int64_t, std::string> pages);
  std::string FolderTitle(std::int64_t id) const;

  std::map<std::int64_t, std::string> folders_;  // folder id -> title; the root has none

  std::vector<BookmarkRecord> records_;
};

}  // namespace sieve
