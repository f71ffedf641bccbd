// Small pieces the benchmarks share: timing the best of a few runs and running
// set-up SQL that must not fail.
#pragma once

#include <sqlite3.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>

namespace bench {

// What a run is measured by: wall time, or the CPU time of this process (all its threads),
// which other work on a busy machine hardly changes - for work that never waits.
enum class Clock { Wall, ProcessCpu };

inline double Now(Clock clock) {
  if (clock == Clock::ProcessCpu) {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The best of `repeats` runs: the least disturbed by other work on the machine.
inline double SecondsOf(const std::function<void()>& work, int repeats = 3, Clock clock = Clock::Wall) {
  double best = 1e300;
  for (int i = 0; i < repeats; ++i) {
    const double start = Now(clock);
    work();
    best = std::min(best, Now(clock) - start);
  }
  return best;
}

// The best times of two pieces of work run in turn (a, b, a, b, ...), so that a burst of
// other work on the machine disturbs both sides rather than only the one running then.
inline std::pair<double, double> BestOfAlternating(const std::function<void()>& a, const std::function<void()>& b,
                                                   int repeats = 3, Clock clock = Clock::Wall) {
  std::pair<double, double> best{1e300, 1e300};
  for (int i = 0; i < repeats; ++i) {
    best.first = std::min(best.first, SecondsOf(a, 1, clock));
    best.second = std::min(best.second, SecondsOf(b, 1, clock));
  }
  return best;
}

// Set-up SQL of a benchmark's own database; a failure ends the benchmark.
inline void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", sql.c_str(), error ? error : "?");
    std::exit(1);
  }
}

}  // namespace bench
