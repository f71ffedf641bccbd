// `sieve` at a terminal: the password prompt does not echo, the terminal is
// left as it was, the progress bar stays on standard error, and Ctrl-C during
// the slow key derivation ends the program at once without leaving anything.
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
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace sieve::test {
namespace {

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
// `stdoutPath` as standard output; types `typed` once the prompt is shown, then
// calls `after`. `environment` entries ("NAME=value") are added to the program's.
TerminalRun RunOnTerminal(const std::vector<std::string>& args, const std::string& typed,
                          const std::string& stdoutPath, const AfterTyping& after = {},
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
  std::vector<std::string> argv{SIEVE_CLI};
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
  while (result.screen.find("Password for") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    ReadAvailable(master, result.screen, 100);
  }
  const std::string line = typed + "\n";
  if (::write(master, line.data(), line.size()) != static_cast<ssize_t>(line.size())) ADD_FAILURE() << "write";
  const auto typedAt = std::chrono::steady_clock::now();
  if (after) after(pid);
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

TEST(SieveTerminal, CtrlCDuringTheKeyDerivationEndsAtOnceAndLeavesNothing) {
  TempDir dir;
  constexpr char kPassword[] = "slow-bag-pass";
  const std::string passwordFile = WritePasswordFile(dir, kPassword);
  // Half the rounds devices use: still a second or more to derive, so Ctrl-C lands inside it.
  const GeneratedBackup backup = MakeBackup(dir, "slow",
      {"--profile", "small", "--manifest-db", "--encrypted", "--password-file", passwordFile,
       "--double-protection", "--dp-iterations", "5000000"});
  const std::string tmp = dir.Join("tmp");
  std::filesystem::create_directory(tmp);
  const std::string out = dir.Join("stdout");

  for (const char* command : {"files", "scan", "key"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args{command, backup.Folder};
    if (std::string(command) == "key") args.insert(args.end(), {"-o", dir.Join("key")});
    const TerminalRun run = RunOnTerminal(
        args, kPassword, out,
        [](pid_t pid) {
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
          ::kill(pid, SIGINT);
        },
        {"TMPDIR=" + tmp});
    EXPECT_EQ(run.signal, SIGINT) << run.screen;
    // Told why nothing seems to happen.
    EXPECT_NE(run.screen.find("checking the password"), std::string::npos) << run.screen;
    // The derivation alone takes over a second; ending well before that means it was cut short.
    EXPECT_LT(run.secondsAfterTyping, 0.9) << run.screen;
    EXPECT_TRUE(run.echoAfter);
    EXPECT_TRUE(ReadFile(out).empty()) << "the command went on after Ctrl-C";
    EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "left in TMPDIR: " << ListFilesBelow(tmp).size() << " files";
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Join("key")));

  // Typed again without Ctrl-C, the same derivation runs to its end.
  const TerminalRun whole = RunOnTerminal({"files", backup.Folder}, kPassword, out, {}, {"TMPDIR=" + tmp});
  EXPECT_EQ(whole.exitCode, 0) << whole.screen;
  EXPECT_NE(ReadFile(out).find("HomeDomain"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

}  // namespace
}  // namespace sieve::test
