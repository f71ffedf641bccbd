#include "tools/sieve/interrupts.h"

#include <atomic>

#include "sieve/private_cleanup.h"

namespace sieve::cli {
namespace {

// Lock-free, so both safe in a signal handler and seen by the polling thread.
std::atomic<int> interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);

bool Ignored(int signal) {
  struct sigaction current {};
  return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void Ignore(int signal) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(signal, &ignore, nullptr);
}

// The first one asks the scan to stop; a second one ends the process as the signal
// would, once the private data is gone.
void OnInterrupt(int signal) {
  if (interrupted.exchange(1) == 0) return;
  RemoveRegisteredPrivateData();
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  ::raise(signal);
}

// A signal the process was started with ignored stays ignored.
void Catch(int signal, struct sigaction& previous) {
  ::sigaction(signal, nullptr, &previous);
  if (previous.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

void RemovePrivateDataOnSignals() {
  const bool ignored[] = {Ignored(SIGINT), Ignored(SIGTERM), Ignored(SIGHUP)};
  RemovePrivateDataOnSignal();
  if (ignored[0]) Ignore(SIGINT);
  if (ignored[1]) Ignore(SIGTERM);
  if (ignored[2]) Ignore(SIGHUP);
}

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

}  // namespace sieve::cli
