// The text of a note of the newer notes store. ZICNOTEDATA.ZDATA holds a gzip stream whose
// content is a protocol-buffer message; the note text is field 2 of the note (field 3) of the
// document (field 2) of that message. Attachments sit in the text as U+FFFC; the attribute run
// (field 5 of the note) over each names the attachment in its field 12. Every byte is untrusted: a truncated, oversized or
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
  // The bytes of every length-delimited field of that number at this level, in order; as many
  // as were read when the message turns out malformed.
  std::vector<std::span<const std::uint8_t>> AllBytes(std::uint32_t fieldNumber) const;

 private:
  // Calls found(bytes) for each length-delimited field of the number until it returns false;
  // false when the message is malformed before its end.
  template <typename Found>
  bool Walk(std::uint32_t fieldNumber, Found found) const;

  std::span<const std::uint8_t> data_;
};

struct NoteBodyAttachment {
  std::string identifier;  // the attachment row's ZIDENTIFIER
  std::string type;        // its type identifier, e.g. "public.jpeg"
};

struct NoteBody {
  std::string text;  // valid UTF-8, U+FFFC where an attachment sits
  std::vector<NoteBodyAttachment> attachments;  // in the order of their marks
};

// The decoded ZDATA blob; nullopt for anything that cannot be decoded.
std::optional<NoteBody> DecodeNoteBody(std::span<const std::uint8_t> zdata);
// The same for the message once inflated.
std::optional<NoteBody> DecodeNoteMessage(std::span<const std::uint8_t> message);

// The plain text of a ZDATA blob as valid UTF-8; "" for anything that cannot be decoded.
std::string NoteBodyText(std::span<const std::uint8_t> zdata);

// The text with each attachment mark replaced by "[name]", the names given in mark order; a
// mark past the last name is left as it is.
std::string NameAttachmentMarks(const std::string& text, const std::vector<std::string>& names);

}  // namespace sieve
