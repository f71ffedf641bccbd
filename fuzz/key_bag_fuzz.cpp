// Feeds arbitrary bytes to the key-bag parser with a fixed password, then uses
// whatever opened to unwrap keys taken from the same input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sieve/backup/key_bag.h"

namespace {

constexpr std::uint32_t kMaxRounds = 1000;

// Real bags ask for up to ten million rounds, which would stall the fuzzer on one
// input; such inputs are skipped, everything else reaches the parser unchanged.
bool AsksForTooManyRounds(const std::uint8_t* data, std::size_t size) {
  std::size_t offset = 0;
  while (size - offset >= 8) {
    const std::uint8_t* item = data + offset;
    const std::size_t length = (std::size_t{item[4]} << 24) | (std::size_t{item[5]} << 16) |
                               (std::size_t{item[6]} << 8) | item[7];
    if (length > size - offset - 8) break;
    const bool rounds = std::memcmp(item, "ITER", 4) == 0 || std::memcmp(item, "DPIC", 4) == 0;
    if (rounds && length == 4) {
      const std::uint32_t value = (std::uint32_t{item[8]} << 24) | (std::uint32_t{item[9]} << 16) |
                                  (std::uint32_t{item[10]} << 8) | item[11];
      if (value > kMaxRounds) return true;
    }
    offset += 8 + length;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (AsksForTooManyRounds(data, size)) return 0;
  sieve::CBackupKeyBag bag;
  const auto result = bag.Open(data, size, "fuzz");
  if (result == sieve::CBackupKeyBag::OpenResult::Opened && size >= 44) {
    sieve::FileKey key{};
    bag.UnwrapFileKey(data + size - 40, 40, key);
    const std::vector<std::uint8_t> field(data + size - 44, data + size);
    bag.FileKeyFromIndexField(field, key);
    bag.FileKeyFromIndexField(std::vector<std::uint8_t>(field.begin(), field.begin() + 43), key);
  }
  return 0;
}
