// What the tests of the `sieve` command line share: the one-line failure they all
// expect, and the generated backups most of them read, made once per program.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/test_support.h"

namespace sieve::test {

// Not ASCII, with spaces: a password is bytes of UTF-8, taken whole.
inline constexpr char kPassword[] = "Quarry s3cret ✓ 7781";

// Exactly one line, "sieve: ..." - what every failure must print.
inline ::testing::AssertionResult OneErrorLine(const CommandResult& run) {
  if (run.Err.rfind("sieve: ", 0) == 0 && run.Err.find('\n') == run.Err.size() - 1) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "stderr is not one \"sieve:\" line: [" << run.Err << "]";
}

// Runs sieve, expecting it to fail with `code`, one error line and nothing on standard output.
inline CommandResult Fails(int code, const std::vector<std::string>& args, std::string_view input = {},
                           const std::vector<std::string>& environment = {}) {
  CommandResult run = RunSieve(args, input, environment);
  EXPECT_EQ(run.ExitCode, code) << ::testing::PrintToString(args);
  EXPECT_TRUE(OneErrorLine(run)) << ::testing::PrintToString(args);
  EXPECT_EQ(run.Out, "") << ::testing::PrintToString(args);
  return run;
}

// Runs sieve, expecting it to succeed.
inline CommandResult Succeeds(const std::vector<std::string>& args, std::string_view input = {},
                              const std::vector<std::string>& environment = {}) {
  CommandResult run = RunSieve(args, input, environment);
  EXPECT_EQ(run.ExitCode, 0) << ::testing::PrintToString(args) << run.Err;
  return run;
}

inline std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The sample profile of one seed in both layouts, plain and encrypted with kPassword; the
// newer layout (Manifest.db) with the odd rows real devices write besides the ordinary ones.
struct SharedBackups {
  TempDir dir;
  std::string passwordFile = WritePasswordFile(dir, kPassword);
  std::vector<std::string> secret{"--password-file", passwordFile};
  GeneratedBackup plain = MakeBackup(dir, "plain", {"--profile", "sample", "--seed", "5"});
  GeneratedBackup encrypted = MakeBackup(dir, "encrypted", Join({"--profile", "sample", "--seed", "5", "--encrypted"}, secret));
  GeneratedBackup newerPlain = MakeBackup(
      dir, "newer-plain", {"--profile", "sample", "--seed", "5", "--manifest-db", "--odd-rows", "--product-version", "9.3.2"});
  GeneratedBackup newerEncrypted = MakeBackup(
      dir, "newer-encrypted", Join({"--profile", "sample", "--seed", "5", "--manifest-db", "--odd-rows", "--product-version",
                                    "9.3.2", "--encrypted", "--dp-iterations", "1000"}, secret));
};

inline const SharedBackups& Shared() {
  static const SharedBackups backups;
  return backups;
}

}  // namespace sieve::test
