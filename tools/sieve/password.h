// The password of an encrypted backup: from a file, from standard input, or
// typed at a prompt without echo. Never from an argument, never printed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tools/sieve/options.h"

namespace sieve::cli {

// Names of the password options, for the commands that accept them.
inline constexpr std::string_view kPasswordFileOption = "--password-file";
inline constexpr std::string_view kPasswordStdinOption = "--password-stdin";

struct PasswordSource {
  std::optional<std::string> file;
  bool fromStdin = false;
};

// Throws a usage error when both sources are given.
PasswordSource PasswordSourceFrom(const Options& options);

// The first line of `text` without its line ending ("\n" or "\r\n").
std::string FirstLine(std::string_view text);

// Reads the password from the chosen source, or prompts on the terminal when
// none was chosen and standard input is one. Throws CommandError (usage) when
// there is no way to get a password, (failure) when the file cannot be read.
std::string ObtainPassword(const PasswordSource& source, std::string_view backupName);

// Overwrites the text before it is released.
void Wipe(std::string& secret);

}  // namespace sieve::cli
