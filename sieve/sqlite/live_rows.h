// Fingerprints of the live rows of every table, so that a carved record that is only a stale
// copy of a live row (left behind when SQLite moved or rewrote a page) is not taken for a
// deleted one. A record matches when all its values equal a live row's: with the rowid when
// the carved cell kept it, without it when it was overwritten, without the first column too
// when that serial type was lost, and over the part kept on the page when the rest of the
// payload could not be read.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "sieve/sqlite/fingerprint_set.h"
#include "sieve/sqlite/paged_file.h"
#include "sieve/sqlite/record_shape.h"
#include "sieve/sqlite/table_shapes.h"

namespace sieve::sqlite {

class LiveRows {
 public:
  // Receives the fingerprints of the tables a carve of a large file sets aside on disk.
  using SetAside = std::function<void(std::uint64_t key)>;

  // Walks the b-tree of every table of `tables` with a root page (index i of the result
  // belongs to tables[i]). With `setAside`, the rows of every table but the schema go there
  // instead of into memory.
  static LiveRows Build(const PagedFile& file, const std::vector<TableShape>& tables,
                        const SetAside* setAside = nullptr);

  // The number a record is looked up by: its values' fingerprint in the form its state asks
  // for (with the rowid, without it, without the first column, over the part kept on the
  // page), joined with the form and the table; none for a table the walk did not know.
  std::optional<std::uint64_t> Key(std::size_t table, const CarvedRecord& record, int rowidAliasColumn) const;
  // Key's number for a table whose cells are index cells or not, and the record's merge
  // fingerprint (RowFingerprint without the rowid alias and the first column), each value
  // hashed once. Needs no walk: a carve's searching threads make both before the walk is done.
  struct RecordKeys {
    std::uint64_t live = 0;
    std::uint64_t merge = 0;
  };
  static RecordKeys KeysOf(std::size_t table, bool indexCells, const CarvedRecord& record, int rowidAliasColumn);
  // Whether the table's fingerprints are held here (false: they went to `setAside`).
  bool Holds(std::size_t table) const { return table < tables_.size() && !tables_[table].setAside; }
  bool Contains(std::uint64_t key) const { return keys_.Contains(key); }
  bool IsLive(std::size_t table, const CarvedRecord& record, int rowidAliasColumn) const {
    const auto key = Key(table, record, rowidAliasColumn);
    return key && keys_.Contains(*key);
  }
  std::size_t RowCount() const { return rows_; }
  // Memory per live row held here at most: three fingerprints (five for rows with overflow
  // pages are rare), in a set at most half full that doubles as it grows.
  static constexpr std::size_t kBytesPerRow = 3 * sizeof(std::uint64_t) * 4;

 private:
  struct Table {
    bool indexCells = false;  // WITHOUT ROWID: no rowid to match with
    bool setAside = false;
  };
  std::vector<Table> tables_;
  FingerprintSet keys_;
  std::size_t rows_ = 0;
};

// One number for a row's values. `skipColumn` (the rowid alias) and, with skipFirst, column
// 0 take no part; `rowid` takes part when given. Missing trailing columns count as NULL.
std::uint64_t RowFingerprint(const std::vector<Value>& values, std::size_t columns, int skipColumn,
                             bool skipFirst, const std::int64_t* rowid);

}  // namespace sieve::sqlite
