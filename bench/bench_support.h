// Small pieces the benchmarks share: timing the best of a few runs and running
// set-up SQL that must not fail.
#pragma once

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace bench {

// The best of `repeats` runs: the least disturbed by other work on the machine.
inline double SecondsOf(const std::function<void()>& work, int repeats = 3) {
  using Clock = std::chrono::steady_clock;
  double best = 1e300;
  for (int i = 0; i < repeats; ++i) {
    const auto start = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
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
