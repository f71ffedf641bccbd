// `sieve` at a terminal: the password prompt does not echo, the terminal is
// left as it was, and the progress bar stays on standard error.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace sieve::test {
namespace {

struct TerminalRun {
  int exitCode = -1;
  std::string screen;  // everything the program wrote to the terminal
  bool echoAfter = false;
};

// Appends what the program wrote to the terminal, waiting up to `ms`.
void ReadAvailable(int master, std::string& screen, int ms) {
  pollfd p{master, POLLIN, 0};
  while (::poll(&p, 1, ms) > 0) {
    char buffer[4096];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) return;
    screen.append(buffer, static_cast<std::size_t>(n));
    ms = 0;
  }
}

// Runs sieve with a pseudo-terminal as standard input and standard error and
// `stdoutPath` as standard output; types `typed` once the prompt is shown.
TerminalRun RunOnTerminal(const std::vector<std::string>& args, const std::string& typed,
                          const std::string& stdoutPath) {
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
  std::vector<std::string> argv{SIEVE_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ::close(slaveHere);
    ::close(master);
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (result.screen.find("Password for") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    ReadAvailable(master, result.screen, 100);
  }
  const std::string line = typed + "\n";
  if (::write(master, line.data(), line.size()) != static_cast<ssize_t>(line.size())) ADD_FAILURE() << "write";
  int status = 0;
  bool exited = false;
  while (!exited && std::chrono::steady_clock::now() < deadline) {
    ReadAvailable(master, result.screen, 100);
    exited = ::waitpid(pid, &status, WNOHANG) == pid;
  }
  if (!exited) {
    ADD_FAILURE() << "sieve did not end; screen: " << result.screen;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  ReadAvailable(master, result.screen, 0);
  result.exitCode = exited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  // The terminal keeps the settings the program left on it.
  termios settings{};
  result.echoAfter = ::tcgetattr(slaveHere, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
  ::close(slaveHere);
  ::close(master);
  return result;
}

TEST(SieveTerminal, PromptsWithoutEchoAndRestoresTheTerminal) {
  TempDir dir;
  constexpr char kPassword[] = "Typed-at-the-prompt-42";
  const std::string passwordFile = WritePasswordFile(dir, kPassword);
  const GeneratedBackup backup = MakeBackup(dir, "encrypted",
      {"--profile", "sample", "--seed", "2", "--encrypted", "--password-file", passwordFile});
  const std::string out = dir.Join("stdout");

  const TerminalRun good = RunOnTerminal({"scan", backup.Folder, "--json"}, kPassword, out);
  EXPECT_EQ(good.exitCode, 0) << good.screen;
  EXPECT_NE(good.screen.find("Password for"), std::string::npos);
  EXPECT_EQ(good.screen.find(kPassword), std::string::npos) << "the password was echoed";
  EXPECT_TRUE(good.echoAfter);
  // Standard output holds the records and nothing of the progress bar.
  const std::string records = ReadFile(out);
  EXPECT_NO_THROW(ParseJsonLines(records));
  EXPECT_EQ(records.find('\r'), std::string::npos);
  EXPECT_EQ(records.find("\x1b[K"), std::string::npos);

  const TerminalRun wrong = RunOnTerminal({"scan", backup.Folder}, "not-it", out);
  EXPECT_EQ(wrong.exitCode, 3) << wrong.screen;
  EXPECT_NE(wrong.screen.find("sieve: wrong password"), std::string::npos) << wrong.screen;
  EXPECT_TRUE(wrong.echoAfter);
}

}  // namespace
}  // namespace sieve::test
