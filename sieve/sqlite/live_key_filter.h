// Which live-row keys a set-aside carve surely does not hold, in a fixed amount of memory: a
// Bloom filter of the keys, three bits in one 64-bit word per key. A copy whose key it has
// never seen cannot be a stale copy of a live row and skips the round that checks copies
// against the live keys; a "maybe" (a live row or a false alarm: about one in 270
// for three million keys, one in 26 for the nine million keys of three million
// live rows) is checked exactly there.
#pragma once

#include <cstdint>
#include <vector>

namespace sieve::sqlite {

class LiveKeyFilter {
 public:
  // 2^20 words: 8 MB, whatever the size of the file.
  static constexpr unsigned kWordBits = 20;

  void Insert(std::uint64_t key) {
    if (words_.empty()) words_.assign(std::size_t{1} << kWordBits, 0);
    words_[WordOf(key)] |= BitsOf(key);
  }
  bool MayContain(std::uint64_t key) const {
    if (words_.empty()) return false;
    const std::uint64_t bits = BitsOf(key);
    return (words_[WordOf(key)] & bits) == bits;
  }

 private:
  // Keys are hashes already; mixed again so that the word and the bits use bits of the key
  // that the partitions and the fingerprint sets' slots do not.
  static std::uint64_t Mixed(std::uint64_t key) { return (key ^ (key >> 29)) * 0x94d049bb133111ebull; }
  static std::size_t WordOf(std::uint64_t key) { return static_cast<std::size_t>(Mixed(key) >> (64 - kWordBits)); }
  static std::uint64_t BitsOf(std::uint64_t key) {
    const std::uint64_t m = Mixed(key);
    return (std::uint64_t{1} << (m & 63)) | (std::uint64_t{1} << ((m >> 6) & 63)) | (std::uint64_t{1} << ((m >> 12) & 63));
  }

  std::vector<std::uint64_t> words_;
};

}  // namespace sieve::sqlite
