// `sieve` interrupted by a signal while it scans an encrypted backup, with decrypted copies in
// its private folder: nothing of them may stay, and a process killed outright leaves a folder
// that the next start removes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace sieve::test {
namespace {

namespace fs = std::filesystem;

// Starts sieve with TMPDIR set and its output thrown away; returns its pid.
pid_t StartSieve(const std::vector<std::string>& args, const std::string& tmp) {
  std::vector<std::string> env{"TMPDIR=" + tmp};
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("TMPDIR=", 0) != 0) env.emplace_back(*e);
  }
  std::vector<char*> argv{const_cast<char*>(SIEVE_CLI)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // A signal ignored by whoever started the test (a shell's background job) must reach sieve.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, s);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (posix_spawn(&pid, SIEVE_CLI, &actions, &attributes, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

// True once a file stands anywhere below `folder` (a decrypted copy in the private folder).
bool WaitForAFile(const std::string& folder) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < until) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->is_regular_file(ec)) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST(SieveSignals, EachSignalDuringAScanRemovesTheDecryptedCopies) {
  TempDir dir;
  const std::string password = WritePasswordFile(dir, "signals-pass-1");
  // Enough messages that the scan runs a few seconds with its copies in place.
  const GeneratedBackup backup = MakeBackup(
      dir, "encrypted", {"--profile", "small", "--encrypted", "--password-file", password, "--messages", "8000"});
  const std::string tmp = dir.Join("tmp");
  struct Case {
    int signal;
    bool leavesItsFolder;  // no handler can run: the next start has to clean up
  };
  const Case cases[] = {{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGKILL, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(strsignal(c.signal));
    fs::remove_all(tmp);
    fs::create_directory(tmp);
    const pid_t pid = StartSieve({"scan", backup.Folder, "--json", "--password-file", password}, tmp);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForAFile(tmp)) << "no decrypted copy appeared";
    ASSERT_EQ(::kill(pid, c.signal), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    // Interrupted, not finished: stopped with a failure, or ended by the signal itself.
    EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 1)) << status;
    EXPECT_EQ(fs::is_empty(tmp), !c.leavesItsFolder) << ListFilesBelow(tmp).size() << " files left";
    if (c.leavesItsFolder) {
      // The next scan sweeps away the folder of the process that is gone, and leaves none of its own.
      const CommandResult next = RunSieve({"scan", backup.Folder, "--password-file", password}, {}, {"TMPDIR=" + tmp});
      EXPECT_EQ(next.ExitCode, 0) << next.Err;
      EXPECT_TRUE(fs::is_empty(tmp)) << ListFilesBelow(tmp).size() << " files left";
    }
  }
}

}  // namespace
}  // namespace sieve::test
