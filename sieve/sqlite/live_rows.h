// Fingerprints of the live rows of every table, so that a carved record that is only a stale
// copy of a live row (left behind when SQLite moved or rewrote a page) is not taken for a
// deleted one. A record matches when all its values equal a live row's: with the rowid when
// the carved cell kept it, without it when it was overwritten, without the first column too
// when that serial type was lost, and over the part kept on the page when the rest of the
// payload could not be read.
#pragma once

#include <cstdint>
#include <vector>

#include "sieve/sqlite/fingerprint_set.h"
#include "sieve/sqlite/paged_file.h"
#include "sieve/sqlite/record_shape.h"
#include "sieve/sqlite/table_shapes.h"

namespace sieve::sqlite {

class LiveRows {
 public:
  // Walks the b-tree of every table of `tables` with a root page (index i of the result
  // belongs to tables[i]).
  static LiveRows Build(const PagedFile& file, const std::vector<TableShape>& tables);

  bool IsLive(std::size_t table, const CarvedRecord& record, int rowidAliasColumn) const;
  std::size_t RowCount() const { return rows_; }
  // Memory per live row at most: three fingerprints (five for rows with overflow pages are
  // rare), in sets at most half full that double as they grow.
  static constexpr std::size_t kBytesPerRow = 3 * sizeof(std::uint64_t) * 4;

 private:
  struct Table {
    FingerprintSet withRowid, withoutRowid, withoutFirst, cut, cutWithoutFirst;
  };
  std::vector<Table> tables_;
  std::size_t rows_ = 0;
};

// One number for a row's values. `skipColumn` (the rowid alias) and, with skipFirst, column
// 0 take no part; `rowid` takes part when given. Missing trailing columns count as NULL.
std::uint64_t RowFingerprint(const std::vector<Value>& values, std::size_t columns, int skipColumn,
                             bool skipFirst, const std::int64_t* rowid);

}  // namespace sieve::sqlite
