// Checks for relative paths taken from a backup before they are used on disk.
#pragma once

#include <string>
#include <string_view>

namespace sieve {

// True when the path is relative, has no ".." or "." component, no NUL and no
// empty component, so joining it under a folder can never leave that folder.
bool IsSafeRelativePath(std::string_view path);

// A file name made safe to create in any folder: path separators, NUL, control
// characters and the characters \ / : * ? " < > | become "_"; "", "." and ".." become "_".
std::string SafeFileName(std::string_view name);

}  // namespace sieve
