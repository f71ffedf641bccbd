// Small pieces the benchmarks share: timing the best of a few runs, running another
// program as a measured child, and running set-up SQL that must not fail.
#pragma once

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

struct ChildRun {
  int status = -1;
  double seconds = 0;
  long peakKb = 0;      // the child's peak resident memory, mapped file pages included
  long peakAnonKb = 0;  // the most anonymous memory (heap, stacks, private page copies) seen while it ran
  double cpuSeconds = 0;  // user and system time of all its threads: what a busy machine hardly changes

  bool Succeeded() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }
};

// A running process's resident anonymous memory from /proc (RssAnon); 0 when unknown.
// A line of /proc/self/status ("VmHWM", "VmRSS") in kB; 0 when absent.
inline long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = std::string(key) + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  }
  return 0;
}

inline long AnonymousKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("RssAnon:", 0) == 0) return std::strtol(line.c_str() + 8, nullptr, 10);
  }
  return 0;
}

// Runs args (args[0] an absolute path; no shell) with standard output sent to outPath;
// measures wall time, the child's peak resident memory from its own rusage and its peak
// anonymous memory by sampling.
inline ChildRun RunChild(const std::vector<std::string>& args, const std::string& outPath) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ChildRun run;
  const double start = Now(Clock::Wall);
  const pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  // The kernel keeps no peak of anonymous memory alone: it is sampled every few milliseconds.
  rusage usage{};
  for (;;) {
    const pid_t done = wait4(pid, &run.status, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0) return run;
    run.peakAnonKb = std::max(run.peakAnonKb, AnonymousKb(pid));
    const timespec pause{0, 3'000'000};
    nanosleep(&pause, nullptr);
  }
  run.seconds = Now(Clock::Wall) - start;
  run.peakKb = usage.ru_maxrss;
  run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  return run;
}

// A new folder under $TMPDIR (else /tmp) that only this user can open (mkdtemp gives
// 0700), for generated backups, outputs and password files; removed with everything in it
// when the benchmark ends, however it ends.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Whether two files hold the same bytes; false when either cannot be read.
inline bool SameContent(const std::string& a, const std::string& b) {
  std::ifstream first(a, std::ios::binary);
  std::ifstream second(b, std::ios::binary);
  std::vector<char> x(1 << 20);
  std::vector<char> y(1 << 20);
  while (first && second) {
    first.read(x.data(), static_cast<std::streamsize>(x.size()));
    second.read(y.data(), static_cast<std::streamsize>(y.size()));
    if (first.gcount() != second.gcount() || !std::equal(x.begin(), x.begin() + first.gcount(), y.begin())) {
      return false;
    }
  }
  return first.eof() && second.eof();
}

// Reads "--name N" pairs into the matching numbers. Anything else, or a value that is not a
// whole number, prints the usage and gives false.
inline bool ReadNumberOptions(int argc, char** argv,
                              std::initializer_list<std::pair<std::string_view, long*>> options) {
  for (int i = 1; i < argc; ++i) {
    long* target = nullptr;
    for (const auto& [name, value] : options) target = argv[i] == name ? value : target;
    char* end = nullptr;
    if (target != nullptr && i + 1 < argc) *target = std::strtol(argv[++i], &end, 10);
    if (end == nullptr || end == argv[i] || *end != '\0') {
      std::string usage = "usage: " + std::string(argv[0]);
      for (const auto& option : options) usage += " [" + std::string(option.first) + " N]";
      std::fprintf(stderr, "%s\n", usage.c_str());
      return false;
    }
  }
  return true;
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
