// Deleted calls carved out of the free space of "call_history.db" (table call) or of the
// Core Data store "CallHistory.storedata" (table ZCALLRECORD). The record shape follows the
// file's own column list, so every system version's layout is recognised.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sieve/sqlite/sqlite_delete.h"

namespace sieve {

struct RecoveredCall {
  std::string address;
  double date = 0;      // as stored: seconds since 1970 (call) or since 2001 (ZCALLRECORD)
  double duration = 0;  // seconds
  std::int64_t flags = 0;  // flags (call) or ZORIGINATED (ZCALLRECORD)
  std::string name;     // ZNAME; always empty for the older database
  std::int32_t answered = -1;  // answered or ZANSWERED: 1, 0, or -1 when the layout or row has none
  std::int64_t rowid = -1;
};

enum class CallLayout { Unknown, CallHistoryDb, CallRecordStore };

class CCallSqlite : public CSqliteDelete {
 public:
  // Which of the two tables the loaded file holds (decided from its schema).
  CallLayout Layout() const;
  int scan() override;

  const std::vector<RecoveredCall>& Calls() const { return calls_; }

 protected:
  std::vector<RecordShape> Shapes() const override;
  ShapeTable TableOf(std::size_t shapeIndex) const override;
  bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const override;
  void OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin) override;

 private:
  // Positions of the wanted columns in the stored record; -1 when the table lacks one.
  struct Columns {
    int address = -1;
    int date = -1;
    int duration = -1;
    int flags = -1;
    int name = -1;
    int answered = -1;
  };
  Columns FindColumns() const;
  const char* TableName() const;

  CallLayout layout_ = CallLayout::Unknown;  // of the file being scanned
  Columns columns_;
  std::vector<RecoveredCall> calls_;
};

}  // namespace sieve
