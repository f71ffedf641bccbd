// Feeds arbitrary bytes to the note-body decoders: the gzip and protocol-buffer body of the
// newer notes store, and the HTML-to-text conversion of the older one.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "sieve/extractors/html_text.h"
#include "sieve/extractors/note_body.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  std::size_t sink = sieve::NoteBodyText(bytes).size();
  // The raw message too, as the inflated content would reach it.
  if (const auto note = sieve::ProtoReader(bytes).FindBytes(2)) sink += note->size();
  sink += sieve::HtmlToText(std::string_view(reinterpret_cast<const char*>(data), size)).size();
  return sink == static_cast<std::size_t>(-1) ? 1 : 0;
}
