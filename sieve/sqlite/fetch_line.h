// Asks the processor to bring the cache line holding `at` in ahead of its use, so that the
// wait for memory overlaps other work: for lookups and writes at addresses scattered over
// more memory than the caches hold.
#pragma once

#include <cstdint>

namespace sieve::sqlite {

// Written out as the instruction itself on x86-64, as GCC drops a __builtin_prefetch in a
// loop that does nothing else.
inline void FetchLine(const void* at) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(at)));
#else
  __builtin_prefetch(at);
#endif
}

// Every line of [begin, end).
inline void FetchLines(const void* begin, const void* end) {
  constexpr std::uintptr_t kLine = 64;
  for (auto line = reinterpret_cast<std::uintptr_t>(begin) & ~(kLine - 1); line < reinterpret_cast<std::uintptr_t>(end);
       line += kLine) {
    FetchLine(reinterpret_cast<const void*>(line));
  }
}

}  // namespace sieve::sqlite
