// A set of 64-bit fingerprints with one probe per lookup in the common case: the live-row
// filter asks it once for every carved record, and a sorted list's binary search cost a
// cache miss per step on a large database.
#pragma once

#include <cstdint>
#include <vector>

namespace sieve::sqlite {

class FingerprintSet {
 public:
  void Insert(std::uint64_t key) {
    if (key == 0) {
      hasZero_ = true;
      return;
    }
    if (2 * (count_ + 1) > slots_.size()) Grow();
    std::uint64_t& slot = slots_[Find(slots_, key)];
    if (slot == 0) {
      slot = key;
      ++count_;
    }
  }
  bool Contains(std::uint64_t key) const {
    if (key == 0) return hasZero_;
    return !slots_.empty() && slots_[Find(slots_, key)] == key;
  }
  bool empty() const { return count_ == 0 && !hasZero_; }
  // Room for `keys` keys in all without growing.
  void Reserve(std::size_t keys) {
    while (2 * keys > slots_.size()) Grow();
  }

 private:
  // Open addressing, at most half full; 0 marks an empty slot (the key 0 is kept aside).
  // The slot holding `key`, or the empty one where it would go.
  static std::size_t Find(const std::vector<std::uint64_t>& slots, std::uint64_t key) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = static_cast<std::size_t>((key * 0x9e3779b97f4a7c15ull) >> 20) & mask;; i = (i + 1) & mask) {
      if (slots[i] == 0 || slots[i] == key) return i;
    }
  }
  void Grow() {
    std::vector<std::uint64_t> old = std::move(slots_);
    slots_.assign(old.empty() ? 256 : 2 * old.size(), 0);
    for (const std::uint64_t key : old) {
      if (key != 0) slots_[Find(slots_, key)] = key;
    }
  }

  std::vector<std::uint64_t> slots_;
  std::size_t count_ = 0;
  bool hasZero_ = false;
};

}  // namespace sieve::sqlite
