// The schema-driven carve over databases SQLite wrote, scored against what was deleted or
// overwritten: recall over the rows whose bytes survive, precision over everything reported
// (a report must equal a row that once existed and is no longer live).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "sieve/sqlite/carve_engine.h"
#include "sqlite_fixture.h"
#include "support/test_support.h"

namespace sieve::sqlite {
namespace {

using testing::FileBytes;
using testing::WritableDb;

// Generated rows of "t": a name that identifies the row, then numbers, a blob and NULLs.
struct Row {
  int id;
  std::string name;
  std::int64_t n;
  double r;
  std::string blob;
  bool nullZ;
};

Row MakeRow(int id, int version, std::size_t textLength) {
  std::string name = "row-" + std::to_string(id) + "-v" + std::to_string(version) + "-";
  name.append(textLength > name.size() ? textLength - name.size() : id % 17, static_cast<char>('a' + id % 26));
  std::string blob;
  for (int i = 0; i < 3 + id % 5; ++i) blob.push_back(static_cast<char>((id * 31 + i) & 0xFF));
  return {id, name, (id % 2 ? -1 : 1) * static_cast<std::int64_t>(id) * 1000003LL, id + 0.5, blob, id % 4 == 0};
}

// The row as the carve reports it, without the rowid alias (lost with a damaged cell).
std::string Canonical(const std::string& name, std::int64_t n, double r, const std::string& blob, const std::string& z) {
  return name + "|" + std::to_string(n) + "|" + std::to_string(r) + "|" + blob + "|" + z;
}

struct Case {
  std::string label;
  std::string pragmas;  // run before the table is made
  bool withoutRowid = false;
  std::size_t textLength = 0;  // 0: short names; large: values spill onto overflow pages
  int reserveBytes = 0;
  bool secureDelete = false;
  bool dropTable = false;  // the whole table is dropped after the deletes
  double minRecall = 0.99;
  double minPrecision = 1.0;
  bool completesOverflow = false;  // some rows must come back whole from freed overflow pages
};

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

struct Score {
  std::size_t expected = 0, found = 0, reported = 0, wrong = 0, live = 0, overflow = 0;
};

Score RunCase(const Case& c) {
  test::TempDir dir;
  const std::string path = dir.Join("t.db");
  std::map<std::string, std::string> gone;   // name -> canonical, rows deleted or overwritten
  std::set<std::string> liveRows;  // canonical form of the rows still live
  {
    WritableDb db(path);
    if (c.reserveBytes > 0) {
      int reserve = c.reserveBytes;
      sqlite3_file_control(db.Handle(), "main", SQLITE_FCNTL_RESERVE_BYTES, &reserve);
    }
    db.Exec(c.pragmas);
    db.Exec(std::string("PRAGMA secure_delete=") + (c.secureDelete ? "ON" : "OFF"));
    db.Exec("CREATE TABLE keep(a TEXT, b INTEGER)");
    db.Exec("INSERT INTO keep VALUES('unrelated', 1)");
    db.Exec(c.withoutRowid ? "CREATE TABLE t(name TEXT PRIMARY KEY, n INTEGER, r REAL, b BLOB, z INTEGER, id INTEGER) WITHOUT ROWID"
                           : "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, n INTEGER, r REAL, b BLOB, z INTEGER)");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db.Handle(),
                       c.withoutRowid ? "INSERT INTO t(id,name,n,r,b,z) VALUES(?,?,?,?,?,?)"
                                      : "INSERT INTO t VALUES(?,?,?,?,?,?)",
                       -1, &insert, nullptr);
    std::map<int, Row> rows;
    const auto put = [&](const Row& row) {
      sqlite3_bind_int(insert, 1, row.id);
      sqlite3_bind_text(insert, 2, row.name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(insert, 3, row.n);
      sqlite3_bind_double(insert, 4, row.r);
      sqlite3_bind_blob(insert, 5, row.blob.data(), static_cast<int>(row.blob.size()), SQLITE_TRANSIENT);
      if (row.nullZ) sqlite3_bind_null(insert, 6); else sqlite3_bind_int(insert, 6, row.id);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    };
    const int count = c.textLength > 0 ? 60 : 400;
    db.Exec("BEGIN");
    for (int id = 1; id <= count; ++id) put(rows[id] = MakeRow(id, 0, c.textLength));
    db.Exec("COMMIT");
    const auto forget = [&](int id) {
      const Row& row = rows[id];
      gone[row.name] = Canonical(row.name, row.n, row.r, row.blob, row.nullZ ? "null" : std::to_string(row.id));
    };
    for (int id = 3; id <= count; id += 3) forget(id);
    db.Exec("DELETE FROM t WHERE id % 3 = 0");
    // Updates leave the old version behind: it counts as overwritten data.
    for (int id = 5; id <= count; id += 10) {
      if (id % 3 == 0) continue;
      forget(id);
      db.Exec("DELETE FROM t WHERE id = " + std::to_string(id));
      put(rows[id] = MakeRow(id, 1, c.textLength));
    }
    sqlite3_finalize(insert);
    if (c.dropTable) {
      for (const auto& [id, row] : rows) forget(id);
      db.Exec("DROP TABLE t");
    } else {
      for (const auto& [id, row] : rows) {
        if (!gone.count(row.name)) {
          liveRows.insert(Canonical(row.name, row.n, row.r, row.blob, row.nullZ ? "null" : std::to_string(row.id)));
        }
      }
    }
  }
  Score score;
  // A row's bytes survive when its name (unique per row version) is still in the file.
  const std::vector<std::uint8_t> bytes = FileBytes(path);
  const std::string_view file(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const bool utf16 = c.pragmas.find("UTF-16") != std::string::npos;
  for (const auto& [name, canonical] : gone) {
    std::string stored;
    for (const char ch : name.substr(0, 40)) {
      if (utf16 && c.pragmas.find("be") != std::string::npos) stored.push_back('\0');
      stored.push_back(ch);
      if (utf16 && c.pragmas.find("le") != std::string::npos) stored.push_back('\0');
    }
    score.expected += file.find(stored) != std::string_view::npos;
  }
  std::set<std::string> found;
  FileHistory history = MainFileHistory(bytes);
  const CarveResult result = Carve(history, {}, [&](const CarvedRow& row) {
    if (row.table != "t") return;
    ++score.reported;
    score.overflow += row.source == CarveSource::Overflow && !row.partial;
    // Record order: id, name, n, r, b, z; WITHOUT ROWID puts the key first: name, n, r, b, z, id.
    const std::size_t at = c.withoutRowid ? 0 : 1;
    const auto& v = row.values;
    if (v.size() != 6 || v[at].kind != ValueKind::kText) {
      ++score.wrong;
      return;
    }
    const std::string& name = v[at].bytes;
    const CarvedValue& real = v[at + 2];
    const CarvedValue& z = v[at + 4];
    const std::string canonical = Canonical(name, v[at + 1].integer,
                                            real.kind == ValueKind::kReal ? real.real : static_cast<double>(real.integer),
                                            v[at + 3].bytes, z.kind == ValueKind::kNull ? "null" : std::to_string(z.integer));
    if (liveRows.count(canonical)) {
      ++score.live;
      return;
    }
    const auto truth = gone.find(name);
    if (row.partial) {
      // Only the local part is claimed: the name must begin a name that was deleted.
      bool prefix = false;
      for (const auto& [full, _] : gone) prefix |= full.rfind(name, 0) == 0;
      if (!prefix) ++score.wrong;
      return;
    }
    if (truth == gone.end() || (truth->second != canonical)) {
      ++score.wrong;
      std::printf("%s: ", c.label.c_str());
      std::printf("not a deleted row: %s at page %u offset %llu\n", canonical.c_str(), row.page,
                  static_cast<unsigned long long>(row.offset));
      return;
    }
    found.insert(name);
  });
  EXPECT_EQ(result.status, CarveStatus::kOk) << c.label << ": " << result.error;
  score.found = found.size();
  ExpectSameWhenSetAside(history, c.label);
  if (std::getenv("CARVE_DEBUG")) {
    for (const auto& [name, canonical] : gone) {
      const auto at = file.find(name.substr(0, 40));
      if (at == std::string_view::npos || found.count(name)) continue;
      std::printf("missed %s at page %zu +%zu:", name.c_str(), at / 1024 + 1, at % 1024);
      for (std::size_t i = at >= 12 ? at - 12 : 0; i < at; ++i) std::printf(" %02x", bytes[i]);
      std::printf("\n");
    }
  }
  return score;
}

TEST(CarveEngine, RecallAndPrecisionAcrossShapes) {
  const std::vector<Case> cases = {
      {"utf-8", "PRAGMA page_size=1024"},
      {"secure_delete", "PRAGMA page_size=1024", false, 0, 0, true},
      {"utf-16le", "PRAGMA encoding='UTF-16le'; PRAGMA page_size=1024"},
      {"utf-16be", "PRAGMA encoding='UTF-16be'; PRAGMA page_size=4096"},
      // Freed index cells lose the key text's serial type and the next one with it: rebuilt
      // from the cell's size (its freeblock's, or up to the next record of a merged block),
      // though a key ending in bytes that read as a character can still be split wrongly
      // against the number after it.
      {"without rowid", "PRAGMA page_size=1024", true, 0, 0, false, false, 0.76, 0.88},
      {"overflow values", "PRAGMA page_size=1024", false, 3000, 0, false, false, 0.99, 1.0, true},
      {"auto_vacuum incremental", "PRAGMA auto_vacuum=INCREMENTAL; PRAGMA page_size=1024"},
      {"auto_vacuum full", "PRAGMA auto_vacuum=FULL; PRAGMA page_size=1024", false, 0, 0, false, false, 0.0},
      {"reserved bytes", "PRAGMA page_size=1024", false, 0, 32, false, false, 0.99, 0.98},
      {"dropped table", "PRAGMA page_size=1024", false, 0, 0, false, true},
  };
  for (const Case& c : cases) {
    const Score s = RunCase(c);
    const double recall = s.expected ? static_cast<double>(s.found) / s.expected : 1.0;
    const double precision = s.reported ? 1.0 - static_cast<double>(s.wrong + s.live) / s.reported : 1.0;
    std::printf("%-26s expected %4zu found %4zu reported %4zu  recall %.3f precision %.3f\n", c.label.c_str(),
                s.expected, s.found, s.reported, recall, precision);
    EXPECT_EQ(s.live, 0u) << c.label;
    EXPECT_GE(precision, c.minPrecision) << c.label;
    EXPECT_GE(recall, c.minRecall) << c.label;
    if (c.completesOverflow) {
      EXPECT_GT(s.overflow, 0u) << c.label;
    }
    if (c.secureDelete) {
      EXPECT_EQ(s.reported, 0u) << c.label;
    }
  }
}

// Older page versions (as a write-ahead log would hold them) are read whole: the rows a later
// delete removed come back from them, the rows still live do not, and the options and the
// control reach the run.
TEST(CarveEngine, OlderVersionsOptionsAndControl) {
  test::TempDir dir;
  const std::string path = dir.Join("v.db");
  std::vector<std::uint8_t> before;
  {
    WritableDb db(path);
    db.Exec("PRAGMA page_size=1024; PRAGMA journal_mode=DELETE");
    testing::CreateSmallTable(db, 200);
    before = FileBytes(path);
    // With secure_delete the main file keeps nothing of what is deleted: all must come from history.
    db.Exec("PRAGMA secure_delete=ON; DELETE FROM people WHERE id % 2 = 0");
  }
  FileHistory history = MainFileHistory(FileBytes(path));
  const std::size_t pages = std::min(before.size(), history.currentBytes.size()) / 1024;
  for (std::uint32_t page = 1; page <= pages; ++page) {
    const std::span<const std::uint8_t> old(before.data() + (page - 1) * 1024, 1024);
    if (!std::equal(old.begin(), old.end(), history.currentBytes.begin() + (page - 1) * 1024)) {
      history.older.push_back({page, VersionSource::Wal, page, 0, true, old});
    }
  }
  ASSERT_FALSE(history.older.empty());

  const auto run = [&](const CarveOptions& options, const ScanControl* control, std::set<int>* ids) {
    return Carve(history, options, [&](const CarvedRow& row) {
      EXPECT_EQ(row.source, CarveSource::Wal);
      ASSERT_EQ(row.values.size(), 4u);
      const std::string name = row.values[1].bytes;
      const int id = static_cast<int>(row.values[0].integer);
      EXPECT_EQ(name, testing::SmallRowName(id));
      EXPECT_TRUE(ids->insert(id).second) << "reported twice: " << id;
    }, control);
  };
  std::set<int> deleted;
  std::vector<double> progress;
  ScanControl watch{nullptr, [&](double done) { progress.push_back(done); }};
  EXPECT_EQ(run({}, &watch, &deleted).status, CarveStatus::kOk);
  std::set<int> even;
  for (int id = 2; id <= 200; id += 2) even.insert(id);
  EXPECT_EQ(deleted, even);
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), 1.0);

