// Safari bookmarks (Library/Safari/Bookmarks.db), history visits (Library/Safari/History.db)
// and bookmarks carved from the free space of the bookmarks file, as one list.
#pragma once

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

  std::vector<BookmarkRecord> records_;
};

}  // namespace sieve
