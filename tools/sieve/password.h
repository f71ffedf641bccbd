// The password of an encrypted backup: from a file, from standard input, or
// typed at a prompt without echo; or instead the key derived from it, saved
// earlier by `sieve key`. Never from an argument, never printed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sieve/file_key.h"
#include "tools/sieve/options.h"

namespace sieve::cli {

// Names of the password options, for the commands that accept them.
inline constexpr std::string_view kPasswordFileOption = "--password-file";
inline constexpr std::string_view kPasswordStdinOption = "--password-stdin";
inline constexpr std::string_view kKeyFileOption = "--key-file";

struct PasswordSource {
  std::optional<std::string> file;
  bool fromStdin = false;
  std::optional<std::string> keyFile;  // a derived key instead of a password
};

// Throws a usage error when more than one source is given.
PasswordSource PasswordSourceFrom(const Options& options);

// Reads the password from the file or standard input, whichever was chosen
// (the prompt at a terminal is Unlock's, since it asks again). Throws
// CommandError (usage) when neither was, (failure) when the file cannot be read.
std::string ObtainPassword(const PasswordSource& source);

// Reads a key file: 64 hexadecimal digits, optionally followed by a line end.
// Throws CommandError (failure) naming the file, never its content, when it
// cannot be read or holds anything else.
FileKey ReadKeyFile(const std::string& path);

// The key as 64 lower-case hexadecimal digits.
std::string KeyText(const FileKey& key);

}  // namespace sieve::cli
