// Ctrl-C and SIGTERM while a command runs.
//
// Outside an InterruptGuard they keep their default action and end the process
// at once. That is right while nothing private is on disk yet: the password
// prompt and the slow key derivation, which cannot be stopped part-way. Once
// the reader may decrypt into its private folder, a guard turns them into a
// request that the running work polls, so that the command ends through normal
// unwinding and the reader's destructor removes that folder.
#pragma once

#include <csignal>

namespace sieve::cli {

class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
};

// True once Ctrl-C or SIGTERM arrived while a guard was in place.
bool Interrupted();

// Throws CommandError (failure, "interrupted") when Interrupted().
void ThrowIfInterrupted();

}  // namespace sieve::cli
