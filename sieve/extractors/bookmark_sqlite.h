// Deleted Safari bookmarks, carved from the free space of Bookmarks.db.
#pragma once

#include <string>
#include <vector>

#include "sieve/sqlite/sqlite_delete.h"

namespace sieve {

struct RecoveredBookmark {
  std::string title;
  std::string url;
};

class CBookmarkSqlite : public CSqliteDelete {
 public:
  // Fills Bookmarks(): deleted bookmarks with an address, never a row that is still live.
  int scan() override;
  const std::vector<RecoveredBookmark>& Bookmarks() const { return bookmarks_; }

 protected:
  std::vector<RecordShape> Shapes() const override;
  ShapeTable TableOf(std::size_t shapeIndex) const override;
  bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const override;
  void OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin) override;

 private:
  int title_ = -1;
  int url_ = -1;
  int uuid_ = -1;
  std::vector<RecoveredBookmark> bookmarks_;
};

}  // namespace sieve
