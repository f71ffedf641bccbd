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
  // The letters and the case bit in every lane, made once, not in each round.
  const Bytes r = Bytes{} + static_cast<std::uint8_t>(kLower[0]);
  const Bytes e = Bytes{} + static_cast<std::uint8_t>(kLower[1]);
  const Bytes a = Bytes{} + static_cast<std::uint8_t>(kLower[2]);
  const Bytes lower = Bytes{} + std::uint8_t{0x20};
  const auto matches = [&](const std::uint8_t* at) {
    Bytes b0, b1, b2;
    std::memcpy(&b0, at, 16);
    std::memcpy(&b1, at + 1, 16);
    std::memcpy(&b2, at + 2, 16);
    return reinterpret_cast<Bytes>((b0 | lower) == r) & reinterpret_cast<Bytes>((b1 | lower) == e) &
           reinterpret_cast<Bytes>((b2 | lower) == a);
  };
  const auto any = [](Bytes lanes) {
    std::uint64_t halves[2];
    std::memcpy(halves, &lanes, 16);
    return (halves[0] | halves[1]) != 0;
  };
  const auto exact = [&](std::size_t from, Bytes lanes) {
    for (std::size_t i = 0; i < 16; ++i) {
      if (lanes[i] != 0 && WordAt(p + from + i)) return true;
    }
    return false;
  };
  std::size_t at = 0;
  // Thirty-two places a round, one test of both halves.
  for (; at + 32 + kLower.size() - 1 <= size; at += 32) {
    const Bytes first = matches(p + at);
    const Bytes second = matches(p + at + 16);
    if (!any(first | second)) continue;
    if (exact(at, first) || exact(at + 16, second)) return true;
  }
  for (; at + 16 + kLower.size() - 1 <= size; at += 16) {
    const Bytes lanes = matches(p + at);
    if (any(lanes) && exact(at, lanes)) return true;
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
