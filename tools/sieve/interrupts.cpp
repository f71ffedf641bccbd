#include "tools/sieve/interrupts.h"

#include <atomic>

#include "tools/sieve/exit_codes.h"

namespace sieve::cli {
namespace {

// Lock-free, so both safe in a signal handler and seen by the polling thread.
std::atomic<int> interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnInterrupt(int) { interrupted = 1; }

// A signal the process was started with ignored (a background job's Ctrl-C) stays ignored.
void Catch(int signal, struct sigaction& previous) {
  ::sigaction(signal, nullptr, &previous);
  if (previous.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

InterruptGuard::InterruptGuard() {
  interrupted = 0;
  Catch(SIGINT, previousInt_);
  Catch(SIGTERM, previousTerm_);
}

InterruptGuard::~InterruptGuard() {
  ::sigaction(SIGINT, &previousInt_, nullptr);
  ::sigaction(SIGTERM, &previousTerm_, nullptr);
}

bool Interrupted() { return interrupted.load() != 0; }

void ThrowIfInterrupted() {
  if (Interrupted()) throw CommandError(kExitFailure, "interrupted");
}

}  // namespace sieve::cli
