#include "sieve/reader/text.h"

#include <cstdint>
#include <cstring>

namespace sieve {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";


std::size_t ValidSequenceLength(std::string_view text, std::size_t i) {
  std::uint32_t cp = 0;
  return DecodeUtf8(text, i, cp);
}

}  // namespace

std::size_t DecodeUtf8(std::string_view text, std::size_t i, std::uint32_t& cp) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  cp = b0;
  if (b0 < 0x80) return 1;
  std::size_t len;
  std::uint32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, min = 0x80, cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, min = 0x800, cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, min = 0x10000, cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const unsigned char b = byte(i + k);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

void AppendCodePoint(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out += kReplacement;
    } else {
      AppendCodePoint(out, unit);
    }
  }
  return out;
}

std::string SanitizeUtf8(std::string_view text) {
  // Most text is plain ASCII and comes back as it is; only the rest is checked.
  std::size_t ascii = 0;
  for (std::uint64_t word; ascii + 8 <= text.size(); ascii += 8) {
    std::memcpy(&word, text.data() + ascii, 8);
    if ((word & 0x8080808080808080ull) != 0) break;
  }
  while (ascii < text.size() && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
  if (ascii == text.size()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  out.append(text.substr(0, ascii));
  std::size_t i = ascii;
  while (i < text.size()) {
    const std::size_t len = ValidSequenceLength(text, i);
    if (len == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(text.substr(i, len));
      i += len;
    }
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    // Most text is ASCII: thirty-two bytes at a time, then eight, until a byte with its
    // high bit set.
    for (std::uint64_t words[4]; i + 32 <= text.size(); i += 32) {
      std::memcpy(words, text.data() + i, 32);
      if (((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080ull) != 0) break;
    }
    for (std::uint64_t word; i + 8 <= text.size(); i += 8) {
      std::memcpy(&word, text.data() + i, 8);
      if ((word & 0x8080808080808080ull) != 0) break;
    }
    if (i == text.size()) break;
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t len = ValidSequenceLength(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  // Step back over continuation bytes so the cut falls before a lead byte.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::size_t CopyToBuffer(std::string_view text, char* buffer, std::size_t bufferSize) {
  if (buffer == nullptr || bufferSize == 0) return 0;
  const std::string_view part = Utf8Prefix(text, bufferSize - 1);
  std::memcpy(buffer, part.data(), part.size());
  buffer[part.size()] = '\0';
  return part.size();
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace sieve
