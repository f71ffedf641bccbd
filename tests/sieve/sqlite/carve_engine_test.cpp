// The schema-driven carve over databases SQLite wrote: older page versions, its options and
// control, its temporary file, and a real write-ahead log. Recall and precision per file
// shape (encodings, overflow, auto-vacuum, reserved bytes, WITHOUT ROWID, dropped tables,
// secure_delete) are measured by tests/tools/carve_recall_test.py over tools/mkcarve's corpus.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

#include "sieve/sqlite/carve_engine.h"
#include "sqlite_fixture.h"
#include "support/test_support.h"

namespace sieve::sqlite {
namespace {

using testing::FileBytes;
using testing::WritableDb;

// Every field of every row a carve gives, in order.
std::vector<std::string> Described(const FileHistory& history, const CarveOptions& options, CarveResult& result) {
  std::vector<std::string> rows;
  result = Carve(history, options, [&](const CarvedRow& row) {
    std::string line = row.table + "|" + std::string(CarveSourceName(row.source)) + "|" + std::to_string(row.page) + "|" +
                       std::to_string(row.offset) + "|" + std::to_string(row.frame) + "|" +
                       (row.rowid ? std::to_string(*row.rowid) : "-") + (row.partial ? "|partial" : "") +
                       (row.firstLost ? "|lost" : "");
    for (const CarveSource also : row.alsoIn) line += "|+" + std::string(CarveSourceName(also));
    for (const CarvedValue& v : row.values) {
      line += "|" + std::to_string(static_cast<int>(v.kind)) + ":" + std::to_string(v.integer) + ":" +
              std::to_string(v.real) + ":" + v.bytes + (v.truncated ? ":cut" : "");
    }
    rows.push_back(std::move(line));
  });
  return rows;
}

// A carve that sets its records aside on disk (forced here by a budget of nothing) gives the
// same rows in the same order as one that holds them in memory, live copies left out alike.
void ExpectSameWhenSetAside(const FileHistory& history, const std::string& label) {
  for (const bool includeLive : {false, true}) {
    test::TempDir dir;
    CarveOptions inMemory;
    inMemory.includeLive = includeLive;
    CarveOptions setAside = inMemory;
    setAside.spillFolder = dir.Path();
    setAside.inMemoryBytes = 0;
    CarveResult held, spilled;
    const std::vector<std::string> rows = Described(history, inMemory, held);
    EXPECT_EQ(Described(history, setAside, spilled), rows) << label;
    EXPECT_EQ(spilled.status, CarveStatus::kOk) << label << ": " << spilled.error;
    EXPECT_EQ(spilled.rowsReported, held.rowsReported) << label;
    EXPECT_EQ(spilled.liveCopiesSkipped, held.liveCopiesSkipped) << label;
    EXPECT_EQ(spilled.droppedTables, held.droppedTables) << label;
  }
}

// A carve whose temporary file cannot be written (a full disk: here a file size limit of
// nothing) fails as such and gives no row, rather than a result that looks complete.
TEST(CarveEngine, AFailedTemporaryFileFailsTheCarve) {
  test::TempDir dir;
  const std::string path = dir.Join("f.db");
  {
    WritableDb db(path);
    db.Exec("PRAGMA page_size=1024; PRAGMA secure_delete=OFF");
    testing::CreateSmallTable(db, 200);
    db.Exec("DELETE FROM people WHERE id % 2 = 0");
  }
  const FileHistory history = MainFileHistory(FileBytes(path));
  CarveOptions options;
  options.spillFolder = dir.Path();
  options.inMemoryBytes = 0;
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_FSIZE, &none);
    std::size_t rows = 0;
    const CarveResult result = Carve(history, options, [&](const CarvedRow&) { ++rows; });
    const bool failed = result.status == CarveStatus::kSpillFailed && !result.error.empty() && rows == 0;
    ::_exit(failed ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  // The same carve with room for its file gives rows.
  CarveResult result;
  EXPECT_FALSE(Described(history, options, result).empty());
  EXPECT_EQ(result.status, CarveStatus::kOk) << result.error;
}

// A freeblock is one of its page's freed cells: with two tables of the same shape, rows
// deleted from the second are reported as its rows, not as rows of the first (which the
// schema names first and whose shape reads them as well), nor left out as stale copies of
// the first's live rows when the first holds the same values.
TEST(CarveEngine, AFreeblockIsARowOfItsPagesTable) {
  for (const std::string firstValues : {"i * 1000, i * 7, i", "i * 3, i * 11, i + 5000"}) {
    test::TempDir dir;
    const std::string path = dir.Join("two.db");
    {
      WritableDb db(path);
      db.Exec("PRAGMA page_size=1024; PRAGMA secure_delete=OFF");
      db.Exec("CREATE TABLE first(a INTEGER, b INTEGER, c INTEGER)");
      db.Exec("CREATE TABLE second(x INTEGER, y INTEGER, z INTEGER)");
      const auto fill = [&](const std::string& table, const std::string& values) {
        db.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) INSERT INTO " + table +
                " SELECT " + values + " FROM n");
      };
      fill("first", firstValues);
      fill("second", "i * 1000, i * 7, i");
      db.Exec("DELETE FROM second WHERE rowid % 4 = 0");
    }
    const std::vector<std::uint8_t> bytes = FileBytes(path);
    const FileHistoryResult read = ReadFileHistory(bytes, {}, {});
    ASSERT_TRUE(read.ok()) << read.error;
    std::set<std::int64_t> deleted;
    const CarveResult result = Carve(read.history, {}, [&](const CarvedRow& row) {
      if (row.source != CarveSource::Freeblock) return;
      EXPECT_EQ(row.table, "second") << firstValues << ": page " << row.page << " offset " << row.offset;
      if (row.values.size() == 3 && row.values[2].kind == ValueKind::kInteger) deleted.insert(row.values[2].integer);
    });
    EXPECT_EQ(result.status, CarveStatus::kOk);
    // The freeblocks hold every deleted row but the few whose bytes a later one took.
    EXPECT_GE(deleted.size(), 90u) << firstValues;
    for (const std::int64_t i : deleted) EXPECT_EQ(i % 4, 0) << firstValues << ": " << i;
  }
}

