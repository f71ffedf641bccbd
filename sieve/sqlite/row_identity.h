// A set of columns whose values name one row of a table (a GUID; a title with its address):
// two records that agree on them are versions of one row, whatever else differs.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sieve/sqlite/record_decoder.h"
#include "sieve/sqlite/record_shape.h"

namespace sieve::sqlite {

// Column positions in record order.
using RowIdentity = std::vector<int>;

// One number for the identity's values; nullopt when the values lack them (a column absent,
// lost with the cell's first bytes, or every one Null).
std::optional<std::uint64_t> IdentityKey(const std::vector<Value>& values, const RowIdentity& identity,
                                         bool firstLost = false);
inline std::optional<std::uint64_t> IdentityKey(const CarvedRecord& record, const RowIdentity& identity) {
  return IdentityKey(record.values, identity, record.lostLeadingColumns > 0);
}

}  // namespace sieve::sqlite
