// Which live-row keys a set-aside carve surely does not hold, in a fixed amount of memory: a
// Bloom filter of the keys, three bits in one 64-bit word per key. A copy whose key it has
// never seen cannot be a stale copy of a live row and skips the round that checks copies
// against the live keys; a "maybe" (a live row or a false alarm: about one in 270
// for three million keys, one in 26 for the nine million keys of three million
// live rows) is checked exactly there.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "sieve/sqlite/fetch_line.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace sieve::sqlite {

class LiveKeyFilter {
 public:
  // 2^20 words: 8 MB, whatever the size of the file.
  static constexpr unsigned kWordBits = 20;

  LiveKeyFilter() { Allocate(); }

  // Each key's word is far from the last one's and mostly out of the caches: its line is
  // fetched ahead and set a few keys later, so that the waits overlap.
  void Insert(std::uint64_t key) {
    const std::size_t word = WordOf(key);
    FetchLine(words_.get() + word);
    Pending& slot = pending_[inserted_ % kAhead];
    if (inserted_ >= kAhead) words_[slot.word] |= slot.bits;
    slot = {word, BitsOf(key)};
    ++inserted_;
  }
  bool MayContain(std::uint64_t key) const {
    const std::size_t word = WordOf(key);
    const std::uint64_t bits = BitsOf(key);
    if ((words_[word] & bits) == bits) return true;
    // The last few keys inserted may not be set yet.
    for (std::size_t i = 0; i < kAhead && i < inserted_; ++i) {
      if (pending_[i].word == word && (pending_[i].bits & bits) == bits) return true;
    }
    return false;
  }

  // A key about to be looked up: its word's line is fetched meanwhile.
  void Prefetch(std::uint64_t key) const { FetchLine(words_.get() + WordOf(key)); }

 private:
  static constexpr std::size_t kAhead = 8;
  static constexpr std::size_t kBytes = (std::size_t{1} << kWordBits) * sizeof(std::uint64_t);
  static constexpr std::align_val_t kAlignment{std::size_t{1} << 21};
  struct Pending {
    std::size_t word = 0;
    std::uint64_t bits = 0;
  };
  struct Release {
    void operator()(std::uint64_t* words) const { ::operator delete(words, kAlignment); }
  };

  // Aligned to 2 MB and, on Linux, on huge pages where the system allows them: a lookup
  // per key over 8 MB otherwise misses the address translation cache as well.
  void Allocate() {
    words_.reset(static_cast<std::uint64_t*>(::operator new(kBytes, kAlignment)));
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    madvise(words_.get(), kBytes, MADV_HUGEPAGE);
#endif
    std::memset(words_.get(), 0, kBytes);
  }

  // Keys are hashes already; mixed again so that the word and the bits use bits of the key
  // that the partitions and the fingerprint sets' slots do not.
  static std::uint64_t Mixed(std::uint64_t key) { return (key ^ (key >> 29)) * 0x94d049bb133111ebull; }
  static std::size_t WordOf(std::uint64_t key) { return static_cast<std::size_t>(Mixed(key) >> (64 - kWordBits)); }
  static std::uint64_t BitsOf(std::uint64_t key) {
    const std::uint64_t m = Mixed(key);
    return (std::uint64_t{1} << (m & 63)) | (std::uint64_t{1} << ((m >> 6) & 63)) | (std::uint64_t{1} << ((m >> 12) & 63));
  }

  std::unique_ptr<std::uint64_t[], Release> words_;
  Pending pending_[kAhead];
  std::size_t inserted_ = 0;
};

}  // namespace sieve::sqlite