// A real write-ahead log: rows deleted through SQLite with secure_delete on survive only in
// the frames of the log, which must be read as the history the carve walks, each row reported
// once. In an auto-vacuum file the log also keeps older pointer-map pages, whose entries must not
// read as rows of the table of numbers that lost none. The options and the control reach the run.
TEST(CarveEngine, DeletedRowsFromTheWriteAheadLog) {
  for (const std::string vacuum : {"NONE", "FULL"}) {
    test::TempDir dir;
    const std::string path = dir.Join("w.db");
    WritableDb db(path);
    db.Exec("PRAGMA page_size=1024; PRAGMA auto_vacuum=" + vacuum +
            "; PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; PRAGMA secure_delete=ON");
    db.Exec("CREATE TABLE nums(a INTEGER, b INTEGER, c INTEGER)");
    testing::CreateSmallTable(db, 120);
    db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    db.Exec("UPDATE people SET age = age + 1000 WHERE id % 7 = 0");
    db.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
            "INSERT INTO nums SELECT i % 300, i * 77, i % 11 - 5 FROM n");
    db.Exec("DELETE FROM people WHERE id % 3 = 0");
    // Read while the connection is open: closing would checkpoint the log away.
    const std::vector<std::uint8_t> main = FileBytes(path);
    const std::vector<std::uint8_t> wal = FileBytes(path + "-wal");
    ASSERT_FALSE(wal.empty());
    const FileHistoryResult read = ReadFileHistory(main, wal, {});
    ASSERT_TRUE(read.ok()) << read.error;
    std::set<std::pair<int, int>> found;  // id, age
    const auto run = [&](const CarveOptions& options, const ScanControl* control) {
      found.clear();
      return Carve(read.history, options, [&](const CarvedRow& row) {
        ASSERT_EQ(row.table, "people") << vacuum << ": page " << row.page << " offset " << row.offset;
        const int id = static_cast<int>(row.values[0].integer);
        EXPECT_EQ(row.values[1].bytes, testing::SmallRowName(id));
        EXPECT_TRUE(found.insert({id, static_cast<int>(row.values[2].integer)}).second) << "reported twice: " << id;
        EXPECT_TRUE(row.source == CarveSource::Wal || options.includeLive);
      }, control);
    };
    std::vector<double> progress;
    const ScanControl watch{nullptr, [&](double done) { progress.push_back(done); }};
    EXPECT_EQ(run({}, &watch).status, CarveStatus::kOk);
    std::set<std::pair<int, int>> gone;  // every deleted row and every row's value before its update
    for (int id = 1; id <= 120; ++id) {
      if (id % 3 == 0 || id % 7 == 0) gone.insert({id, id % 97});
      if (id % 3 == 0 && id % 7 == 0) gone.insert({id, id % 97 + 1000});
    }
    EXPECT_EQ(found, gone) << vacuum;
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1.0);
    ExpectSameWhenSetAside(read.history, "log, auto_vacuum " + vacuum);

    CarveOptions people;  // live rows too, the table named in another case
    people.table = "PEOPLE";
    people.includeLive = true;
    EXPECT_EQ(run(people, nullptr).status, CarveStatus::kOk);
    std::set<int> ids;
    for (const auto& [id, age] : found) ids.insert(id);
    EXPECT_EQ(ids.size(), 120u) << vacuum;
    CarveOptions other;
    other.table = "other";
    EXPECT_EQ(run(other, nullptr).rowsReported, 0u);
    const ScanControl stop{[] { return true; }, nullptr};
    EXPECT_EQ(run({}, &stop).status, CarveStatus::kStopped);
    EXPECT_TRUE(found.empty());
  }
}

}  // namespace
}  // namespace sieve::sqlite
