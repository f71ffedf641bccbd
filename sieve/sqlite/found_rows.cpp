#include "sieve/sqlite/found_rows.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

namespace sieve::sqlite {

namespace {

std::size_t SlotOf(std::uint64_t key, std::size_t mask) {
  return static_cast<std::size_t>((key * 0x9e3779b97f4a7c15ull) >> 17) & mask;
}

}  // namespace

std::uint32_t FoundRows::Newest(std::uint64_t key) const {
  if (slots_.empty()) return 0;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = SlotOf(key, mask);; slot = (slot + 1) & mask) {
    const std::uint32_t held = slots_[slot];
    if (held == 0 || rows_[held - 1].key == key) return held;
  }
}

std::uint32_t FoundRows::Add(FoundRow row) {
  if (2 * (rows_.size() + 1) > slots_.size()) Grow();
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = SlotOf(row.key, mask);
  while (slots_[slot] != 0 && rows_[slots_[slot] - 1].key != row.key) slot = (slot + 1) & mask;
  row.nextSameKey = slots_[slot];
  rows_.push_back(row);
  slots_[slot] = static_cast<std::uint32_t>(rows_.size());
  return static_cast<std::uint32_t>(rows_.size() - 1);
}

void FoundRows::Grow() { Rehash(slots_.empty() ? 1024 : 2 * slots_.size()); }

void FoundRows::Reserve(std::size_t rows) {
  rows_.reserve(rows);
  std::size_t size = slots_.empty() ? 1024 : slots_.size();
  while (size < 2 * rows) size *= 2;
  if (size != slots_.size()) Rehash(size);
}

void FoundRows::Rehash(std::size_t size) {
  std::vector<std::uint32_t> old = std::move(slots_);
  slots_.assign(size, 0);
  const std::size_t mask = slots_.size() - 1;
  for (const std::uint32_t held : old) {
    if (held == 0) continue;
    std::size_t slot = SlotOf(rows_[held - 1].key, mask);
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = held;
  }
}

void FoundRows::Patch(std::uint32_t index, std::size_t column, CarvedValue value) {
  FoundRow& row = rows_[index];
  if (row.patches == 0) {
    patches_.emplace_back();
    row.patches = static_cast<std::uint32_t>(patches_.size());
  }
  patches_[row.patches - 1].emplace_back(column, std::move(value));
}

void ApplyPatches(const FoundRows::Patches* patches, std::vector<CarvedValue>& values) {
  if (patches == nullptr) return;
  for (const auto& [column, value] : *patches) {
    if (column < values.size()) values[column] = value;
  }
}

bool FoundRows::Keep(const FoundCopy& copy, int alias, const ValueOf& valueOf) {
  const FoundRow& found = copy.row;
  const bool keptFirst = !found.firstLost && copy.hasValues;
  for (std::uint32_t held = Newest(found.key); held != 0; held = rows_[held - 1].nextSameKey) {
    FoundRow& first = rows_[held - 1];
    if (first.table != found.table) continue;
    if (found.rowid >= 0 && first.rowid >= 0 && first.rowid != found.rowid) continue;
    if (keptFirst && !first.firstLost && alias != 0 && first.firstValue != found.firstValue) continue;
    const auto seen = first.alsoIn + first.alsoInCount;
    if (found.source != first.source && std::find(first.alsoIn, seen, found.source) == seen && first.alsoInCount < 5) {
      first.alsoIn[first.alsoInCount++] = found.source;
    }
    if (first.rowid < 0 && found.rowid >= 0) {
      first.rowid = found.rowid;
      if (alias >= 0) {
        Patch(held - 1, static_cast<std::size_t>(alias), valueOf(static_cast<std::size_t>(alias)));
        if (alias == 0) first.firstValue = found.firstValue;
      }
    }
    if (first.firstLost && keptFirst) {
      Patch(held - 1, 0, valueOf(0));
      first.firstValue = found.firstValue;
      first.firstLost = false;
    }
    return false;
  }
  Add(found);
  return true;
}

std::uint64_t ValueFingerprint(const CarvedValue& value) {
  return ValueFingerprint(value.kind, value.truncated, value.integer, value.real, value.bytes);
}

std::uint64_t ValueFingerprint(ValueKind kind, bool truncated, std::int64_t integer, double real, std::string_view bytes) {
  std::uint64_t realBits;
  std::memcpy(&realBits, &real, sizeof realBits);
  std::uint64_t h = std::hash<std::string_view>{}(bytes);
  for (const std::uint64_t part : {static_cast<std::uint64_t>(kind) | (truncated ? 0x100u : 0u),
                                   static_cast<std::uint64_t>(integer), realBits}) {
    h = (h ^ part) * 0x9e3779b97f4a7c15ull;
    h ^= h >> 29;
  }
  return h;
}

}  // namespace sieve::sqlite
