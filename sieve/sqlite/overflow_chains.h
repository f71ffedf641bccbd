// Completing a carved record whose payload continued on overflow pages. Facts relied on: a
// cell whose payload passes the page's local limit keeps the first part on the page,
// followed by the 4-byte number of the first overflow page; each overflow page begins with
// the number of the next one (0 ends the chain) and carries usable size - 4 payload bytes.
// Deleting the row puts these pages on the freelist with their bytes kept (freelist leaf
// pages) or overwritten (trunk pages, which start with the freelist's own list), and later
// writes may reuse them for anything.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "sieve/sqlite/paged_file.h"
#include "sieve/sqlite/record_shape.h"

namespace sieve::sqlite {

enum class ChainState : std::uint8_t {
  kComplete,  // every byte of the body was read from pages that still hold it
  kReused,    // a page of the chain now holds something else: only the local part is sure
};

// Reads the rest of the record's body from `file`'s overflow pages. `local` is the part of
// the body on the cell's page, followed by the 4-byte first overflow page number.
// `mayHold(page)` says whether a page can still hold a freed chain's bytes. On kComplete
// `body` holds the whole body (record.bodySize bytes). Bounded by the body size, so lying
// page numbers and cycles end it.
ChainState ReadFreedChain(const PagedFile& file, const CarvedRecord& record, std::span<const std::uint8_t> local,
                          const std::function<bool(std::uint32_t)>& mayHold, std::vector<std::uint8_t>& body);

// Decodes the values of a complete body by the record's serial types into record.values
// (leading columns that were assumed stay Null). False, with the record left as it was, when
// a value does not fit or a text is not one the shape accepts in `encoding` (malformed, or
// UTF-8 with a NUL byte): the pages no longer hold this chain, a later one took them.
bool DecodeCompletedBody(const std::vector<std::uint8_t>& body, CarvedRecord& record, const RecordShape& shape,
                         TextEncoding encoding);

}  // namespace sieve::sqlite
