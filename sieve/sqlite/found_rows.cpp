#include "sieve/sqlite/found_rows.h"

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

void FoundRows::Grow() {
  std::vector<std::uint32_t> old = std::move(slots_);
  slots_.assign(old.empty() ? 1024 : 2 * old.size(), 0);
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

void FoundRows::ApplyPatches(const FoundRow& row, std::vector<CarvedValue>& values) const {
  if (row.patches == 0) return;
  for (const auto& [column, value] : patches_[row.patches - 1]) {
    if (column < values.size()) values[column] = value;
  }
}

std::uint64_t ValueFingerprint(const CarvedValue& value) {
  std::uint64_t real;
  std::memcpy(&real, &value.real, sizeof real);
  std::uint64_t h = std::hash<std::string_view>{}(value.bytes);
  for (const std::uint64_t part : {static_cast<std::uint64_t>(value.kind) | (value.truncated ? 0x100u : 0u),
                                   static_cast<std::uint64_t>(value.integer), real}) {
    h = (h ^ part) * 0x9e3779b97f4a7c15ull;
    h ^= h >> 29;
  }
  return h;
}

}  // namespace sieve::sqlite
