// Feeds arbitrary bytes to the typedstream reader that decodes message bodies.
#include <cstddef>
#include <cstdint>
#include <span>

#include "sieve/extractors/typedstream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  std::size_t sink = 0;
  if (const auto archive = sieve::typedstream::Decode(bytes)) sink += archive->objects.size();
  if (const auto text = sieve::typedstream::AttributedText(bytes)) sink += text->size();
  return sink == static_cast<std::size_t>(-1) ? 1 : 0;
}
