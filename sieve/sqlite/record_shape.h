// What a carving search looks for (a table's column kinds) and what it finds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sieve/sqlite/free_space.h"
#include "sieve/sqlite/record_decoder.h"

namespace sieve::sqlite {

// Bit set of the value kinds a column may hold.
enum ColumnKind : std::uint8_t {
  kNull = 1,
  kInteger = 2,
  kReal = 4,
  kText = 8,
  kBlob = 16,
  kAny = 31
};

std::uint8_t KindBit(ValueKind kind);

struct RecordShape {
  std::vector<std::uint8_t> columns;  // allowed kinds per column, in table column order
  int rowidAliasColumn = -1;          // INTEGER PRIMARY KEY column: always stored as NULL
  // Longest text or blob accepted per column (0 or a missing entry: no limit but the region).
  std::vector<std::uint32_t> maxBytes;
  // Rows written before ALTER TABLE ADD COLUMN have fewer columns; 0 means all are required.
  std::size_t minColumns = 0;
  // Texts of UTF-8 files with a NUL byte are refused unless this is set.
  bool allowNulInText = false;
  // WITHOUT ROWID tables keep their rows in index b-tree cells: payload length, then the
  // record, no rowid; their local payload limit is the index one.
  bool indexCell = false;
  // Serial types a first column may have had when a freeblock header overwrote it, for
  // columns whose values have few possible lengths (sqlite_master's type). Empty: only
  // fixed-size kinds are assumed, and the lost value is reported as Null.
  std::vector<std::uint64_t> firstColumnTypes;
};

// Records whose values are all NULL (the rowid alias aside) are never reported: they carry
// nothing and mostly are zeroed bytes.
struct CarvedRecord {
  std::uint32_t page = 0;
  std::size_t fileOffset = 0;  // where the cell began (for a damaged cell: where its remains begin)
  std::size_t length = 0;      // bytes of the cell found in the region
  RegionKind region = RegionKind::kUnallocated;
  std::int64_t rowid = -1;     // -1 when the cell prefix was overwritten
  // One per shape column; Null where lost or missing. The rowid alias column carries the
  // rowid when it is known. Text and blob bytes point into the loaded file.
  std::vector<Value> values;
  int lostLeadingColumns = 0;  // leading serial types that were overwritten and had to be assumed
  bool damaged = false;        // read as a cell whose first bytes a freeblock header overwrote
  std::uint16_t reading = 0;   // for a damaged cell: which of its readings won, to make it again alone
  // The payload continued on overflow pages; values are cut at the end of the part kept on the
  // page (texts and blobs shortened, numbers past it Null), each marked truncated.
  bool truncated = false;
  // Where the values stand, so a truncated record can be completed from its overflow pages:
  // the serial types read (assumed ones included), the file offset of the first value, the
  // bytes of values kept on the page (the first overflow page number follows them) and the
  // bytes of all values.
  std::vector<std::uint64_t> serialTypes;
  std::size_t bodyOffset = 0;
  std::size_t localBodyBytes = 0;
  std::uint64_t bodySize = 0;
  // How the reading was bounded, so that it can be made again the same way: where a freed
  // cell of a merged block was read to end (0: only its block and region bounded it), and
  // where a later cell cut its tail (0: not cut).
  std::size_t boundEnd = 0;
  std::size_t cutAt = 0;
};

}  // namespace sieve::sqlite