  std::set<int> all;
  CarveOptions people;
  people.table = "PEOPLE";
  people.includeLive = true;
  EXPECT_EQ(run(people, nullptr, &all).status, CarveStatus::kOk);
  EXPECT_EQ(all.size(), 200u);
  std::set<int> none;
  CarveOptions other;
  other.table = "other";
  EXPECT_EQ(run(other, nullptr, &none).rowsReported, 0u);
  const ScanControl stop{[] { return true; }, nullptr};
  EXPECT_EQ(run({}, &stop, &none).status, CarveStatus::kStopped);
  EXPECT_TRUE(none.empty());
  ExpectSameWhenSetAside(history, "older versions");
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

// A real write-ahead log: rows deleted through SQLite with secure_delete on survive only in
// the frames of the log, which must be read as the history the carve walks. In an auto-vacuum
// file the log also keeps older pointer-map pages, whose entries must not read as rows of the
// table of numbers that lost none.
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
    const CarveResult result = Carve(read.history, {}, [&](const CarvedRow& row) {
      ASSERT_EQ(row.table, "people") << vacuum << ": page " << row.page << " offset " << row.offset;
      EXPECT_EQ(row.source, CarveSource::Wal);
      const int id = static_cast<int>(row.values[0].integer);
      EXPECT_EQ(row.values[1].bytes, testing::SmallRowName(id));
      found.insert({id, static_cast<int>(row.values[2].integer)});
    });
    EXPECT_EQ(result.status, CarveStatus::kOk);
    ExpectSameWhenSetAside(read.history, "log, auto_vacuum " + vacuum);
    std::set<std::pair<int, int>> gone;  // every deleted row and every row's value before its update
    for (int id = 1; id <= 120; ++id) {
      if (id % 3 == 0 || id % 7 == 0) gone.insert({id, id % 97});
      if (id % 3 == 0 && id % 7 == 0) gone.insert({id, id % 97 + 1000});
    }
    EXPECT_EQ(found, gone) << vacuum;
  }
}

}  // namespace
}  // namespace sieve::sqlite
