// Feeds arbitrary bytes to the note-body decoders: the gzip and protocol-buffer body of the
// newer notes store (whole, and as the inflated message, which random bytes rarely reach
// through a valid gzip stream), and the HTML-to-text conversion of the older one.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/extractors/html_text.h"
#include "sieve/extractors/note_body.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  std::size_t sink = sieve::NoteBodyText(bytes).size();
  if (const auto body = sieve::DecodeNoteMessage(bytes)) {
    // Name every mark, one name short, so a mark past the last name is walked too.
    std::vector<std::string> names;
    for (const auto& a : body->attachments) names.push_back(a.identifier + a.type);
    if (!names.empty()) names.pop_back();
    sink += sieve::NameAttachmentMarks(body->text, names).size();
  }
  sink += sieve::HtmlToText(std::string_view(reinterpret_cast<const char*>(data), size)).size();
  return sink == static_cast<std::size_t>(-1) ? 1 : 0;
}
