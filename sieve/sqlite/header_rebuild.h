// What a freed cell's lost serial types may have been. Freeing a cell writes a 4-byte
// freeblock header (next block, block size) over its first bytes: the payload length, the
// rowid of a table cell, the header length and, in short cells, the first serial types.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace sieve::sqlite {

// Serial types a lost column of `kinds` may have had, one per stored size: the sizes are all
// that matter for finding the later values. Null and the integers 0 and 1 all take no bytes.
std::vector<std::uint64_t> AssumableTypes(std::uint8_t kinds, bool rowidAlias);

// Whether a value of `size` bytes in a column of `kinds` has one serial type only (so an
// assumed type is the real one and the value may be reported).
bool OnlyTypeOfSize(std::uint8_t kinds, std::int64_t size);

// The serial type of a text (or blob) of `bytes` bytes, when the column allows it and its
// varint takes `varintBytes` bytes.
std::optional<std::uint64_t> VariableType(std::uint8_t kinds, bool text, std::uint64_t bytes,
                                          std::size_t varintBytes);

}  // namespace sieve::sqlite
