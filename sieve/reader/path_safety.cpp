#include "sieve/path_safety.h"

#include <algorithm>
#include <cstdint>

#include "sieve/reader/text.h"

namespace sieve {
namespace {

constexpr std::size_t kMaxExtensionBytes = 16;

bool IsBidiControl(std::uint32_t cp) {
  return cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

bool IsControl(std::uint32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp < 0xA0); }

bool IsReserved(std::uint32_t cp) {
  switch (cp) {
    case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
      return true;
    default:
      return false;
  }
}

bool IsBlank(char c) { return c == ' '; }

// Appends the cleaned form of `text` to `out`; false when it stopped early, with more than
// `stopAfter` bytes in `out`.
bool AppendClean(std::string_view text, std::string& out, std::size_t stopAfter) {
  while (!text.empty()) {
    if (out.size() > stopAfter) return false;
    std::uint32_t cp = 0;
    const std::size_t length = DecodeUtf8(text, 0, cp);
    if (length == 0) {
      out.push_back('_');
      text.remove_prefix(1);
      continue;
    }
    if (IsControl(cp) || IsReserved(cp)) {
      out.push_back('_');
    } else if (!IsBidiControl(cp)) {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return true;
}

}  // namespace

bool IsSafeRelativePath(std::string_view path) {
  if (path.empty() || path.front() == '/' || path.find('\0') != std::string_view::npos) return false;
  if (path.find('\\') != std::string_view::npos) return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

std::string SafeFileName(std::string_view name, std::string_view fallback) {
  std::string out;
  // Only the head of a huge name can be kept: reading stops once there is enough to cut,
  // and the extension is taken from the end.
  if (!AppendClean(name, out, 4 * kMaxFileNameBytes)) {
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && name.size() - dot <= kMaxExtensionBytes) {
      AppendClean(name.substr(dot), out, out.size() + kMaxExtensionBytes * 2);
    }
  }
  std::string_view text = out;
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.empty() || text == "." || text == "..") return std::string(fallback);
  std::string safe(text);
  if (safe.front() == '.') safe.front() = '_';
  if (safe.size() > kMaxFileNameBytes) {
    const std::size_t dot = safe.rfind('.');
    const bool extension = dot != std::string::npos && dot > 0 && safe.size() - dot <= kMaxExtensionBytes;
    const std::string tail = extension ? safe.substr(dot) : std::string();
    safe = std::string(Utf8Prefix(safe, kMaxFileNameBytes - tail.size())) + tail;
  }
  return safe;
}

}  // namespace sieve
