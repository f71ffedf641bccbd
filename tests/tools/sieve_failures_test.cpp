// How `sieve` fails: wrong passwords, malformed key files, usage mistakes, folders that are not
// backups and targets that are full or read-only, each with its exit status and clear lines on
// standard error.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
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

TEST(SieveKeyFile, OnlyAKeyOfTheRightFormIsTakenAndItsTextIsNeverShown) {
  TempDir dir;
  const std::string password = WritePasswordFile(dir, kPassword);
  const GeneratedBackup backup = MakeBackup(dir, "encrypted",
      {"--profile", "small", "--seed", "3", "--encrypted", "--password-file", password});
  const std::string keyFile = dir.Join("key");
  ASSERT_EQ(RunSieve({"key", backup.Folder, "-o", keyFile, "--password-file", password}).ExitCode, 0);
  const std::string key = ReadFile(keyFile).substr(0, 64);
  std::string upper = key;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto extract = [&](const std::string& keyText) {
    WriteFile(dir.Join("given"), keyText);
    std::filesystem::remove(dir.Join("out"));
    return RunSieve({"extract", backup.Folder, "CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", "-o",
                     dir.Join("out"), "--key-file", dir.Join("given")});
  };
  for (const std::string& accepted : {key, key + "\n", key + "\r\n", upper + "\n"}) {
    const CommandResult run = extract(accepted);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
  }
  const struct {
    const char* name;
    std::string text;
  } malformed[] = {
      {"empty", ""},
      {"one digit short", key.substr(1) + "\n"},
      {"one digit more", key + "0\n"},
      {"not hexadecimal", "g" + key.substr(1) + "\n"},
      {"a second line", key + "\n" + key + "\n"},
      {"a password instead", std::string(kPassword) + "\n"},
      {"spaces around", " " + key + " \n"},
  };
  for (const auto& m : malformed) {
    SCOPED_TRACE(m.name);
    const CommandResult run = extract(m.text);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(OneErrorLine(run));
    EXPECT_NE(run.Err.find("does not hold a key"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find(key.substr(8, 16)), std::string::npos) << "key text shown: " << run.Err;
    EXPECT_EQ(run.Err.find(kPassword), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.Join("out")));
  }
  for (const std::string& unreadable : {dir.Join("absent"), dir.Path()}) {
    const CommandResult run = RunSieve({"scan", backup.Folder, "--key-file", unreadable});
    EXPECT_EQ(run.ExitCode, 1) << unreadable;
    EXPECT_TRUE(OneErrorLine(run));
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
      {"key", backup.Folder},
      {"key", backup.Folder, "-o", dir.Join("k"), "--key-file", dir.Join("k")},
      {"files", backup.Folder, "--key-file", dir.Join("k"), "--password-stdin"},
      {"info", backup.Folder, "--password-file", dir.Join("k"), "--password-stdin"},
      {"key", backup.Folder, "-o", "-"},
      {"scan", backup.Folder, "--files-to", dir.Join("files")},
      {"-q", "-v", "list", "--root", dir.Path()},
      {"extract", backup.Folder, "HomeDomain", "Library/x", "-o", "-", "--force"},
      {"--version", "extra"},
      {"device"},
      {"device", "frobnicate"},
      {"device", "list", "extra"},
      {"device", "exit-recovery", "extra"},
      {"device", "exit-recovery", "--ecid", "0x12g"},
      {"device", "exit-recovery", "--ecid", "0"},
      {"carve"},
      {"carve", backup.Folder, "HomeDomain"},
      {"carve", dir.Join("x.db"), "--main-only", "--wal", dir.Join("x.db-wal")},
      {"carve", backup.Folder, "HomeDomain", "Library/x", "--wal", dir.Join("x.db-wal")},
      {"carve", dir.Join("x.db"), "--password-stdin"},
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
  const CommandResult version = RunSieve({"--version"});
  EXPECT_EQ(version.ExitCode, 0);
  EXPECT_TRUE(std::regex_match(version.Out, std::regex("sieve [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.Out;

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

// extract and unpack never overwrite a file unless told to; "-o -" streams the file
// itself, decrypted, to standard output.
TEST(SieveOutput, ExistingFilesAreKeptWithoutForceAndDashIsStandardOutput) {
  TempDir dir;
  const std::string password = WritePasswordFile(dir, kPassword);
  const GeneratedBackup plain = MakeBackup(dir, "plain", {"--profile", "small", "--seed", "5"});
  const GeneratedBackup encrypted = MakeBackup(
      dir, "encrypted", {"--profile", "small", "--seed", "5", "--manifest-db", "--encrypted", "--password-file", password});
  for (const GeneratedBackup* backup : {&plain, &encrypted}) {
    SCOPED_TRACE(backup->Folder);
    TruthFile file;
    for (const TruthFile& f : ReadTruthFiles(backup->TruthPath)) {
      if (f.Kind == "file" && f.Size > 0 && !f.StoredName.empty()) file = f;
    }
    ASSERT_FALSE(file.Path.empty());
    const std::vector<std::string> secret{"--password-file", password};
    const auto extract = [&](const std::string& target, std::vector<std::string> more) {
      std::vector<std::string> args{"extract", backup->Folder, file.Domain, file.Path, "-o", target};
      args.insert(args.end(), more.begin(), more.end());
      args.insert(args.end(), secret.begin(), secret.end());
      return RunSieve(args);
    };
    const CommandResult streamed = extract("-", {});
    ASSERT_EQ(streamed.ExitCode, 0) << streamed.Err;
    EXPECT_EQ(Sha256Hex(streamed.Out), file.Sha256);
    EXPECT_EQ(streamed.Err, "");

    const std::string target = dir.Join("kept");
    WriteFile(target, "mine");
    const CommandResult kept = extract(target, {});
    EXPECT_EQ(kept.ExitCode, 1);
    EXPECT_TRUE(OneErrorLine(kept));
    EXPECT_NE(kept.Err.find("exists; give --force"), std::string::npos) << kept.Err;
    EXPECT_EQ(ReadFile(target), "mine");
    const CommandResult replaced = extract(target, {"--force"});
    EXPECT_EQ(replaced.ExitCode, 0) << replaced.Err;
    EXPECT_EQ(ReadFile(target), streamed.Out);

    // unpack keeps what is there, says so, and fails; --force replaces it.
    const std::string root = dir.Join("unpacked");
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root + "/" + file.Domain + "/" + file.Path);
    std::filesystem::remove(root + "/" + file.Domain + "/" + file.Path);
    WriteFile(root + "/" + file.Domain + "/" + file.Path, "mine");
    std::vector<std::string> unpack{"unpack", backup->Folder, "-o", root};
    unpack.insert(unpack.end(), secret.begin(), secret.end());
    const CommandResult keeps = RunSieve(unpack);
    EXPECT_EQ(keeps.ExitCode, 1);
    EXPECT_NE(keeps.Err.find("1 existing"), std::string::npos) << keeps.Err;
    EXPECT_NE(keeps.Err.find("give --force"), std::string::npos) << keeps.Err;
    EXPECT_EQ(ReadFile(root + "/" + file.Domain + "/" + file.Path), "mine");
    unpack.push_back("--force");
    const CommandResult forced = RunSieve(unpack);
    EXPECT_EQ(forced.ExitCode, 0) << forced.Err;
    EXPECT_EQ(ReadFile(root + "/" + file.Domain + "/" + file.Path), streamed.Out);
  }
}

// A small file system of its own for one test, gone with it.
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string& at, const char* size, bool readOnly) : at_(at) {
    std::filesystem::create_directories(at);
    const std::string options = std::string("size=") + size + ",mode=0700";
    mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool Mounted() const { return mounted_; }

 private:
  std::string at_;
  bool mounted_ = false;
};

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The copies that scan records name, with the stored file each was made of, at any depth.
void CollectCopies(const JsonValue& value, std::map<std::string, std::string>& copies) {
  const std::string stored = value.Text("stored_path");
  for (const char* field : {"image_path", "attachment_path", "file_path", "media_path"}) {
    if (!value.Text(field).empty()) copies[value.Text(field)] = stored;
  }
  // A thumbnail is a copy of a file of its own, which the record names without a stored path.
  if (!value.Text("thumbnail_path").empty()) copies[value.Text("thumbnail_path")] = "";
  for (const JsonValue& item : value.Items) CollectCopies(item, copies);
}

// Into a file system that fills up or cannot be written: every file that failed is named, the
// command fails, and what is there is whole (no part of a file under a name of its own).
TEST(SieveOutput, AFullOrReadOnlyTargetNamesEveryFailedFileAndLeavesNoPartOfOne) {
  TempDir dir;
  const GeneratedBackup backup = MakeBackup(dir, "plain", {"--profile", "sample", "--seed", "5"});
  std::map<std::string, std::string> hashOf;  // "domain/path" -> SHA-256
  for (const TruthFile& f : ReadTruthFiles(backup.TruthPath)) hashOf[f.Domain + "/" + f.Path] = f.Sha256;
  struct Case {
    const char* what;
    const char* size;
    bool readOnly;
    bool unpack;  // else scan --files-to
  };
  const Case cases[] = {
      {"unpack into a full disk", "300k", false, true},
      {"unpack into a read-only one", "1m", true, true},
      {"scan --files-to into a full disk", "64k", false, false},
      {"scan --files-to into a read-only one", "1m", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string target = dir.Join("target");
    const SmallFileSystem fs(target, c.size, c.readOnly);
    if (!fs.Mounted()) {
      GTEST_SKIP() << "cannot mount a small file system here (needs root): " << std::strerror(errno);
    }
    const CommandResult run = c.unpack ? RunSieve({"unpack", backup.Folder, "-o", target})
                                       : RunSieve({"scan", backup.Folder, "--json", "--files-to", target});
    EXPECT_EQ(run.ExitCode, 1) << run.Err;
    const std::size_t named = c.unpack ? Count(run.Err, "sieve: warning: cannot unpack ") +
                                             Count(run.Err, "sieve: warning: cannot create the folder for ")
                                       : Count(run.Err, "sieve: warning: cannot copy ");
    EXPECT_GT(named, 0u) << run.Err;
    const std::string summary = c.unpack ? " entries could not be unpacked\n" : " files could not be copied into ";
    EXPECT_NE(run.Err.find("sieve: " + std::to_string(named) + summary), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(c.readOnly ? "Read-only file system" : "No space left on device"), std::string::npos)
        << run.Err;

    const std::vector<std::string> left = ListFilesBelow(target);
    if (c.readOnly) {
      EXPECT_TRUE(left.empty());
    }
    std::map<std::string, std::string> copies;
    if (!c.unpack) {
      for (const JsonValue& line : ParseJsonLines(run.Out)) CollectCopies(line, copies);
    }
    for (const std::string& name : left) {
      SCOPED_TRACE(name);
      const std::string path = target + "/" + name;
      EXPECT_EQ(name.find(".sieve-partial"), std::string::npos);
      if (c.unpack) {
        EXPECT_EQ(Sha256Hex(ReadFile(path)), hashOf[name]);
      } else {
        ASSERT_EQ(copies.count(path), 1u) << "a file no record names";
        // Pictures made from database blobs have no stored file to compare with.
        if (!copies[path].empty()) {
          EXPECT_EQ(ReadFile(path), ReadFile(copies[path]));
        }
      }
    }
  }
}

// Every option a command's usage line names is described under it in `sieve help COMMAND`,
// together with the options every command takes.
TEST(SieveUsage, HelpOfACommandDescribesEachOfItsOptions) {
  // An option starts a word: the "-r" inside "exit-recovery" is none.
  const std::regex option("(^|[ [])(-[a-z]|--[a-z][a-z-]*)");
  for (const char* command : {"list", "info", "files", "extract", "scan", "unpack", "key", "carve", "device"}) {
    SCOPED_TRACE(command);
    const CommandResult help = RunSieve({"help", command});
    ASSERT_EQ(help.ExitCode, 0) << help.Err;
    const std::string usage = help.Out.substr(0, help.Out.find('\n'));
    std::string described = help.Out.substr(usage.size());
    EXPECT_EQ(usage.rfind(std::string("usage: sieve ") + command, 0), 0u) << usage;
    std::vector<std::string> named;
    for (std::sregex_iterator it(usage.begin(), usage.end(), option), end; it != end; ++it) named.push_back(it->str(2));
    if (usage.find("[password option]") != std::string::npos) {
      named.insert(named.end(), {"--password-file", "--password-stdin", "--key-file"});
    }
    named.insert(named.end(), {"-q", "-v", "--utc"});
    for (const std::string& name : named) {
      // Described: at the start of an indented line, or after "-o, ".
      EXPECT_TRUE(std::regex_search(described, std::regex("\n  (-[a-z], )?" + name + "[ ,]")))
          << name << " is not described:\n" << help.Out;
    }
  }
}

}  // namespace
}  // namespace sieve::test
