// `sieve` on backups of the newer layout (Manifest.db): an encrypted index that
// even `files` needs the password for, the derived key written by `sieve key`
// and given back with --key-file, and the reader's warnings on a backup that
// was not finished.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace sieve::test {
namespace {

constexpr char kPassword[] = "Newer layout ✓ 10.3";

class SieveNewerLayout : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    passwordFile_ = WritePasswordFile(*dir_, kPassword);
    // A two-stage key bag as iOS 10.2 and later write, with few rounds so the test stays quick.
    encrypted_ = MakeBackup(*dir_, "encrypted",
                            {"--profile", "small", "--seed", "4", "--manifest-db", "--encrypted", "--password-file",
                             passwordFile_, "--double-protection", "--dp-iterations", "1000"});
    plain_ = MakeBackup(*dir_, "plain", {"--profile", "small", "--seed", "4", "--manifest-db"});
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  // Writes the key of the encrypted backup to a new file and returns its path.
  static std::string WriteKey(const std::string& name) {
    const std::string path = dir_->Join(name);
    const CommandResult run = RunSieve({"key", encrypted_.Folder, "-o", path, "--password-file", passwordFile_});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    return path;
  }

  static TempDir* dir_;
  static std::string passwordFile_;
  static GeneratedBackup encrypted_;
  static GeneratedBackup plain_;
};

TempDir* SieveNewerLayout::dir_ = nullptr;
std::string SieveNewerLayout::passwordFile_;
GeneratedBackup SieveNewerLayout::encrypted_;
GeneratedBackup SieveNewerLayout::plain_;

// Domain and path of every entry `files --json` listed.
std::set<std::string> ListedPaths(const CommandResult& run) {
  std::set<std::string> paths;
  for (const JsonValue& e : ParseJson(run.Out).Items) paths.insert(e.Text("domain") + "/" + e.Text("path"));
  return paths;
}

// Scan output without what differs between two runs: the names of the scans'
// private folders and the time taken.
std::string ScanWithoutRunDetails(const std::string& out) {
  static const std::regex kPrivateFolder("/sieve-[^/\"]+/");
  static const std::regex kElapsed("\"elapsed_seconds\":[0-9.e+-]+");
  static const std::regex kTook(" in [0-9.]+ s\n");
  return std::regex_replace(std::regex_replace(std::regex_replace(out, kPrivateFolder, "/sieve-X/"), kElapsed, ""),
                            kTook, "\n");
}

// Relative path -> bytes of every file below folder.
std::vector<std::pair<std::string, std::string>> FilesBelow(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& rel : ListFilesBelow(folder)) files.emplace_back(rel, ReadFile(folder + "/" + rel));
  return files;
}

TEST_F(SieveNewerLayout, FilesOfAnEncryptedIndexNeedThePassword) {
  const std::set<std::string> truth = [] {
    std::set<std::string> paths;
    for (const TruthFile& f : ReadTruthFiles(encrypted_.TruthPath)) paths.insert(f.Domain + "/" + f.Path);
    return paths;
  }();

  // No way to ask (no terminal): the same usage error as the other commands, naming the options.
  const CommandResult none = RunSieve({"files", encrypted_.Folder, "--json"});
  EXPECT_EQ(none.ExitCode, 2);
  EXPECT_EQ(none.Out, "");
  EXPECT_NE(none.Err.find("--key-file"), std::string::npos) << none.Err;

  const CommandResult wrong = RunSieve({"files", encrypted_.Folder, "--json", "--password-stdin"}, "not it\n");
  EXPECT_EQ(wrong.ExitCode, 3);
  EXPECT_EQ(wrong.Out, "");
  EXPECT_EQ(wrong.Err, "sieve: wrong password\n");

  const CommandResult right = RunSieve({"files", encrypted_.Folder, "--json", "--password-file", passwordFile_});
  ASSERT_EQ(right.ExitCode, 0) << right.Err;
  EXPECT_EQ(ListedPaths(right), truth);

  // The plain one of the same seed lists the same entries without any password.
  const CommandResult plain = RunSieve({"files", plain_.Folder, "--json"});
  ASSERT_EQ(plain.ExitCode, 0) << plain.Err;
  EXPECT_EQ(ListedPaths(plain), truth);
}

