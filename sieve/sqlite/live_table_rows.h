// The live rows of one rowid table, read by walking its b-tree.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "sieve/sqlite/paged_file.h"
#include "sieve/sqlite/record_decoder.h"

namespace sieve::sqlite {

// Every row of the table rooted at `root`, with its values; the rowid alias column (-1 for
// none) carries the rowid. The values point into a buffer that is reused: copy what must
// outlive the call.
void ForEachLiveTableRow(const PagedFile& file, std::uint32_t root, int rowidAliasColumn,
                         const std::function<void(std::int64_t rowid, const std::vector<Value>&)>& visit);

}  // namespace sieve::sqlite
