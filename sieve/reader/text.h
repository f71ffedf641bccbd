// UTF-8 text helpers shared by the readers and extractors. Everything the
// library hands out is valid UTF-8: broken sequences become U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sieve {

// The code point of the valid UTF-8 sequence at text[i] (i < text.size()) and its length
// in bytes; 0 when no valid sequence starts there.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, std::uint32_t& cp);

// Appends the UTF-8 form of one code point (the caller has checked it is a valid scalar value).
void AppendCodePoint(std::string& out, std::uint32_t cp);

// Converts UTF-16 (host byte order) to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Returns the text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view text);

// True when the text is valid UTF-8 (no overlongs, no surrogates, <= U+10FFFF).
bool IsValidUtf8(std::string_view text);

// The longest prefix of at most maxBytes bytes that does not split a UTF-8 sequence.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes);

// Copies text into a caller's buffer of bufferSize bytes, cut at a character boundary, always
// NUL-terminated when bufferSize > 0. Returns the number of bytes copied (without the NUL).
std::size_t CopyToBuffer(std::string_view text, char* buffer, std::size_t bufferSize);

std::string ToLowerAscii(std::string_view text);

}  // namespace sieve
