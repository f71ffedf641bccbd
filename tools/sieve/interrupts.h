// Ctrl-C, SIGTERM and SIGHUP while a command runs.
//
// By default they end the process at once, after the library has removed its
// registered private data (decrypted copies, files being written): right for
// the password prompt, the slow key derivation that cannot be stopped
// part-way, and every command that has nothing to sum up. A scan instead takes
// Ctrl-C as a request to stop, so that what it delivered is still summed up;
// it polls Interrupted() under an InterruptGuard, and a second Ctrl-C ends it
// at once all the same.
#pragma once

#include <csignal>

namespace sieve::cli {

// Installs the library's removal of private data on SIGINT, SIGTERM and SIGHUP,
// except for signals the program was started with ignored (a background job's
// Ctrl-C): those stay ignored. Call once at start.
void RemovePrivateDataOnSignals();

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

}  // namespace sieve::cli
