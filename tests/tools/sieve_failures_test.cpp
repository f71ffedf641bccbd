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

#include "tools/sieve_cli.h"
#include "tools/terminal_run.h"

namespace sieve::test {
namespace {

constexpr char kWrongPassword[] = "wrong-Pa55word-123";
constexpr char kPicture[] = "Media/DCIM/100APPLE/IMG_0001.JPG";

TEST(SievePassword, WrongPasswordWritesNothingAndNoPasswordIsEverShown) {
  TempDir dir;
  const std::string wrong = WritePasswordFile(dir, kWrongPassword, "wrong");
  const std::string folder = Shared().encrypted.Folder;
  const std::string out = dir.Join("out");
  const struct {
    std::vector<std::string> args;
    std::string input;
    int code;
  } refused[] = {
      {{"extract", folder, "CameraRollDomain", kPicture, "-o", out, "--password-file", wrong}, "", 3},
      {{"unpack", folder, "-o", out, "--password-file", wrong}, "", 3},
      // One try from standard input: a second line could not change the answer.
      {{"scan", folder, "--json", "--password-stdin"}, std::string(kWrongPassword) + "\n" + kPassword + "\n", 3},
      // No password source and no terminal: a usage error, not a hang; the newer layout's
      // encrypted index makes even `files` ask.
      {{"scan", folder}, "", 2},
      {{"files", Shared().newerEncrypted.Folder, "--json"}, "", 2},
      {{"files", Shared().newerEncrypted.Folder, "--json", "--password-stdin"}, std::string(kWrongPassword) + "\n", 3},
      // A password as an argument value is refused without being echoed.
      {{"scan", folder, std::string("--password=") + kPassword}, "", 2},
      {{"scan", folder, std::string("--pass=") + kPassword}, "", 2},
      {{"scan", folder, "--password-file", dir.Join("absent")}, "", 1},
  };
  std::vector<CommandResult> runs;
  for (const auto& r : refused) runs.push_back(Fails(r.code, r.args, r.input));
  for (const std::size_t usage : {3, 4}) EXPECT_NE(runs[usage].Err.find("--key-file"), std::string::npos) << runs[usage].Err;
  EXPECT_EQ(runs[5].Err, "sieve: wrong password\n");
  // Nothing decrypted anywhere: the folder holds what the test wrote.
  EXPECT_EQ(ListFilesBelow(dir.Path()), std::vector<std::string>{"wrong"});

  // The right password through standard input; only the first line counts.
  runs.push_back(RunSieve({"scan", folder, "--password-stdin"}, std::string(kPassword) + "\nrest\n"));
  EXPECT_EQ(runs.back().ExitCode, 0) << runs.back().Err;
  for (const CommandResult& r : runs) {
    for (const char* secret : {kPassword, kWrongPassword}) {
      EXPECT_EQ(r.Out.find(secret), std::string::npos) << "password on stdout";
      EXPECT_EQ(r.Err.find(secret), std::string::npos) << "password on stderr: " << r.Err;
    }
  }
}

TEST(SieveKeyFile, OnlyAKeyOfTheRightFormIsTakenAndItsTextIsNeverShown) {
  TempDir dir;
  const std::string folder = Shared().encrypted.Folder;
  ASSERT_EQ(RunSieve(Join({"key", folder, "-o", dir.Join("key")}, Shared().secret)).ExitCode, 0);
  const std::string key = ReadFile(dir.Join("key")).substr(0, 64);
  std::string upper = key;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto extract = [&](const std::string& keyText) {
    WriteFile(dir.Join("given"), keyText);
    std::filesystem::remove(dir.Join("out"));
    return std::vector<std::string>{"extract", folder, "CameraRollDomain", kPicture, "-o", dir.Join("out"),
                                    "--key-file", dir.Join("given")};
  };
  for (const std::string& accepted : {key, key + "\n", key + "\r\n", upper + "\n"}) Succeeds(extract(accepted));
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
    const CommandResult run = Fails(1, extract(m.text));
    EXPECT_NE(run.Err.find("does not hold a key"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find(key.substr(8, 16)), std::string::npos) << "key text shown: " << run.Err;
    EXPECT_EQ(run.Err.find(kPassword), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.Join("out")));
  }
  for (const std::string& unreadable : {dir.Join("absent"), dir.Path()}) Fails(1, {"scan", folder, "--key-file", unreadable});
}

TEST(SieveUsage, UsageMistakesAndFoldersThatAreNotBackups) {
  TempDir dir;
  const std::string folder = Shared().plain.Folder;
  const std::string k = dir.Join("k");
  const std::vector<std::vector<std::string>> mistakes = {
      {},
      {"frobnicate"},
      {"scan"},
      {"info", folder, folder},
      {"files", folder, "--bogus"},
      {"extract", folder, "HomeDomain", "Library/x"},
      {"list", "--json", "--json"},
      {"list", "--root"},
      {"scan", folder, "--json=yes"},
      {"help", "nothing"},
      {"key", folder},
      {"key", folder, "-o", k, "--key-file", k},
      {"files", folder, "--key-file", k, "--password-stdin"},
      {"scan", folder, "--key-file", k, "--password-file", k},
      {"info", folder, "--password-file", k, "--password-stdin"},
      {"key", folder, "-o", "-"},
      {"scan", folder, "--files-to", dir.Join("files")},
      {"-q", "-v", "list", "--root", dir.Path()},
      {"extract", folder, "HomeDomain", "Library/x", "-o", "-", "--force"},
      {"--version", "extra"},
      {"device"},
      {"device", "frobnicate"},
      {"device", "list", "extra"},
      {"device", "exit-recovery", "extra"},
      {"device", "exit-recovery", "--ecid", "0x12g"},
      {"device", "exit-recovery", "--ecid", "0"},
      {"carve"},
      {"carve", folder, "HomeDomain"},
      {"carve", dir.Join("x.db"), "--main-only", "--wal", dir.Join("x.db-wal")},
      {"carve", folder, "HomeDomain", "Library/x", "--wal", dir.Join("x.db-wal")},
      {"carve", dir.Join("x.db"), "--password-stdin"},
  };
  for (const auto& args : mistakes) Fails(2, args);
  const CommandResult help = Succeeds({"help"});
  EXPECT_NE(help.Out.find("unpack BACKUP -o DIR"), std::string::npos);
  const CommandResult commandHelp = Succeeds({"scan", "--help"});
  EXPECT_EQ(commandHelp.Out.rfind("usage: sieve scan", 0), 0u) << commandHelp.Out;
  const CommandResult version = Succeeds({"--version"});
  EXPECT_TRUE(std::regex_match(version.Out, std::regex("sieve [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.Out;

  WriteFile(dir.Join("a-file"), "x");
  std::filesystem::create_directory(dir.Join("empty"));
  for (const std::string& notBackup : {dir.Join("absent"), dir.Join("empty"), dir.Join("a-file")}) {
    for (const char* command : {"info", "files", "scan"}) Fails(4, {command, notBackup});
  }
  Fails(4, {"list", "--root", dir.Join("absent")});

  // The properties come from Info.plist and Manifest.plist as the generator wrote them.
  const JsonValue truth = ParseJson(ReadFile(Shared().plain.TruthPath))["backup"];
  const CommandResult info = Succeeds({"info", folder, "--json"});
  const JsonValue shown = ParseJson(info.Out);
  for (const auto& [ours, generated] : {std::pair{"name", "display_name"}, {"device_name", "device_name"},
                                        {"product_type", "product_type"}, {"product_version", "product_version"},
                                        {"serial_number", "serial_number"}}) {
    EXPECT_EQ(shown.Text(ours), truth.Text(generated)) << ours;
  }
  EXPECT_FALSE(shown["encrypted"].Bool);
  const CommandResult text = RunSieve({"info", folder});
  EXPECT_NE(text.Out.find("Serial number:  " + truth.Text("serial_number")), std::string::npos) << text.Out;
}

// extract and unpack never overwrite a file unless told to; "-o -" streams the file
// itself, decrypted, to standard output.
TEST(SieveOutput, ExistingFilesAreKeptWithoutForceAndDashIsStandardOutput) {
  TempDir dir;
  for (const GeneratedBackup* backup : {&Shared().plain, &Shared().encrypted}) {
    SCOPED_TRACE(backup->Folder);
    TruthFile file;
    for (const TruthFile& f : ReadTruthFiles(backup->TruthPath)) {
      if (f.Kind == "file" && f.Size > 0 && !f.StoredName.empty()) file = f;
    }
    ASSERT_FALSE(file.Path.empty());
    const auto extract = [&](const std::string& target, const std::vector<std::string>& more) {
      return RunSieve(Join(Join({"extract", backup->Folder, file.Domain, file.Path, "-o", target}, more), Shared().secret));
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
    EXPECT_EQ(extract(target, {"--force"}).ExitCode, 0);
    EXPECT_EQ(ReadFile(target), streamed.Out);

    // unpack keeps what is there, says so, and fails; --force replaces it.
    const std::string root = dir.Join("unpacked");
    const std::string mine = root + "/" + file.Domain + "/" + file.Path;
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(std::filesystem::path(mine).parent_path());
    WriteFile(mine, "mine");
    const std::vector<std::string> unpack = Join({"unpack", backup->Folder, "-o", root}, Shared().secret);
    const CommandResult keeps = RunSieve(unpack);
    EXPECT_EQ(keeps.ExitCode, 1);
    EXPECT_NE(keeps.Err.find("1 existing"), std::string::npos) << keeps.Err;
    EXPECT_NE(keeps.Err.find("give --force"), std::string::npos) << keeps.Err;
    EXPECT_EQ(ReadFile(mine), "mine");
    Succeeds(Join(unpack, {"--force"}));
    EXPECT_EQ(ReadFile(mine), streamed.Out);
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
  const GeneratedBackup& backup = Shared().plain;
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
    const TempDir dir;
    const std::string target = dir.Join("target");
    const SmallFileSystem fs(target, c.size, c.readOnly);
    if (!fs.Mounted()) {
      GTEST_SKIP() << "cannot mount a small file system here (needs root): " << std::strerror(errno);
    }
    const CommandResult run = c.unpack ? RunSieve({"unpack", backup.Folder, "-o", target})
                                       : RunSieve({"scan", backup.Folder, "--json", "--files-to", target});
    EXPECT_EQ(run.ExitCode, 1) << run.Err;
    const std::size_t named = c.unpack ? Occurrences(run.Err, "sieve: warning: cannot unpack ") +
                                             Occurrences(run.Err, "sieve: warning: cannot create the folder for ")
                                       : Occurrences(run.Err, "sieve: warning: cannot copy ");
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
    const CommandResult help = Succeeds({"help", command});
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
