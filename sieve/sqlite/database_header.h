// The 100-byte header of an SQLite database file and the page geometry it implies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "sieve/sqlite/record_decoder.h"

namespace sieve::sqlite {

enum class GeometryStatus : std::uint8_t {
  kOk,
  kTooShort,        // fewer than 100 bytes, or less than one page
  kNotSqlite,       // the magic text is missing
  kBadPageSize,     // not a power of two in 512..65536
  kBadReservedSize  // the reserved bytes leave less than 480 usable bytes per page
};

struct DatabaseHeader {
  GeometryStatus status = GeometryStatus::kTooShort;
  std::uint32_t pageSize = 0;
  std::uint32_t usableSize = 0;  // page size minus the reserved bytes at each page's end
  std::uint32_t reservedBytes = 0;
  std::uint32_t headerPageCount = 0;  // as written at offset 28
  bool headerPageCountValid = false;  // non-zero and the change counters agree
  std::uint32_t pageCount = 0;        // pages that will be searched
  std::uint32_t firstFreelistTrunk = 0;
  std::uint32_t freelistPageCount = 0;
  std::uint32_t largestRootPage = 0;  // non-zero in auto-vacuum databases
  std::uint32_t schemaFormat = 0;     // 4 and up: integers 0 and 1 are stored as types 8 and 9
  TextEncoding encoding = TextEncoding::kUtf8;
};

// Reads the header. The page count comes from offset 28 only when it is non-zero and the
// change counter at 24 equals the version-valid-for counter at 92 (old writers leave 0 or a
// stale value there); otherwise it is the file length divided by the page size. It never
// exceeds the whole pages the file holds.
DatabaseHeader ReadDatabaseHeader(std::span<const std::uint8_t> file);

}  // namespace sieve::sqlite
