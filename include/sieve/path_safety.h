// Checks for relative paths taken from a backup before they are used on disk.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sieve {

// True when the path is relative, has no ".." or "." component, no NUL and no
// empty component, so joining it under a folder can never leave that folder.
bool IsSafeRelativePath(std::string_view path);

// Longest name SafeFileName gives, in bytes: room for a " (12)" or "-12" and a folder's
// worth of path within the 255-byte name limit of most file systems.
inline constexpr std::size_t kMaxFileNameBytes = 120;

// Text from a backup made into a file or folder name, in one pass over it:
// - control characters, invalid UTF-8 and the characters \ / : * ? " < > | become "_";
// - bidirectional marks, embeddings, overrides and isolates (U+200E, U+200F, U+202A to
//   U+202E, U+2066 to U+2069) are dropped, so a name shows in the order it is stored;
// - blanks at either end are trimmed and a leading "." becomes "_", so the name is never
//   hidden and starts with something visible;
// - it is cut to kMaxFileNameBytes at a character boundary, an extension of up to 16
//   bytes kept;
// - what is then "", "." or ".." becomes `fallback`.
std::string SafeFileName(std::string_view name, std::string_view fallback = "_");

}  // namespace sieve
