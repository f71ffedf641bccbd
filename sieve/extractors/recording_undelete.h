// Deleted voice memos carved out of Recordings.db or CloudRecordings.db: the free space of
// the file and the older page versions its write-ahead log keeps.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sieve/sqlite/sqlite_delete.h"

namespace sieve {

// What a deleted memo's cell tells; the date is seconds since 2001 as stored.
struct RecoveredMemo {
  double date = 0.0;
  double duration = 0.0;
  std::string label;  // the title the app showed, else the older custom label
  std::string path;   // ZPATH: a device path, or a name relative to the store's folder
};

class CRecordingUndelete : public CSqliteDelete {
 public:
  // Fills Memos() with memos that are not live; returns their number or the base's codes.
  int scan() override;
  const std::vector<RecoveredMemo>& Memos() const { return memos_; }

 protected:
  std::vector<RecordShape> Shapes() const override;
  ShapeTable TableOf(std::size_t shapeIndex) const override;
  bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const override;
  void OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin) override;

 private:
  struct Columns {
    int date = -1, duration = -1, label = -1, title = -1, path = -1;
  };
  std::optional<RecoveredMemo> Decode(const std::vector<sqlite::Value>& values) const;

  std::string table_;
  Columns columns_;
  std::vector<RecoveredMemo> memos_;
};

}  // namespace sieve
