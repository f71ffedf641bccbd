#include "sieve/reader/version.h"

#include <cstdint>

namespace sieve {
namespace {

// Reads the number at pos and moves pos past the following ".", if any.
std::uint64_t NextPart(std::string_view text, std::size_t& pos) {
  std::uint64_t value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    if (value < 100000000) value = value * 10 + static_cast<std::uint64_t>(text[pos] - '0');
    ++pos;
  }
  while (pos < text.size() && text[pos] != '.') ++pos;
  if (pos < text.size()) ++pos;
  return value;
}

}  // namespace

int CompareVersions(std::string_view a, std::string_view b) {
  std::size_t pa = 0;
  std::size_t pb = 0;
  while (pa < a.size() || pb < b.size()) {
    const std::uint64_t x = NextPart(a, pa);
    const std::uint64_t y = NextPart(b, pb);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace sieve
