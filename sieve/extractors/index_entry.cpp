#include "sieve/extractors/index_entry.h"

#include <algorithm>
#include <vector>

namespace sieve {
namespace {

// Big-endian two's-complement integer of serial type 1 to 6, or 8 / 9; false otherwise or
// when the bytes run past the end.
bool IntegerOfType(std::uint8_t type, const std::uint8_t* p, const std::uint8_t* end, std::int64_t& value) {
  static constexpr int kSizes[] = {0, 1, 2, 3, 4, 6, 8};
  if (type == 8 || type == 9) {
    value = type - 8;
    return true;
  }
  if (type < 1 || type > 6) return false;
  const int size = kSizes[type];
  if (end - p < size) return false;
  std::uint64_t bits = (p[0] & 0x80) ? ~std::uint64_t{0} : 0;
  for (int i = 0; i < size; ++i) bits = (bits << 8) | p[i];
  value = static_cast<std::int64_t>(bits);
  return true;
}

}  // namespace

std::set<std::int64_t> RowidsIndexedUnder(std::span<const std::uint8_t> file, std::string_view key,
                                          const std::function<bool(std::int64_t)>& plausible) {
  std::set<std::int64_t> rowids;
  if (key.empty() || file.size() <= key.size()) return rowids;
  const auto* begin = file.data();
  const auto* end = begin + file.size();
  const auto* keyBytes = reinterpret_cast<const std::uint8_t*>(key.data());
  for (const std::uint8_t* at = std::search(begin + 1, end, keyBytes, keyBytes + key.size()); at != end;
       at = std::search(at + 1, end, keyBytes, keyBytes + key.size())) {
    const std::uint8_t* after = at + key.size();
    std::int64_t value = 0;
    if (IntegerOfType(at[-1], after, end, value)) {
      if (value > 0 && plausible(value)) rowids.insert(value);
      continue;
    }
    for (std::uint8_t type : {std::uint8_t{1}, std::uint8_t{2}}) {
      if (IntegerOfType(type, after, end, value) && value > 0 && plausible(value)) rowids.insert(value);
    }
  }
  return rowids;
}

std::vector<std::int64_t> AssignLostRowids(const std::vector<std::set<std::int64_t>>& indexed,
                                           const std::set<std::int64_t>& unclaimed) {
  std::vector<std::int64_t> assigned(indexed.size(), -1);
  std::set<std::int64_t> left = unclaimed;
  for (std::size_t i = 0; i < indexed.size(); ++i) {
    std::vector<std::int64_t> open;
    for (const std::int64_t rowid : indexed[i]) {
      if (left.count(rowid) != 0) open.push_back(rowid);
    }
    if (open.size() != 1) continue;
    assigned[i] = open.front();
    left.erase(open.front());
  }
  return assigned;
}

}  // namespace sieve