TEST_F(SieveNewerLayout, ASavedKeyOpensTheBackupAsThePasswordDoes) {
  const std::string key = WriteKey("key");
  struct stat st {};
  ASSERT_EQ(::stat(key.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  const std::string text = ReadFile(key);
  EXPECT_TRUE(std::regex_match(text, std::regex("[0-9a-f]{64}\n"))) << text;
  EXPECT_EQ(text.find(kPassword), std::string::npos);

  TempDir out;
  const auto run = [&](const std::string& command, const std::vector<std::string>& secret, const std::string& tag) {
    if (command == "extract") {
      std::vector<std::string> args{"extract", encrypted_.Folder, "HomeDomain", "Library/AddressBook/AddressBook.sqlitedb",
                                    "-o", out.Join("extract-" + tag)};
      args.insert(args.end(), secret.begin(), secret.end());
      return RunSieve(args);
    }
    if (command == "unpack") {
      std::vector<std::string> args{"unpack", encrypted_.Folder, "-o", out.Join("unpack-" + tag)};
      args.insert(args.end(), secret.begin(), secret.end());
      return RunSieve(args);
    }
    std::vector<std::string> args{command, encrypted_.Folder, "--json"};
    args.insert(args.end(), secret.begin(), secret.end());
    return RunSieve(args);
  };
  for (const std::string command : {"files", "scan", "extract", "unpack"}) {
    SCOPED_TRACE(command);
    const CommandResult byPassword = run(command, {"--password-file", passwordFile_}, "password");
    const CommandResult byKey = run(command, {"--key-file", key}, "key");
    ASSERT_EQ(byPassword.ExitCode, 0) << byPassword.Err;
    ASSERT_EQ(byKey.ExitCode, 0) << byKey.Err;
    if (command != "extract" && command != "unpack") {
      EXPECT_FALSE(byKey.Out.empty());
    }
    EXPECT_EQ(ScanWithoutRunDetails(byKey.Out), ScanWithoutRunDetails(byPassword.Out));
    EXPECT_EQ(ScanWithoutRunDetails(byKey.Err), ScanWithoutRunDetails(byPassword.Err));

    // A key of the right form that is not this backup's: wrong, like a wrong password, and nothing written.
    std::string other = text;
    other[0] = other[0] == '0' ? '1' : '0';
    WriteFile(dir_->Join("other-key"), other);
    const CommandResult wrong = run(command, {"--key-file", dir_->Join("other-key")}, "wrong");
    EXPECT_EQ(wrong.ExitCode, 3);
    EXPECT_EQ(wrong.Out, "");
    EXPECT_EQ(wrong.Err.rfind("sieve: wrong key", 0), 0u) << wrong.Err;
  }
  EXPECT_EQ(ReadFile(out.Join("extract-key")), ReadFile(out.Join("extract-password")));
  EXPECT_EQ(FilesBelow(out.Join("unpack-key")), FilesBelow(out.Join("unpack-password")));
  EXPECT_FALSE(FilesBelow(out.Join("unpack-key")).empty());
  EXPECT_FALSE(std::filesystem::exists(out.Join("extract-wrong")));
  EXPECT_FALSE(std::filesystem::exists(out.Join("unpack-wrong")));

  // A key and a password together are a mistake, whichever password option it is.
  for (const std::vector<std::string>& both : {std::vector<std::string>{"--password-file", passwordFile_},
                                               std::vector<std::string>{"--password-stdin"}}) {
    std::vector<std::string> args{"scan", encrypted_.Folder, "--key-file", key};
    args.insert(args.end(), both.begin(), both.end());
    const CommandResult mixed = RunSieve(args, std::string(kPassword) + "\n");
    EXPECT_EQ(mixed.ExitCode, 2);
    EXPECT_EQ(mixed.Out, "");
  }
}

TEST_F(SieveNewerLayout, TheKeyFileIsWrittenWholeOrNotAtAll) {
  TempDir out;
  const std::string key = out.Join("key");
  // Refused before the slow derivation: an existing file, a folder, a missing folder.
  WriteFile(key, "keep me\n");
  std::filesystem::create_directory(out.Join("folder"));
  for (const std::string& target : {key, out.Join("folder"), out.Join("absent/key")}) {
    SCOPED_TRACE(target);
    const CommandResult refused = RunSieve({"key", encrypted_.Folder, "-o", target, "--password-file", passwordFile_});
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_EQ(refused.Err.rfind("sieve: ", 0), 0u);
    EXPECT_EQ(refused.Err.find('\n'), refused.Err.size() - 1) << refused.Err;
  }
  EXPECT_EQ(ReadFile(key), "keep me\n");

  // --force replaces it, with the owner's mode whatever the old file had.
  ::chmod(key.c_str(), 0644);
  const CommandResult forced =
      RunSieve({"key", encrypted_.Folder, "-o", key, "--force", "--password-file", passwordFile_});
  ASSERT_EQ(forced.ExitCode, 0) << forced.Err;
  EXPECT_EQ(ReadFile(key), ReadFile(WriteKey("same-key")));
  struct stat st {};
  ASSERT_EQ(::stat(key.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  // A wrong password, a plain backup, a key file given to `key`: no file at all.
  const std::string target = out.Join("new-key");
  const CommandResult wrong = RunSieve({"key", encrypted_.Folder, "-o", target, "--password-stdin"}, "not it\n");
  EXPECT_EQ(wrong.ExitCode, 3);
  const CommandResult plain = RunSieve({"key", plain_.Folder, "-o", target});
  EXPECT_EQ(plain.ExitCode, 1);
  EXPECT_NE(plain.Err.find("not encrypted"), std::string::npos) << plain.Err;
  const CommandResult fromKey = RunSieve({"key", encrypted_.Folder, "-o", target, "--key-file", key});
  EXPECT_EQ(fromKey.ExitCode, 2);
  const CommandResult noTarget = RunSieve({"key", encrypted_.Folder, "--password-file", passwordFile_});
  EXPECT_EQ(noTarget.ExitCode, 2);
  // Only the files this test made: no temporary name was left behind.
  EXPECT_EQ(ListFilesBelow(out.Path()), (std::vector<std::string>{"key"}));
}

// The "sieve: warning:" lines of standard error.
std::vector<std::string> WarningLines(const std::string& err) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = err.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = err.substr(start, end - start);
    if (line.rfind("sieve: warning: ", 0) == 0) lines.push_back(line.substr(16));
  }
  return lines;
}

TEST(SieveWarnings, AnUnfinishedBackupIsToldByInfoAndAfterEveryIndexRead) {
  TempDir dir;
  const GeneratedBackup backup = MakeBackup(
      dir, "unfinished", {"--profile", "small", "--manifest-db", "--snapshot-state", "uploading", "--incremental"});
  const GeneratedBackup finished = MakeBackup(dir, "finished", {"--profile", "small", "--manifest-db"});
  const GeneratedBackup old = MakeBackup(dir, "old", {"--profile", "small"});

  const CommandResult json = RunSieve({"info", backup.Folder, "--json"});
  ASSERT_EQ(json.ExitCode, 0) << json.Err;
  const JsonValue shown = ParseJson(json.Out);
  EXPECT_EQ(shown.Text("layout"), "Manifest.db");
  std::vector<std::string> warnings;
  for (const JsonValue& w : shown["warnings"].Items) warnings.push_back(w.String);
  ASSERT_EQ(warnings.size(), 2u) << json.Out;
  EXPECT_NE(warnings[0].find("uploading"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("not a full backup"), std::string::npos) << warnings[1];
  EXPECT_EQ(json.Err, "");  // info shows them as part of its answer
  const CommandResult text = RunSieve({"info", backup.Folder});
  EXPECT_NE(text.Out.find("Layout:         Manifest.db"), std::string::npos) << text.Out;
  EXPECT_NE(text.Out.find("Warnings:       " + warnings[0]), std::string::npos) << text.Out;
  EXPECT_NE(text.Out.find(warnings[1]), std::string::npos) << text.Out;

  TempDir out;
  const std::vector<std::vector<std::string>> commands = {
      {"files", backup.Folder},
      {"scan", backup.Folder},
      {"extract", backup.Folder, "HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", "-o", out.Join("ab")},
      {"unpack", backup.Folder, "-o", out.Join("all")},
  };
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    const CommandResult run = RunSieve(args);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(WarningLines(run.Err), warnings);
    EXPECT_EQ(run.Out.find("warning"), std::string::npos);
  }

  // A finished full backup, and one of the old layout without Status.plist, have nothing to say.
  for (const GeneratedBackup* quiet : {&finished, &old}) {
    const CommandResult info = RunSieve({"info", quiet->Folder, "--json"});
    ASSERT_EQ(info.ExitCode, 0) << info.Err;
    EXPECT_TRUE(ParseJson(info.Out)["warnings"].Items.empty()) << info.Out;
    const CommandResult scan = RunSieve({"scan", quiet->Folder});
    EXPECT_TRUE(WarningLines(scan.Err).empty()) << scan.Err;
  }
  EXPECT_EQ(ParseJson(RunSieve({"info", old.Folder, "--json"}).Out).Text("layout"), "Manifest.mbdb");
  // Without an index the layout is null, and scanning says why it cannot.
  std::filesystem::remove(finished.Folder + "/Manifest.db");
  EXPECT_TRUE(ParseJson(RunSieve({"info", finished.Folder, "--json"}).Out)["layout"].IsNull());
  const CommandResult noIndex = RunSieve({"scan", finished.Folder});
  EXPECT_EQ(noIndex.ExitCode, 1);
  EXPECT_EQ(noIndex.Out, "");
  EXPECT_NE(noIndex.Err.find("no file index"), std::string::npos) << noIndex.Err;
}

}  // namespace
}  // namespace sieve::test
