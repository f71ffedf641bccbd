// `sieve` on damaged and hostile backups: clear failures, no crash, and
// nothing written outside the folder it was asked to write into.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tools/hostile_entries.h"
#include "tools/sieve_cli.h"

namespace sieve::test {
namespace {

// Damaged indexes at large (cut, lying lengths, flipped bits, either layout) go through the
// hostile campaign (hostile_campaign.py over tools/mkhostile) and the fuzz targets, which check
// the exit status, the one line and that nothing crashes. Here what they do not look at: what
// a cut index still lists, and that the output stays valid JSON.
TEST(SieveHostileIndex, ACutIndexListsWhatCameBeforeAndFailsInOneLine) {
  TempDir dir;
  const GeneratedBackup backup = MakeBackup(dir, "plain", {"--profile", "sample", "--seed", "9"});
  const std::string index = backup.Folder + "/Manifest.mbdb";
  const std::string original = ReadFile(index);
  const std::vector<TruthFile> truth = ReadTruthFiles(backup.TruthPath);

  // Cut inside a record: what came before is listed, then one error line.
  WriteFile(index, original.substr(0, original.size() * 3 / 5));
  const CommandResult truncated = RunSieve({"files", backup.Folder, "--json"});
  EXPECT_EQ(truncated.ExitCode, 1);
  EXPECT_TRUE(OneErrorLine(truncated));
  const JsonValue partial = ParseJson(truncated.Out);
  EXPECT_GT(partial.Items.size(), 0u);
  EXPECT_LT(partial.Items.size(), truth.size());
  EXPECT_EQ(partial.Items[0].Text("path"), truth[0].Path);
  // -q leaves the error alone on standard error, without the scan's timing.
  const CommandResult truncatedScan = RunSieve({"-q", "scan", backup.Folder, "--json"});
  EXPECT_EQ(truncatedScan.ExitCode, 1);
  EXPECT_TRUE(OneErrorLine(truncatedScan));
  EXPECT_NO_THROW(ParseJsonLines(truncatedScan.Out));

  WriteFile(index, "");
  for (const char* command : {"files", "scan"}) {
    const CommandResult empty = RunSieve({command, backup.Folder});
    EXPECT_EQ(empty.ExitCode, 1) << command;
    EXPECT_TRUE(OneErrorLine(empty));
  }
  // A newer index that is no database is named.
  const GeneratedBackup newer = MakeBackup(dir, "newer", {"--profile", "small", "--seed", "3", "--manifest-db"});
  WriteFile(newer.Folder + "/Manifest.db", "not an index at all");
  for (const char* command : {"files", "scan"}) {
    const CommandResult run = RunSieve({command, newer.Folder, "--json"});
    EXPECT_EQ(run.ExitCode, 1) << command;
    EXPECT_TRUE(OneErrorLine(run));
    EXPECT_NE(run.Err.find("Manifest.db"), std::string::npos) << run.Err;
    EXPECT_NO_THROW(ParseJsonLines(run.Out));
  }
}

TEST(SieveHostileIndex, HostileNamesStayInsideTheOutputFolder) {
  TempDir dir;
  const GeneratedBackup backup = MakeBackup(dir, "plain", {"--profile", "small", "--seed", "4"});
  const std::vector<HandMadeEntry> hostile = {
      {"HomeDomain", "../escape.txt", "climbs out", std::nullopt},
      {"HomeDomain", "Library/../../up.txt", "climbs out too", std::nullopt},
      {"..", "beside.txt", "a domain that climbs", std::nullopt},
      {"HomeDomain", "/etc/absolute.txt", "absolute", std::nullopt},
      {"HomeDomain", "Library/evil-link", "", std::string("/etc/passwd")},
  };
  for (const HandMadeEntry& e : hostile) AppendEntry(backup.Folder, e);
  const std::string oddName = "Library/odd\x1b[31m\xff\x01name.txt";
  AppendEntry(backup.Folder, {"HomeDomain", oddName, "odd but harmless", std::nullopt});
  AppendEntry(backup.Folder, {"HomeDomain", "Library/extra.txt", "extra", std::nullopt, 1300000000});

  // Names reach JSON as valid text and the terminal without control characters.
  const CommandResult json = Succeeds({"files", backup.Folder, "--json"});
  bool sawOdd = false;
  for (const JsonValue& e : ParseJson(json.Out).Items) {
    if (e.Text("path").find("odd") == std::string::npos) continue;
    sawOdd = true;
    EXPECT_EQ(e.Text("path"), "Library/odd\x1b[31m\xEF\xBF\xBD\x01name.txt");
  }
  EXPECT_TRUE(sawOdd);
  EXPECT_NE(json.Out.find("\\u001b[31m"), std::string::npos);
  const CommandResult table = Succeeds({"files", backup.Folder});
  EXPECT_EQ(table.Out.find('\x1b'), std::string::npos);
  EXPECT_EQ(table.Out.find('\x01'), std::string::npos);
  EXPECT_NE(table.Out.find("evil-link -> /etc/passwd"), std::string::npos);

  const std::string root = dir.Join("nested/out");
  std::filesystem::create_directories(root);
  const CommandResult unpack = Succeeds({"unpack", backup.Folder, "-o", root});
  EXPECT_EQ(unpack.Out, "");  // the summary is a note, on standard error
  EXPECT_NE(unpack.Err.find("4 unsafe names, 1 links"), std::string::npos) << unpack.Err;
  EXPECT_EQ(ReadFile(root + "/HomeDomain/Library/extra.txt"), "extra");
  struct stat st {};
  ASSERT_EQ(::stat((root + "/HomeDomain/Library/extra.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1300000000);
  EXPECT_EQ(ReadFile(root + "/HomeDomain/" + oddName), "odd but harmless");
  EXPECT_NE(::lstat((root + "/HomeDomain/Library/evil-link").c_str(), &st), 0);
  // Nothing beside the output folder: only what the test and the generator made.
  for (const std::string& f : ListFilesBelow(dir.Path())) {
    EXPECT_TRUE(f.rfind("nested/out/", 0) == 0 || f.rfind("plain/", 0) == 0 || f == "plain.truth.json") << f;
    for (const char* hostile : {"escape", "up.txt", "beside", "absolute"}) EXPECT_EQ(f.find(hostile), std::string::npos) << f;
  }
}

// How a database file is damaged in place.
enum class Damage { PageStarts, NotADatabase, LyingPageCount, LoopingTree };

void DamageFile(const std::string& path, Damage damage) {
  std::string bytes = ReadFile(path);
  const std::size_t pageSize = (static_cast<unsigned char>(bytes[16]) << 8) | static_cast<unsigned char>(bytes[17]);
  switch (damage) {
    case Damage::PageStarts:
      // Every page's own header after the first: the schema reads, the tables do not.
      for (std::size_t at = pageSize; at + 16 <= bytes.size(); at += pageSize) bytes.replace(at, 16, 16, '\xAA');
      break;
    case Damage::LoopingTree:
      // Every interior page after the first names itself as its right child: SQLite walks
      // the same rows round and round.
      for (std::size_t at = pageSize; at + 12 <= bytes.size(); at += pageSize) {
        if (bytes[at] != 2 && bytes[at] != 5) continue;
        const std::size_t page = at / pageSize + 1;
        for (int i = 0; i < 4; ++i) bytes[at + 8 + i] = static_cast<char>(page >> (24 - 8 * i));
      }
      break;
    case Damage::NotADatabase: bytes = "not a database, only some words in its place"; break;
    case Damage::LyingPageCount: bytes.replace(28, 4, std::string("\x00\x01\x86\x9f", 4)); break;
  }
  WriteFile(path, bytes);
}

const JsonValue* ProblemNamed(const JsonValue& summary, std::string_view path) {
  for (const JsonValue& p : summary["damaged_databases"].Items) {
    if (p.Text("name").ends_with(path)) return &p;
  }
  return nullptr;
}

TEST(SieveDamagedDatabase, AScanReadsWhatItCanAndNamesEveryDamagedDatabase) {
  struct Case {
    const char* path;
    Damage damage;
    const char* read;       // "part" or "none", as the summary says it
    const char* category;   // whose records come from that database
    bool noneDeleted;       // the category has no other database to find deleted rows in
  };
  const Case cases[] = {
      {"Library/CallHistoryDB/CallHistory.storedata", Damage::PageStarts, "part", "calls", true},
      {"Library/Notes/notes.sqlite", Damage::NotADatabase, "none", "notes", false},
      {"Library/AddressBook/AddressBook.sqlitedb", Damage::LyingPageCount, "none", "contacts", true},
      {"Library/AddressBook/AddressBook.sqlitedb", Damage::LoopingTree, "part", "contacts", false},
  };
  TempDir dir;
  const GeneratedBackup& good = Shared().plain;
  std::map<std::string, std::string> stored;
  for (const TruthFile& f : ReadTruthFiles(good.TruthPath)) stored[f.Path] = f.StoredPath;
  const JsonValue before = ParseJsonLines(RunSieve({"scan", good.Folder, "--json"}).Out).back();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string folder = dir.Join("damaged");
    std::filesystem::remove_all(folder);
    std::filesystem::copy(good.Folder, folder, std::filesystem::copy_options::recursive);
    ASSERT_FALSE(stored[c.path].empty());
    DamageFile(folder + "/" + stored[c.path], c.damage);

    const CommandResult json = Succeeds({"scan", folder, "--json"});
    EXPECT_NE(json.Err.find(std::string("sieve: warning: HomeDomain/") + c.path), std::string::npos) << json.Err;
    const JsonValue summary = ParseJsonLines(json.Out).back();
    const JsonValue* problem = ProblemNamed(summary, c.path);
    ASSERT_NE(problem, nullptr) << json.Out;
    EXPECT_EQ(problem->Text("read"), c.read);
    EXPECT_EQ(summary["damaged_databases"].Items.size(), 1u);
    // Rows whose pages lost their tree are not known to be deleted, so none is called so.
    if (c.noneDeleted) {
      EXPECT_EQ(summary["deleted"].Int(c.category, -1), 0);
    }
    // A loop gives some rows again before it is found; the scan still ends, and soon.
    if (c.damage != Damage::LoopingTree) {
      EXPECT_LT(summary["counts"].Int(c.category), before["counts"].Int(c.category));
    }
    // The rest of the backup is read as before.
    EXPECT_EQ(summary["counts"].Int("messages"), before["counts"].Int("messages"));

    const CommandResult text = Succeeds({"scan", folder});
    EXPECT_NE(text.Out.find(std::string("  HomeDomain/") + c.path), std::string::npos) << text.Out;
  }
  EXPECT_TRUE(before["damaged_databases"].Items.empty());

  // A backup of damaged databases only: nothing could be read, and that fails.
  const std::string folder = dir.Join("nothing");
  std::filesystem::copy(good.Folder, folder, std::filesystem::copy_options::recursive);
  WriteFile(folder + "/Manifest.mbdb", ReadFile(folder + "/Manifest.mbdb").substr(0, 6));
  AppendEntry(folder, {"HomeDomain", "Library/Notes/notes.sqlite", "not a database", std::nullopt});
  AppendEntry(folder, {"HomeDomain", "Library/SMS/sms.db", "nor this", std::nullopt});
  const CommandResult nothing = RunSieve({"scan", folder, "--json"});
  EXPECT_EQ(nothing.ExitCode, 1);
  EXPECT_NE(nothing.Err.find("sieve: warning: HomeDomain/Library/SMS/sms.db could not be read"), std::string::npos)
      << nothing.Err;
  EXPECT_NE(nothing.Err.find("sieve: none of the backup's databases could be read\n"), std::string::npos)
      << nothing.Err;
}

}  // namespace
}  // namespace sieve::test
