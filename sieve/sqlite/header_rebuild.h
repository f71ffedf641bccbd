// What a freed cell's lost serial types may have been. Freeing a cell writes a 4-byte
// freeblock header (next block, block size) over its first bytes: the payload length, the
// rowid of a table cell, the header length and, in short cells, the first serial types.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sieve/sqlite/record_decoder.h"

namespace sieve::sqlite {

// Serial types a lost column of `kinds` may have had, one per stored size: the sizes are all
// that matter for finding the later values. Null and the integers 0 and 1 all take no bytes.
// Held in place: it is asked for at every offset a damaged cell is tried at.
struct AssumableTypeList {
  std::array<std::uint64_t, 8> types{};
  std::size_t count = 0;
  std::span<const std::uint64_t> Span() const { return {types.data(), count}; }
};
AssumableTypeList AssumableTypes(std::uint8_t kinds, bool rowidAlias);

// Whether a value of `size` bytes in a column of `kinds` has one serial type only (so an
// assumed type is the real one and the value may be reported).
bool OnlyTypeOfSize(std::uint8_t kinds, std::int64_t size);

// The serial type of a text (or blob) of `bytes` bytes, when the column allows it and its
// varint takes `varintBytes` bytes.
std::optional<std::uint64_t> VariableType(std::uint8_t kinds, bool text, std::uint64_t bytes,
                                          std::size_t varintBytes);

// Whether every integer of the record is in the serial type SQLite gives it: the fewest bytes
// that hold it, and no bytes at all for 0 and 1 when `zeroAndOneTyped` (schema format 4 and
// up). Values read from a wrong offset mostly break this.
bool IntegersInShortestForm(const std::vector<std::uint64_t>& serialTypes, const std::vector<Value>& values,
                            bool zeroAndOneTyped);

}  // namespace sieve::sqlite
