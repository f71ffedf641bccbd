#include "sieve/person_name.h"

#include <cstdint>

#include "sieve/reader/text.h"

namespace sieve {
namespace {

// Scripts written without spaces between a family and a given name: Han, kana, Hangul.
bool IsCjk(std::uint32_t cp) {
  return (cp >= 0x2E80 && cp <= 0x2FDF) || (cp >= 0x3040 && cp <= 0x30FF) || (cp >= 0x3100 && cp <= 0x318F) ||
         (cp >= 0x31F0 && cp <= 0x31FF) || (cp >= 0x3400 && cp <= 0x4DBF) || (cp >= 0x4E00 && cp <= 0x9FFF) ||
         (cp >= 0xAC00 && cp <= 0xD7AF) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFF66 && cp <= 0xFF9F) ||
         (cp >= 0x20000 && cp <= 0x3134F);
}

bool StartsCjk(std::string_view text) {
  std::uint32_t cp = 0;
  return DecodeUtf8(text, 0, cp) != 0 && IsCjk(cp);
}

bool EndsCjk(std::string_view text) {
  // Back to the first byte of the last character.
  std::size_t start = text.size() - 1;
  while (start > 0 && text.size() - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
  std::uint32_t cp = 0;
  return DecodeUtf8(text, start, cp) == text.size() - start && IsCjk(cp);
}

}  // namespace

std::string JoinPersonName(std::initializer_list<std::string_view> parts) {
  std::string name;
  for (const std::string_view part : parts) {
    if (part.empty()) continue;
    if (!name.empty() && !(EndsCjk(name) && StartsCjk(part))) name += ' ';
    name += part;
  }
  return name;
}

}  // namespace sieve
