// `sieve carve` from the outside: inputs it must refuse with one clear line, and a
// database inside an encrypted backup carved the same as its extracted copy, with no
// decrypted copy left behind. What it recovers is scored by carve_recall_test.py.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools/sieve_cli.h"

namespace sieve::test {
namespace {

void Exec(sqlite3* db, const char* sql) { ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql; }

// A database of a few pages with some rows deleted; with wal, its log is copied beside
// `copyTo` while the connection still holds it (closing would fold it into the file).
void MakeDatabase(const std::string& path, int pageSize, const std::string& copyWalTo = "") {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  Exec(db, ("PRAGMA page_size=" + std::to_string(pageSize)).c_str());
  Exec(db, copyWalTo.empty() ? "PRAGMA journal_mode=DELETE" : "PRAGMA journal_mode=WAL");
  Exec(db, "PRAGMA wal_autocheckpoint=0");
  Exec(db, "CREATE TABLE t(a INTEGER, b TEXT)");
  Exec(db, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<400) "
           "INSERT INTO t SELECT i, printf('row %d of the carve test', i) FROM n");
  Exec(db, "DELETE FROM t WHERE a % 3 = 0");
  if (!copyWalTo.empty()) std::filesystem::copy_file(path + "-wal", copyWalTo);
  sqlite3_close(db);
}

TEST(SieveCarve, RefusesWhatIsNotADatabaseOrItsLog) {
  TempDir dir;
  const std::string good = dir.Join("good.db");
  MakeDatabase(good, 4096);
  const std::string text = dir.Join("text.db");
  WriteFile(text, std::string(8192, 'x'));
  const std::string truncated = dir.Join("truncated.db");
  WriteFile(truncated, ReadFile(good).substr(0, 4096 + 1000));
  const std::string notWal = dir.Join("not.wal");
  WriteFile(notWal, std::string(4096 + 32, '\x37'));
  // A genuine log, but of a database with pages of another size.
  const std::string otherWal = dir.Join("other.wal");
  MakeDatabase(dir.Join("other.db"), 1024, otherWal);

  // Not SQLite, cut inside a page, a log that is not a WAL, one of another page size, no file.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"carve", text, "--json"},
                                               {"carve", truncated, "--json"},
                                               {"carve", good, "--wal", notWal, "--json"},
                                               {"carve", good, "--wal", otherWal, "--json"},
                                               {"carve", dir.Join("absent.db")}}) {
    Fails(1, args);
  }

  // A temporary file that cannot be written (a file size limit of nothing stands in for a
  // full disk) ends the carve with one error line and no summary, not a short result. The
  // limit is the carve's alone: its output goes through pipes to files that may grow. Plain
  // pipelines, not process substitutions, so that bash waits for both copies to end.
  const char* limited =
      "set -o pipefail; { ( trap '' XFSZ; ulimit -f 0; exec \"$0\" \"$@\" ) 2>&1 1>&3 3>&- | cat >&2; } 3>&1 | cat";
  const CommandResult full =
      RunCommand({"/bin/bash", "-c", limited, SIEVE_CLI, "carve", good, "--json", "--memory-mb", "0"});
  EXPECT_EQ(full.ExitCode, 1);
  EXPECT_TRUE(OneErrorLine(full));
  EXPECT_NE(full.Err.find("temporary file"), std::string::npos) << full.Err;
  EXPECT_EQ(full.Out.find("summary"), std::string::npos);
}

TEST(SieveCarve, DatabaseInsideABackupCarvesLikeItsExtractedCopyAndLeavesNothing) {
  TempDir dir;
  const GeneratedBackup& backup = Shared().encrypted;
  const std::string& password = Shared().passwordFile;
  const std::string tmp = dir.Join("tmp");
  std::filesystem::create_directory(tmp);
  const std::vector<std::string> env = {"TMPDIR=" + tmp};

  const CommandResult inside = Succeeds({"carve", backup.Folder, "HomeDomain", "Library/SMS/sms.db", "--json",
                                         "--include-live", "--password-file", password}, {}, env);
  EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "left in TMPDIR: " << ListFilesBelow(tmp).size() << " files";
  // Its records set aside in the private folder: the same rows, and again nothing left.
  const CommandResult aside = Succeeds({"carve", backup.Folder, "HomeDomain", "Library/SMS/sms.db", "--json",
                                        "--include-live", "--memory-mb", "0", "--password-file", password}, {}, env);
  EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "left in TMPDIR: " << ListFilesBelow(tmp).size() << " files";

  const std::string copy = dir.Join("sms.db");
  ASSERT_EQ(RunSieve({"extract", backup.Folder, "HomeDomain", "Library/SMS/sms.db", "-o", copy, "--password-file",
                      password}).ExitCode, 0);
  const CommandResult extracted = Succeeds({"carve", copy, "--json", "--include-live"});
  // Everything but the summary's timing is the same; live rows make it non-empty.
  const auto records = [](const std::string& out) { return out.substr(0, out.rfind("{\"summary\"")); };
  EXPECT_FALSE(records(inside.Out).empty());
  EXPECT_EQ(records(inside.Out), records(extracted.Out));
  EXPECT_EQ(records(aside.Out), records(extracted.Out));

  // The readable form heads the message table's columns with the schema's names.
  const CommandResult table = Succeeds({"carve", copy, "--include-live", "--table", "message"});
  EXPECT_NE(table.Out.find("ROWID"), std::string::npos) << table.Out.substr(0, 400);
  EXPECT_EQ(table.Out.find(" c1 "), std::string::npos) << table.Out.substr(0, 400);
}

}  // namespace
}  // namespace sieve::test
