// Which carved records of a table are only copies of its live rows, judged against the file
// as SQLite sees it (its log applied). A record that carries a live rowid is an older version
// of that row (an edit leaves the old cell behind); one whose values all equal a live row's
// is a copy left when SQLite moved the row (LiveRows decides, as for the carve engine); and
// one that agrees with a live row on a set of columns that names a row (a GUID; a title with
// its address) is an older version whose rowid was overwritten.
#pragma once

#include <cstdint>
#include <vector>

#include "sieve/sqlite/live_rows.h"
#include "sieve/sqlite/paged_file.h"
#include "sieve/sqlite/record_shape.h"
#include "sieve/sqlite/row_identity.h"
#include "sieve/sqlite/table_shapes.h"

namespace sieve::sqlite {

class StaleCopyFilter {
 public:
  StaleCopyFilter() = default;  // knows no live row: nothing is stale
  // `table` needs its root page; `table.shape` is the shape its records were carved with.
  static StaleCopyFilter Build(const PagedFile& current, const TableShape& table,
                               const std::vector<RowIdentity>& identities);

  bool IsStale(const CarvedRecord& record) const;

 private:
  std::vector<std::int64_t> rowids_;  // sorted
  LiveRows rows_;
  int alias_ = -1;
  std::vector<RowIdentity> identities_;
  std::vector<std::vector<std::uint64_t>> identityKeys_;  // sorted, one list per identity
};

}  // namespace sieve::sqlite
