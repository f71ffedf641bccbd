// `sieve` on backups of the newer layout (Manifest.db): an encrypted index that
// even `files` needs the password for, the derived key written by `sieve key`
// and given back with --key-file, and the reader's warnings on a backup that
// was not finished.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tools/sieve_cli.h"

namespace sieve::test {
namespace {

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

unsigned Mode(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// `sieve key` of the encrypted backup of the newer layout into `path`.
CommandResult WriteKey(const std::string& path, const std::vector<std::string>& more = {}) {
  return RunSieve(Join(Join({"key", Shared().newerEncrypted.Folder, "-o", path}, more), Shared().secret));
}

TEST(SieveNewerLayout, ASavedKeyOpensTheBackupAsThePasswordDoes) {
  TempDir out;
  const std::string key = out.Join("key");
  ASSERT_EQ(WriteKey(key).ExitCode, 0);
  EXPECT_EQ(Mode(key), 0600u);
  const std::string text = ReadFile(key);
  EXPECT_TRUE(std::regex_match(text, std::regex("[0-9a-f]{64}\n"))) << text;
  // A key of the right form that is not this backup's.
  std::string other = text;
  other[0] = other[0] == '0' ? '1' : '0';
  WriteFile(out.Join("other-key"), other);

  const std::string folder = Shared().newerEncrypted.Folder;
  const auto args = [&](const std::string& command, const std::string& tag) -> std::vector<std::string> {
    if (command == "extract") {
      return {"extract", folder, "HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", "-o", out.Join("extract-" + tag)};
    }
    if (command == "unpack") return {"unpack", folder, "-o", out.Join("unpack-" + tag)};
    return {command, folder, "--json"};
  };
  for (const std::string command : {"files", "scan", "extract", "unpack"}) {
    SCOPED_TRACE(command);
    const CommandResult byPassword = Succeeds(Join(args(command, "password"), Shared().secret));
    const CommandResult byKey = Succeeds(Join(args(command, "key"), {"--key-file", key}));
    EXPECT_EQ(byKey.Out.empty(), command == "extract" || command == "unpack");
    EXPECT_EQ(ScanWithoutRunDetails(byKey.Out), ScanWithoutRunDetails(byPassword.Out));
    EXPECT_EQ(ScanWithoutRunDetails(byKey.Err), ScanWithoutRunDetails(byPassword.Err));
    // Wrong, like a wrong password, and nothing written.
    const CommandResult wrong = Fails(3, Join(args(command, "wrong"), {"--key-file", out.Join("other-key")}));
    EXPECT_EQ(wrong.Err.rfind("sieve: wrong key", 0), 0u) << wrong.Err;
  }
  EXPECT_EQ(ReadFile(out.Join("extract-key")), ReadFile(out.Join("extract-password")));
  EXPECT_EQ(FilesBelow(out.Join("unpack-key")), FilesBelow(out.Join("unpack-password")));
  EXPECT_FALSE(FilesBelow(out.Join("unpack-key")).empty());
  EXPECT_FALSE(std::filesystem::exists(out.Join("extract-wrong")));
  EXPECT_FALSE(std::filesystem::exists(out.Join("unpack-wrong")));
}

TEST(SieveNewerLayout, TheKeyFileIsWrittenWholeOrNotAtAll) {
  TempDir out;
  const std::string folder = Shared().newerEncrypted.Folder;
  const std::string key = out.Join("key");
  // Refused: an existing file, a folder, a missing folder.
  WriteFile(key, "keep me\n");
  std::filesystem::create_directory(out.Join("folder"));
  for (const std::string& target : {key, out.Join("folder"), out.Join("absent/key")}) {
    SCOPED_TRACE(target);
    Fails(1, Join({"key", folder, "-o", target}, Shared().secret));
  }
  EXPECT_EQ(ReadFile(key), "keep me\n");

  // --force replaces it, with the owner's mode whatever the old file had.
  ::chmod(key.c_str(), 0644);
  ASSERT_EQ(WriteKey(key, {"--force"}).ExitCode, 0);
  ASSERT_EQ(WriteKey(out.Join("same-key")).ExitCode, 0);
  EXPECT_EQ(ReadFile(key), ReadFile(out.Join("same-key")));
  EXPECT_EQ(Mode(key), 0600u);

  // A wrong password, a plain backup: no file at all.
  const std::string target = out.Join("new-key");
  Fails(3, {"key", folder, "-o", target, "--password-stdin"}, "not it\n");
  EXPECT_NE(Fails(1, {"key", Shared().newerPlain.Folder, "-o", target}).Err.find("not encrypted"), std::string::npos);
  // Only the files this test made: no temporary name was left behind.
  EXPECT_EQ(ListFilesBelow(out.Path()), (std::vector<std::string>{"key", "same-key"}));
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
  const GeneratedBackup& old = Shared().plain;

  const CommandResult json = Succeeds({"info", backup.Folder, "--json"});
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
    const CommandResult run = Succeeds(args);
    EXPECT_EQ(WarningLines(run.Err), warnings);
    EXPECT_EQ(run.Out.find("warning"), std::string::npos);
  }

  // A finished full backup, and one of the old layout without Status.plist, have nothing to say.
  for (const GeneratedBackup* quiet : {&finished, &old}) {
    const CommandResult info = Succeeds({"info", quiet->Folder, "--json"});
    EXPECT_TRUE(ParseJson(info.Out)["warnings"].Items.empty()) << info.Out;
    const CommandResult scan = RunSieve({"scan", quiet->Folder});
    EXPECT_TRUE(WarningLines(scan.Err).empty()) << scan.Err;
  }
  EXPECT_EQ(ParseJson(RunSieve({"info", old.Folder, "--json"}).Out).Text("layout"), "Manifest.mbdb");
  // Without an index the layout is null, and scanning says why it cannot.
  std::filesystem::remove(finished.Folder + "/Manifest.db");
  EXPECT_TRUE(ParseJson(RunSieve({"info", finished.Folder, "--json"}).Out)["layout"].IsNull());
  EXPECT_NE(Fails(1, {"scan", finished.Folder}).Err.find("no file index"), std::string::npos);
}

}  // namespace
}  // namespace sieve::test
