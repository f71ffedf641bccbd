// A freed cell whose tail a later cell was written over. SQLite hands out free space without
// clearing it, so a newer cell (or the freeblock header of one freed since) may start inside
// an older cell's bytes: the older cell's header and first values still read true, its later
// values are the newer cell's bytes. Such a record is reported cut where the newer cell starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sieve/sqlite/record_decoder.h"
#include "sieve/sqlite/record_shape.h"

namespace sieve::sqlite {

struct CellSpan {
  std::size_t begin = 0, end = 0;  // file offsets, end exclusive
  std::size_t lastBeginSameEnd = 0;  // the latest begin of any span ending where this one does
};

// The spans of candidate cells sorted by begin, each with lastBeginSameEnd filled in.
std::vector<CellSpan> SortedSpans(std::vector<CellSpan> spans);

// Where a later cell begins inside `cell`: the first start of another span of `sorted` that
// lies within `cell` and reaches past its end. A span wholly inside the cell is more likely a
// reading of its own value bytes, and one that ends where a span starting at or after the
// cell's end does is the same later record read from a few bytes early (its supposed prefix
// being the cell's own last bytes): neither counts.
std::optional<std::size_t> LaterCellInside(const CellSpan& cell, std::span<const CellSpan> sorted);

// Cuts `record` at file offset `cut`: values whose bytes reach it are cut as a lost overflow
// tail is (texts and blobs shortened to whole characters before it, numbers Null, each marked
// truncated) and the overflow page number, lost with the tail, is not followed. False when the
// cut falls inside the record's header or leaves no known value before it.
bool CutOverwrittenTail(CarvedRecord& record, std::size_t cut, std::span<const std::uint8_t> file,
                        TextEncoding encoding, int rowidAliasColumn);

}  // namespace sieve::sqlite
