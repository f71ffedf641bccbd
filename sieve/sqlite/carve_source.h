// Where a carved record was found. Overflow: a cell in the main file's free space whose
// payload was completed from its freed overflow pages (page and offset still name the
// cell). Unallocated also covers pages that nothing in the file refers to.
#pragma once

#include <cstdint>
#include <string_view>

namespace sieve::sqlite {

enum class CarveSource : std::uint8_t { Freelist, Freeblock, Unallocated, Overflow, Wal, Journal };

// "freelist", "freeblock", "unallocated", "overflow", "wal", "journal".
std::string_view CarveSourceName(CarveSource source);

}  // namespace sieve::sqlite
