// Whether free bytes may hold a schema record: its CREATE statement leaves the word in them.
#pragma once

#include <cstdint>
#include <span>

#include "sieve/sqlite/record_decoder.h"

namespace sieve::sqlite {

// Whether `bytes` hold "REATE" or "reate" (the word's tail in either case, as SQL is written),
// in the file's text encoding. Mixed case does not count.
bool MayHoldCreateWord(std::span<const std::uint8_t> bytes, TextEncoding encoding);

}  // namespace sieve::sqlite
