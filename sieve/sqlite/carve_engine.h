// Deleted records of any table of any SQLite file, from every place their bytes survive:
// freelist pages, freeblocks, the unallocated gap of b-tree pages, freed overflow chains, and
// every older version of a page the file's history holds (a page a WAL frame or journal
// entry superseded is decoded whole: its live cells then are candidates too). Each record is
// matched to the table whose shape it fits best; one identical to a live row is a stale
// copy, not a deleted row, and is left out; one found in several places is reported once.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/sqlite/carve_source.h"
#include "sieve/sqlite/main_file_history.h"
#include "sieve/sqlite/page_history.h"
#include "sieve/sqlite/record_decoder.h"
#include "sieve/sqlite/scan_control.h"

namespace sieve::sqlite {

// A value owned by the row: text converted to UTF-8, blob bytes as stored.
struct CarvedValue {
  ValueKind kind = ValueKind::kNull;
  std::int64_t integer = 0;
  double real = 0.0;
  std::string bytes;       // text (UTF-8) or blob
  bool truncated = false;  // the rest of the value was on overflow pages since reused

  bool operator==(const CarvedValue&) const = default;
};

struct CarvedRow {
  std::string table;  // empty when no table's shape claims it
  CarveSource source = CarveSource::Freelist;
  std::uint32_t page = 0;
  // File offset of the cell in the main file; for a WAL or journal version, its offset
  // within that page version (frame tells which one).
  std::uint64_t offset = 0;
  std::uint32_t frame = 0;
  std::optional<std::int64_t> rowid;
  std::vector<CarvedValue> values;  // in the table's record order
  bool partial = false;             // some values were cut: their overflow pages were reused
  bool firstLost = false;           // the first column's serial type was overwritten: its value is unknown
  std::vector<CarveSource> alsoIn;  // the same record found elsewhere too
};

struct CarveOptions {
  std::string table;  // only this table (ASCII case ignored); empty for all
  bool includeLive = false;
  // A private folder (mode 0700) for the temporary file of a large carve: a file and history
  // of more than `inMemoryBytes` have their records and the live rows' keys set aside there,
  // in partitions, so that memory stays flat. Empty: everything is held in memory.
  std::string spillFolder;
  std::uint64_t inMemoryBytes = 64 << 20;
};

// kSpillFailed: the temporary file could not be created, written or read (a full disk); no
// result is complete then.
enum class CarveStatus { kOk, kNotSqlite, kTruncated, kStopped, kSpillFailed };

struct CarveResult {
  CarveStatus status = CarveStatus::kOk;
  std::string error;  // for the failures, a sentence
  std::uint64_t pagesRead = 0;
  std::uint64_t rowsReported = 0;
  std::uint64_t liveCopiesSkipped = 0;
  std::vector<std::string> droppedTables;  // shapes learnt from schema records in free space
  // Each table's stored column names in record order (the order of CarvedRow::values).
  std::map<std::string, std::vector<std::string>> columns;
};

// Rows reach `emit` once the whole history has been read (duplicates must be merged first).
CarveResult Carve(const FileHistory& history, const CarveOptions& options,
                  const std::function<void(const CarvedRow&)>& emit, const ScanControl* control = nullptr);

}  // namespace sieve::sqlite
