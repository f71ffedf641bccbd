// Exit statuses of the command line and the error that carries one to main.
#pragma once

#include <stdexcept>
#include <string>

#include "sieve/run_outcome.h"

namespace sieve::cli {

using ExitCode = ExitStatus;

// Ends a command: main prints "sieve: " + what() on standard error and exits with code.
class CommandError : public std::runtime_error {
 public:
  CommandError(ExitCode code, const std::string& message)
      : std::runtime_error(message), code_(code) {}
  explicit CommandError(const RunOutcome& outcome)
      : std::runtime_error(outcome.message), code_(static_cast<ExitCode>(outcome.status)) {}
  ExitCode Code() const { return code_; }

 private:
  ExitCode code_;
};

// A mistake in the command line itself (exit 2).
inline CommandError UsageError(const std::string& message) {
  return CommandError(kExitUsage, message);
}

}  // namespace sieve::cli
