// Deleted Safari history (Library/Safari/History.db): visits (page, time, title) and the page
// rows (address) they point to, carved from free space and the log's superseded frames.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sieve/sqlite/sqlite_delete.h"

namespace sieve {

struct RecoveredVisit {
  std::int64_t item = -1;  // history_item: the id of its page row
  double time = 0;         // seconds since 2001
  std::string title;
};

struct RecoveredPage {
  std::int64_t id = -1;  // -1 when the cell's row id was overwritten
  std::string url;
};

class CHistorySqlite : public CSqliteDelete {
 public:
  // Carves both tables; copies of live rows are left out.
  int scan() override;

  const std::vector<RecoveredVisit>& Visits() const { return visits_; }
  const std::vector<RecoveredPage>& Pages() const { return pages_; }

 protected:
  std::vector<RecordShape> Shapes() const override;
  ShapeTable TableOf(std::size_t shapeIndex) const override;
  bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const override;
  void OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin) override;

 private:
  struct Columns {
    int item = -1, time = -1, title = -1, url = -1;
  };
  Columns columns_;
  std::vector<RecoveredVisit> visits_;
  std::vector<RecoveredPage> pages_;
};

}  // namespace sieve
