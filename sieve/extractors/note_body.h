// The text of a note of the newer notes store. ZICNOTEDATA.ZDATA holds a gzip stream whose
// content is a protocol-buffer message; the note text is field 2 of the note (field 3) of the
// document (field 2) of that message. Every byte is untrusted: a truncated, oversized or
// malformed body gives an empty text, never a read past the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sieve {

// Bodies larger than this once inflated are refused rather than held in memory.
inline constexpr std::size_t kMaxInflatedNoteBody = 16u << 20;

// Inflates a gzip (or zlib) stream; nullopt when it is truncated or damaged, or when it
// inflates to more than maxBytes.
std::optional<std::vector<std::uint8_t>> InflateStream(std::span<const std::uint8_t> data,
                                                       std::size_t maxBytes);

// A bounds-checked reader of the protocol-buffer wire format, just enough to find nested
// length-delimited fields.
class ProtoReader {
 public:
  explicit ProtoReader(std::span<const std::uint8_t> data) : data_(data) {}

  // The bytes of the first length-delimited field of that number at this level; nullopt when
  // there is none or the message is malformed before it is reached.
  std::optional<std::span<const std::uint8_t>> FindBytes(std::uint32_t fieldNumber) const;

 private:
  std::span<const std::uint8_t> data_;
};

// The plain text of a ZDATA blob as valid UTF-8; "" for anything that cannot be decoded.
std::string NoteBodyText(std::span<const std::uint8_t> zdata);

}  // namespace sieve
