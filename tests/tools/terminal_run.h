// Runs a program with a pseudo-terminal as standard input and standard error,
// typing a line at each password prompt: what sieve and quarry do at a
// terminal can only be seen there.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace sieve::test {

struct TerminalRun {
  int exitCode = -1;
  int signal = 0;      // the signal that ended it, or 0
  std::string screen;  // everything the program wrote to the terminal
  bool echoAfter = false;
  double secondsAfterTyping = 0;  // from the typed line to the end of the program
};

// What to do once the password is typed, with the program's process id.
using AfterTyping = std::function<void(pid_t)>;

// Appends what the program wrote to the terminal, waiting up to `ms`.
inline void ReadAvailable(int master, std::string& screen, int ms) {
  pollfd p{master, POLLIN, 0};
  while (::poll(&p, 1, ms) > 0) {
    char buffer[4096];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) return;
    screen.append(buffer, static_cast<std::size_t>(n));
    ms = 0;
  }
}

inline std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// Runs `program` with a pseudo-terminal as standard input and standard error and
// `stdoutPath` as standard output; types each line of `typed` once the next
// "Password for" prompt is shown, then calls `after`. `environment` entries
// ("NAME=value") are added to the program's.
inline TerminalRun RunProgramOnTerminal(const std::string& program, const std::vector<std::string>& args,
                                        const std::vector<std::string>& typed, const std::string& stdoutPath,
                                        const AfterTyping& after = {},
                                        const std::vector<std::string>& environment = {}) {
  TerminalRun result;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return result;
  const std::string slave = ::ptsname(master);
  // Held open here as well, so that the master side never ends before the program opens it.
  const int slaveHere = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, slave.c_str(), O_RDWR | O_NOCTTY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, slave.c_str(), O_RDWR | O_NOCTTY, 0);
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  std::vector<std::string> env(environment);
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  std::vector<char*> envPointers;
  for (std::string& e : env) envPointers.push_back(e.data());
  envPointers.push_back(nullptr);
  // Ctrl-C as at an interactive shell, even when this test was started with it ignored.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, pointers.data(), envPointers.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ::close(slaveHere);
    ::close(master);
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (std::size_t i = 0; i < typed.size(); ++i) {
    while (Occurrences(result.screen, "Password for") <= i && std::chrono::steady_clock::now() < deadline) {
      ReadAvailable(master, result.screen, 100);
    }
    const std::string line = typed[i] + "\n";
    if (::write(master, line.data(), line.size()) != static_cast<ssize_t>(line.size())) ADD_FAILURE() << "write";
  }
  const auto typedAt = std::chrono::steady_clock::now();
  if (after) after(pid);
  int status = 0;
  bool exited = false;
  while (!exited && std::chrono::steady_clock::now() < deadline) {
    ReadAvailable(master, result.screen, 100);
    exited = ::waitpid(pid, &status, WNOHANG) == pid;
  }
  if (!exited) {
    ADD_FAILURE() << program << " did not end; screen: " << result.screen;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  result.secondsAfterTyping = std::chrono::duration<double>(std::chrono::steady_clock::now() - typedAt).count();
  ReadAvailable(master, result.screen, 0);
  result.exitCode = exited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = exited && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  // The terminal keeps the settings the program left on it.
  termios settings{};
  result.echoAfter = ::tcgetattr(slaveHere, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
  ::close(slaveHere);
  ::close(master);
  return result;
}

// True once a file stands anywhere below `folder` (a decrypted copy in the private folder).
inline bool WaitForAFile(const std::string& folder) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < until) {
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->is_regular_file(ec)) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

}  // namespace sieve::test
