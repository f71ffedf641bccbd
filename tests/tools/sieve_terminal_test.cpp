// `sieve` at a terminal: the password prompt does not echo and asks again
// after a wrong password, the terminal is left as it was, progress bars stay on
// standard error, Ctrl-C during the slow key derivation ends the program
// at once without leaving anything, and no signal during a scan leaves a
// decrypted copy behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tools/sieve_cli.h"
#include "tools/terminal_run.h"

namespace sieve::test {
namespace {

// Runs sieve at a terminal, typing one line at each password prompt.
TerminalRun RunOnTerminal(const std::vector<std::string>& args, const std::vector<std::string>& typed,
                          const std::string& stdoutPath, const AfterTyping& after = {},
                          const std::vector<std::string>& environment = {}) {
  return RunProgramOnTerminal(SIEVE_CLI, args, typed, stdoutPath, after, environment);
}

TEST(SieveTerminal, PromptsWithoutEchoAndRestoresTheTerminal) {
  TempDir dir;
  const GeneratedBackup& backup = Shared().encrypted;
  const std::string out = dir.Join("stdout");

  const TerminalRun good = RunOnTerminal({"scan", backup.Folder, "--json"}, {kPassword}, out);
  EXPECT_EQ(good.exitCode, 0) << good.screen;
  EXPECT_NE(good.screen.find("Password for"), std::string::npos);
  EXPECT_EQ(good.screen.find(kPassword), std::string::npos) << "the password was echoed";
  EXPECT_TRUE(good.echoAfter);
  // Standard output holds the records and nothing of the progress bar.
  const std::string records = ReadFile(out);
  EXPECT_NO_THROW(ParseJsonLines(records));
  EXPECT_EQ(records.find('\r'), std::string::npos);
  EXPECT_EQ(records.find("\x1b[K"), std::string::npos);

  // A mistyped password is asked again, as ssh and sudo do: three tries in all.
  const struct {
    std::vector<std::string> typed;
    int exitCode;
    std::size_t prompts;
  } attempts[] = {
      {{"not-it", "still-not-it", kPassword}, 0, 3},
      {{"not-it", "not-it", "not-it"}, 3, 3},
  };
  for (const auto& a : attempts) {
    SCOPED_TRACE(::testing::PrintToString(a.typed));
    const TerminalRun run = RunOnTerminal({"scan", backup.Folder}, a.typed, out);
    EXPECT_EQ(run.exitCode, a.exitCode) << run.screen;
    EXPECT_EQ(Occurrences(run.screen, "Password for"), a.prompts) << run.screen;
    EXPECT_EQ(Occurrences(run.screen, "sieve: wrong password, try again"), 2u) << run.screen;
    EXPECT_EQ(run.screen.find("not-it"), std::string::npos) << "a password was echoed";
    EXPECT_TRUE(run.echoAfter);
    if (a.exitCode == 0) {
      EXPECT_NE(ReadFile(out).find("contacts"), std::string::npos);
    } else {
      EXPECT_EQ(run.screen.substr(run.screen.rfind("sieve: ")), "sieve: wrong password\r\n");
    }
  }
}

TEST(SieveTerminal, UnpackShowsItsProgressOnTheTerminalOnly) {
  TempDir dir;
  const GeneratedBackup& backup = Shared().plain;
  const std::string out = dir.Join("stdout");
  const TerminalRun shown = RunOnTerminal({"unpack", backup.Folder, "-o", dir.Join("all")}, {}, out);
  EXPECT_EQ(shown.exitCode, 0) << shown.screen;
  EXPECT_NE(shown.screen.find("] 100%"), std::string::npos) << shown.screen;
  EXPECT_NE(shown.screen.find("\r\x1b[K"), std::string::npos) << "the bar is not cleared";
  EXPECT_NE(shown.screen.find("sieve: written "), std::string::npos) << shown.screen;
  EXPECT_EQ(ReadFile(out), "");
  // -q: nothing at all on a good run; without a terminal, no bar.
  const TerminalRun quiet = RunOnTerminal({"-q", "unpack", backup.Folder, "-o", dir.Join("quiet")}, {}, out);
  EXPECT_EQ(quiet.exitCode, 0) << quiet.screen;
  EXPECT_EQ(quiet.screen, "");
  const CommandResult piped = Succeeds({"unpack", backup.Folder, "-o", dir.Join("piped")});
  EXPECT_EQ(piped.Err.find('\r'), std::string::npos) << piped.Err;
}

TEST(SieveTerminal, CtrlCDuringTheKeyDerivationEndsAtOnceAndLeavesNothing) {
  TempDir dir;
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
        args, {kPassword}, out,
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
  const TerminalRun whole = RunOnTerminal({"files", backup.Folder}, {kPassword}, out, {}, {"TMPDIR=" + tmp});
  EXPECT_EQ(whole.exitCode, 0) << whole.screen;
  EXPECT_NE(ReadFile(out).find("HomeDomain"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
}


TEST(SieveTerminal, NoSignalDuringAScanLeavesADecryptedCopy) {
  TempDir dir;
  const std::string password = WritePasswordFile(dir, "signals-pass-1");
  // Enough messages that the scan runs a few seconds with its copies in place.
  const GeneratedBackup backup = MakeBackup(
      dir, "encrypted", {"--profile", "small", "--encrypted", "--password-file", password, "--messages", "8000"});
  const std::string tmp = dir.Join("tmp");
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
    SCOPED_TRACE(strsignal(signal));
    std::filesystem::remove_all(tmp);
    std::filesystem::create_directory(tmp);
    bool copied = false;
    std::chrono::steady_clock::time_point sent;
    const TerminalRun run = RunOnTerminal(
        {"scan", backup.Folder, "--json", "--password-file", password}, {}, dir.Join("stdout"),
        [&](pid_t pid) {
          copied = WaitForAFile(tmp);
          sent = std::chrono::steady_clock::now();
          ::kill(pid, signal);
        },
        {"TMPDIR=" + tmp});
    ASSERT_TRUE(copied) << "no decrypted copy appeared";
    // A stop reaches the scan inside its long loops, not only between its steps (which
    // took seconds); the bound leaves room for a loaded machine.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count(), 3.0);
    // Interrupted, not finished: stopped with a failure, or ended by the signal.
    EXPECT_TRUE(run.signal != 0 || run.exitCode == 1) << run.screen;
    // Only SIGKILL leaves the folder (no handler runs): the next start sweeps it away.
    EXPECT_EQ(std::filesystem::is_empty(tmp), signal != SIGKILL) << ListFilesBelow(tmp).size() << " files left";
  }
  const CommandResult next = Succeeds({"scan", backup.Folder, "--password-file", password}, {}, {"TMPDIR=" + tmp});
  EXPECT_TRUE(std::filesystem::is_empty(tmp)) << ListFilesBelow(tmp).size() << " files left";
}

}  // namespace
}  // namespace sieve::test
