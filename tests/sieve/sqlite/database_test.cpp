// The read-only SQLite wrapper: the user's file stays untouched, names are bound rather than
// pasted into SQL, and column text is always valid UTF-8 with every '?' kept.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>

#include "sieve/sqlite/database.h"
#include "sqlite_fixture.h"
#include "support/test_support.h"

namespace sieve::sqlite {
namespace {

struct FileState {
  std::vector<std::uint8_t> bytes;
  std::int64_t mtimeNs = 0;
};

FileState StateOf(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return {testing::FileBytes(path), info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec};
}

TEST(Database, ReadOnlyOpenLeavesTheFileAlone) {
  test::TempDir dir;
  // A folder name that would add URI parameters if it were not escaped.
  const std::string folder = dir.Join("backup?mode=rwc&x=1#%41 b");
  std::filesystem::create_directory(folder);
  const std::string path = folder + "/sms.db";
  testing::WritableDb(path).Exec("CREATE TABLE message(ROWID INTEGER PRIMARY KEY, text TEXT); "
                                 "INSERT INTO message(text) VALUES('hello')");
  const FileState before = StateOf(path);
  for (const bool immutable : {true, false}) {
    Database db;
    ASSERT_EQ(db.Open(path, immutable), SQLITE_OK) << db.ErrorMessage();
    Statement count = db.Prepare("SELECT count(*) FROM message");
    ASSERT_TRUE(count.Ok());
    ASSERT_TRUE(count.Step());
    EXPECT_EQ(count.Int(0), 1);
    Statement write = db.Prepare("INSERT INTO message(text) VALUES('x')");
    EXPECT_FALSE(write.Ok() && write.Step());
    EXPECT_EQ(write.Result() & 0xFF, SQLITE_READONLY);
  }
  const FileState after = StateOf(path);
  EXPECT_EQ(after.bytes, before.bytes);
  EXPECT_EQ(after.mtimeNs, before.mtimeNs);
  EXPECT_EQ(test::ListFilesBelow(folder), std::vector<std::string>{"sms.db"});  // no journal left

  EXPECT_EQ(ReadOnlyUri("/a/b?c#d%e f", true), "file:///a/b%3Fc%23d%25e%20f?mode=ro&immutable=1");
  EXPECT_EQ(ReadOnlyUri("//net/x", false), "file:////net/x?mode=ro");

  Database missing;
  EXPECT_NE(missing.Open(folder + "/absent.db", true), SQLITE_OK);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(folder + "/absent.db"));
  test::WriteFile(folder + "/notes.txt", std::string(4096, 'z'));
  Database foreign;
  EXPECT_EQ(foreign.Open(folder + "/notes.txt", true), SQLITE_NOTADB);
  EXPECT_FALSE(foreign.IsOpen());
  EXPECT_FALSE(foreign.Prepare("SELECT 1").Ok());
}

TEST(Database, TablesAndColumnsByBoundName) {
  test::TempDir dir;
  const std::string path = dir.Join("names.db");
  testing::WritableDb(path).Exec("CREATE TABLE \"o'brien\"(\"first name\" TEXT, Age INTEGER); "
                                 "CREATE VIEW recent AS SELECT 1; CREATE INDEX byage ON \"o'brien\"(Age)");
  Database db;
  ASSERT_EQ(db.Open(path, true), SQLITE_OK);
  EXPECT_TRUE(db.TableExists("o'brien"));
  EXPECT_TRUE(db.TableExists("O'BRIEN"));
  EXPECT_TRUE(db.TableExists("recent"));
  EXPECT_FALSE(db.TableExists("byage"));  // an index is not something to select from
  EXPECT_FALSE(db.TableExists("x' OR '1'='1"));
  EXPECT_EQ(db.ColumnNames("o'brien"), (std::vector<std::string>{"first name", "Age"}));
  EXPECT_TRUE(db.HasColumn("o'brien", "AGE"));
  EXPECT_FALSE(db.HasColumn("o'brien", "age2"));
  EXPECT_TRUE(db.ColumnNames("nothing").empty());
  db.Close();
  EXPECT_FALSE(db.TableExists("o'brien"));
}

TEST(Database, ColumnValues) {
  test::TempDir dir;
  const std::string path = dir.Join("text.db");
  // The first text is invalid UTF-8 ("why? \xFF\xFEok"), stored as it is.
  testing::WritableDb(path).Exec("CREATE TABLE t(v); INSERT INTO t VALUES(CAST(x'7768793F20FFFE6F6B' AS TEXT)), "
                                 "(NULL), (-7), (2.5), (x'00FF10')");
  Database db;
  ASSERT_EQ(db.Open(path, true), SQLITE_OK);
  Statement rows = db.Prepare("SELECT v, typeof(v) FROM t ORDER BY rowid");
  ASSERT_TRUE(rows.Ok());
  EXPECT_EQ(rows.Text(0), "");  // before the first step
  ASSERT_TRUE(rows.Step());
  EXPECT_EQ(rows.Text(0), "why? \xEF\xBF\xBD\xEF\xBF\xBDok");
  ASSERT_TRUE(rows.Step());
  EXPECT_TRUE(rows.IsNull(0));
  EXPECT_EQ(rows.Text(0), "");
  ASSERT_TRUE(rows.Step());
  EXPECT_EQ(rows.Int64(0), -7);
  // Columns that do not exist read as NULL.
  EXPECT_EQ(rows.Text(9), "");
  EXPECT_EQ(rows.Int(-1), 0);
  EXPECT_TRUE(rows.IsNull(2));
  while (rows.Step()) {
  }
  EXPECT_EQ(rows.Result(), SQLITE_DONE);
  EXPECT_EQ(rows.Text(0), "");  // after the last row

  Statement bound = db.Prepare("SELECT ?1 || '?', ?2 + 1, ?3 IS NULL");
  bound.Bind(1, std::string_view("a?b")).Bind(2, std::int64_t{41}).BindNull(3);
  ASSERT_TRUE(bound.Step());
  EXPECT_EQ(bound.Text(0), "a?b?");
  EXPECT_EQ(bound.Int(1), 42);
  EXPECT_EQ(bound.Int(2), 1);
  EXPECT_FALSE(db.Prepare("SELEC nonsense").Ok());
}

TEST(Database, Utf16Databases) {
  test::TempDir dir;
  const std::string path = dir.Join("utf16.db");
  // The second text holds an unpaired surrogate: "a", U+D800, "b" in UTF-16LE.
  testing::WritableDb(path).Exec("PRAGMA encoding='UTF-16le'; CREATE TABLE t(v TEXT); "
                                 "INSERT INTO t VALUES('h\xC3\xA9llo? \xF0\x9F\x98\x80'), (CAST(x'610000D86200' AS TEXT))");
  Database db;
  ASSERT_EQ(db.Open(path, true), SQLITE_OK);
  Statement rows = db.Prepare("SELECT v FROM t ORDER BY rowid");
  ASSERT_TRUE(rows.Step());
  EXPECT_EQ(rows.Text(0), "h\xC3\xA9llo? \xF0\x9F\x98\x80");
  ASSERT_TRUE(rows.Step());
  EXPECT_EQ(rows.Text(0), "a\xEF\xBF\xBD" "b");  // the unpaired surrogate, not a '?'
}

}  // namespace
}  // namespace sieve::sqlite
