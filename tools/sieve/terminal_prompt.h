// The password prompt at a terminal, shared by `sieve` and `quarry --recover`:
// no echo, the terminal put back as it was (also on Ctrl-C), and a wrong
// password asked again, as ssh and sudo do. Qt-free and without the rest of
// the command line, so that both programs link it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace sieve::cli {

// How often a password typed at the prompt is asked for before giving up.
inline constexpr int kPasswordTries = 3;

// One line of `fd` without its line ending, read a byte at a time so that
// nothing after it is consumed.
std::string ReadLineFrom(int fd);

// Writes `prompt` on standard error and reads one line from standard input
// (a terminal) with echo off.
std::string PromptWithoutEcho(std::string_view prompt);

// Prompts "Password for NAME: " (control characters of NAME shown as "?") until `check` accepts the password or the tries
// are used up; `check` returns 1 accepted, -1 wrong (asked again, with a line
// "PROGRAM: wrong password, try again" on standard error), anything else ends
// the asking. Returns the last answer of `check`. The typed text is wiped
// before the next try.
int AskForPassword(std::string_view program, std::string_view backupName,
                   const std::function<int(std::string& password)>& check);

}  // namespace sieve::cli
