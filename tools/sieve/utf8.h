// UTF-8 checks shared by the text and JSON output.
#pragma once

#include <cstddef>
#include <string_view>

namespace sieve::cli {

// Length (2 to 4) of the valid multi-byte UTF-8 sequence at text[pos], or 0
// when the bytes there are not one: overlong forms, surrogates and values past
// U+10FFFF are refused. ASCII bytes give 0 as well; callers test them first.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos);

// The UTF-8 encoding of U+FFFD, written in place of invalid bytes.
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

}  // namespace sieve::cli
