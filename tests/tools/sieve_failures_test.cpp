// How `sieve` fails: wrong passwords, usage mistakes and folders that are not
// backups, each with its exit status and one clear line on standard error.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace sieve::test {
namespace {

constexpr char kPassword[] = "Quarry-s3cret-7781";
constexpr char kWrongPassword[] = "wrong-Pa55word-123";

// Exactly one line, "sieve: ..." - what every failure must print.
::testing::AssertionResult OneErrorLine(const CommandResult& run) {
  const bool one = run.Err.rfind("sieve: ", 0) == 0 && run.Err.find('\n') == run.Err.size() - 1;
  if (one) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "stderr is not one \"sieve:\" line: [" << run.Err << "]";
}

TEST(SievePassword, WrongPasswordWritesNothingAndNoPasswordIsEverShown) {
  TempDir dir;
  const std::string right = WritePasswordFile(dir, kPassword, "right");
  const std::string wrong = WritePasswordFile(dir, kWrongPassword, "wrong");
  const GeneratedBackup backup = MakeBackup(dir, "encrypted",
      {"--profile", "small", "--seed", "3", "--encrypted", "--password-file", right});
  const std::string out = dir.Join("out");
  std::vector<CommandResult> runs;
  const auto run = [&](const std::vector<std::string>& args, std::string_view input = {}) {
    runs.push_back(RunSieve(args, input));
    return runs.back();
  };

  const CommandResult extract = run({"extract", backup.Folder, "CameraRollDomain",
                                     "Media/DCIM/100APPLE/IMG_0001.JPG", "-o", out, "--password-file", wrong});
  EXPECT_EQ(extract.ExitCode, 3);
  EXPECT_TRUE(OneErrorLine(extract));
  EXPECT_FALSE(std::filesystem::exists(out));

  const CommandResult unpack = run({"unpack", backup.Folder, "-o", out, "--password-file", wrong});
  EXPECT_EQ(unpack.ExitCode, 3);
  EXPECT_TRUE(OneErrorLine(unpack));
  EXPECT_FALSE(std::filesystem::exists(out));

  const CommandResult scan = run({"scan", backup.Folder, "--json", "--password-stdin"}, std::string(kWrongPassword) + "\n");
  EXPECT_EQ(scan.ExitCode, 3);
  EXPECT_EQ(scan.Out, "");
  EXPECT_TRUE(OneErrorLine(scan));

  // Nothing decrypted anywhere: the folder holds what the test wrote and the backup.
  for (const std::string& f : ListFilesBelow(dir.Path())) {
    EXPECT_TRUE(f == "right" || f == "wrong" || f == "encrypted.truth.json" || f.rfind("encrypted/", 0) == 0) << f;
  }

  // The right password through standard input; only the first line counts.
  const CommandResult good = run({"scan", backup.Folder, "--password-stdin"}, std::string(kPassword) + "\nrest\n");
  EXPECT_EQ(good.ExitCode, 0) << good.Err;
  const CommandResult extracted = run({"extract", backup.Folder, "CameraRollDomain",
                                       "Media/DCIM/100APPLE/IMG_0001.JPG", "-o", out, "--password-file", right});
  EXPECT_EQ(extracted.ExitCode, 0) << extracted.Err;

  // No password source and no terminal: a usage error, not a hang.
  const CommandResult none = run({"scan", backup.Folder});
  EXPECT_EQ(none.ExitCode, 2);
  EXPECT_TRUE(OneErrorLine(none));
  EXPECT_NE(none.Err.find("--password-file"), std::string::npos);
  // A password as an argument value is refused without being echoed.
  for (const std::string& given : {std::string("--password=") + kPassword, std::string("--pass=") + kPassword}) {
    const CommandResult refused = run({"scan", backup.Folder, given});
    EXPECT_EQ(refused.ExitCode, 2);
    EXPECT_TRUE(OneErrorLine(refused));
  }
  const CommandResult both = run({"scan", backup.Folder, "--password-file", right, "--password-stdin"});
  EXPECT_EQ(both.ExitCode, 2);
  const CommandResult unreadable = run({"scan", backup.Folder, "--password-file", dir.Join("absent")});
  EXPECT_EQ(unreadable.ExitCode, 1);
  EXPECT_TRUE(OneErrorLine(unreadable));

  for (const CommandResult& r : runs) {
    for (const char* secret : {kPassword, kWrongPassword}) {
      EXPECT_EQ(r.Out.find(secret), std::string::npos) << "password on stdout";
      EXPECT_EQ(r.Err.find(secret), std::string::npos) << "password on stderr: " << r.Err;
    }
  }
}

TEST(SieveUsage, UsageMistakesAndFoldersThatAreNotBackups) {
  TempDir dir;
  const GeneratedBackup backup = MakeBackup(dir, "plain", {"--profile", "small", "--seed", "3"});
  const std::vector<std::vector<std::string>> mistakes = {
      {},
      {"frobnicate"},
      {"scan"},
      {"info", backup.Folder, backup.Folder},
      {"files", backup.Folder, "--bogus"},
      {"extract", backup.Folder, "HomeDomain", "Library/x"},
      {"list", "--json", "--json"},
      {"list", "--root"},
      {"scan", backup.Folder, "--json=yes"},
      {"help", "nothing"},
  };
  for (const auto& args : mistakes) {
    const CommandResult run = RunSieve(args);
    EXPECT_EQ(run.ExitCode, 2) << ::testing::PrintToString(args);
    EXPECT_TRUE(OneErrorLine(run)) << ::testing::PrintToString(args);
    EXPECT_EQ(run.Out, "");
  }
  const CommandResult help = RunSieve({"help"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_NE(help.Out.find("unpack BACKUP -o DIR"), std::string::npos);
  const CommandResult commandHelp = RunSieve({"scan", "--help"});
  EXPECT_EQ(commandHelp.ExitCode, 0);
  EXPECT_EQ(commandHelp.Out.rfind("usage: sieve scan", 0), 0u) << commandHelp.Out;

  WriteFile(dir.Join("a-file"), "x");
  std::filesystem::create_directory(dir.Join("empty"));
  for (const std::string& folder : {dir.Join("absent"), dir.Join("empty"), dir.Join("a-file")}) {
    for (const char* command : {"info", "files", "scan"}) {
      const CommandResult run = RunSieve({command, folder});
      EXPECT_EQ(run.ExitCode, 4) << command << " " << folder;
      EXPECT_TRUE(OneErrorLine(run));
    }
  }
  const CommandResult noRoot = RunSieve({"list", "--root", dir.Join("absent")});
  EXPECT_EQ(noRoot.ExitCode, 4);
  EXPECT_TRUE(OneErrorLine(noRoot));

  // The properties come from Info.plist and Manifest.plist as the generator wrote them.
  const JsonValue truth = ParseJson(ReadFile(backup.TruthPath))["backup"];
  const CommandResult info = RunSieve({"info", backup.Folder, "--json"});
  ASSERT_EQ(info.ExitCode, 0) << info.Err;
  const JsonValue shown = ParseJson(info.Out);
  EXPECT_EQ(shown.Text("name"), truth.Text("display_name"));
  EXPECT_EQ(shown.Text("device_name"), truth.Text("device_name"));
  EXPECT_EQ(shown.Text("product_type"), truth.Text("product_type"));
  EXPECT_EQ(shown.Text("product_version"), truth.Text("product_version"));
  EXPECT_EQ(shown.Text("serial_number"), truth.Text("serial_number"));
  EXPECT_FALSE(shown["encrypted"].Bool);
  const CommandResult text = RunSieve({"info", backup.Folder});
  EXPECT_NE(text.Out.find("Serial number:  " + truth.Text("serial_number")), std::string::npos) << text.Out;
}

}  // namespace
}  // namespace sieve::test
