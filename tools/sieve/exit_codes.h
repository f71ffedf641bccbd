// Exit statuses of the command line and the error that carries one to main.
#pragma once

#include <stdexcept>
#include <string>

namespace sieve::cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,
  kExitUsage = 2,
  kExitWrongPassword = 3,
  kExitNotABackup = 4,  // missing folder, or a folder that is not a backup
};

// Ends a command: main prints "sieve: " + what() on standard error and exits with code.
class CommandError : public std::runtime_error {
 public:
  CommandError(ExitCode code, const std::string& message)
      : std::runtime_error(message), code_(code) {}
  ExitCode Code() const { return code_; }

 private:
  ExitCode code_;
};

// A mistake in the command line itself (exit 2).
inline CommandError UsageError(const std::string& message) {
  return CommandError(kExitUsage, message);
}

}  // namespace sieve::cli
