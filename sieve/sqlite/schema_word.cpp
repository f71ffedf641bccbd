#include "sieve/sqlite/schema_word.h"

#include <string.h>

#include <cstring>
#include <string_view>

namespace sieve::sqlite {

namespace {

constexpr std::string_view kUpper = "REATE";
constexpr std::string_view kLower = "reate";

bool WordAt(const std::uint8_t* p) {
  return std::memcmp(p, kUpper.data(), kUpper.size()) == 0 || std::memcmp(p, kLower.data(), kLower.size()) == 0;
}

// UTF-8 text: sixteen starting offsets tested at once for the word's first three letters in
// any case (a letter or'ed with 0x20 is its lower case, and only the two cases of a letter
// give it), and only where that holds are the two exact words compared. Most free bytes
// have no such place, and the two searches for the exact words cost several times as much;
// three letters leave few places, and testing all five cost more than those few compares.
bool HoldsUtf8Word(const std::uint8_t* p, std::size_t size) {
  using Bytes = std::uint8_t __attribute__((vector_size(16)));
  std::size_t at = 0;
  for (; at + 16 + kLower.size() - 1 <= size; at += 16) {
    Bytes match = ~Bytes{};
    for (std::size_t i = 0; i < 3; ++i) {
      Bytes b;
      std::memcpy(&b, p + at + i, 16);
      match &= reinterpret_cast<Bytes>((b | 0x20) == static_cast<std::uint8_t>(kLower[i]));
    }
    std::uint64_t halves[2];
    std::memcpy(halves, &match, 16);
    if ((halves[0] | halves[1]) == 0) continue;
    for (std::size_t i = 0; i < 16; ++i) {
      if (match[i] != 0 && WordAt(p + at + i)) return true;
    }
  }
  for (; at + kLower.size() <= size; ++at) {
    if (WordAt(p + at)) return true;
  }
  return false;
}

}  // namespace

bool MayHoldCreateWord(std::span<const std::uint8_t> bytes, TextEncoding encoding) {
  if (encoding == TextEncoding::kUtf8) return HoldsUtf8Word(bytes.data(), bytes.size());
  static constexpr std::string_view kUtf16[] = {std::string_view("R\0E\0A\0T\0E", 9), std::string_view("r\0e\0a\0t\0e", 9)};
  for (const std::string_view word : kUtf16) {
    if (memmem(bytes.data(), bytes.size(), word.data(), word.size()) != nullptr) return true;
  }
  return false;
}

}  // namespace sieve::sqlite
