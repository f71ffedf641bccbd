// Page history from real logs and journals that SQLite wrote. The current view is checked
// against SQLite itself reading the same (possibly damaged) main file and log. Older log
// generations after a checkpoint and the frames of a transaction that never committed are
// measured through the carve by tools/mkcarve's wal_generations case (carve_recall).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string_view>

#include "sieve/sqlite/page_history.h"
#include "sieve/sqlite/record_decoder.h"
#include "sqlite_fixture.h"
#include "support/test_support.h"

namespace sieve::sqlite {
namespace {

using testing::FileBytes;
using testing::PutBigEndian32;
using testing::WritableDb;
using Bytes = std::vector<std::uint8_t>;

std::string_view Text(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

void Write(const std::string& path, const Bytes& bytes) { test::WriteFile(path, Text(bytes)); }

// Every row of table t as SQLite reads the database at `path` (with its -wal if present).
std::string Rows(const std::string& path) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) {
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT id, v FROM t ORDER BY id", -1, &query, nullptr) == SQLITE_OK) {
      while (sqlite3_step(query) == SQLITE_ROW) {
        out += std::to_string(sqlite3_column_int64(query, 0)) + "=" +
               reinterpret_cast<const char*>(sqlite3_column_text(query, 1)) + ";";
      }
    } else {
      out = std::string("error: ") + sqlite3_errmsg(db);
    }
    sqlite3_finalize(query);
  }
  sqlite3_close(db);
  return out;
}

// Our current view must read as SQLite reads main + log (or main + journal, which SQLite
// rolls back first when it is hot), and the view laid over a mapping of the main file must
// hold the same bytes as the copied one (pages past the file, a page size below the
// system's, a log that shrinks the file).
void ExpectCurrentMatchesSqlite(const test::TempDir& dir, const Bytes& main, const Bytes& wal,
                                const FileHistory& history, const std::string& what, const Bytes& journal = {}) {
  static int serial = 0;
  const std::string stem = dir.Join("check" + std::to_string(++serial));
  Write(stem + ".db", main);
  if (!wal.empty()) Write(stem + ".db-wal", wal);
  if (!journal.empty()) Write(stem + ".db-journal", journal);
  Write(stem + "-ours.db", history.currentBytes);
  const std::string theirs = Rows(stem + ".db");
  EXPECT_EQ(Rows(stem + "-ours.db"), theirs) << what;
  const FileHistoryResult mapped = ReadFileHistory(stem + ".db", main, wal, journal);
  ASSERT_TRUE(mapped.ok()) << what;
  EXPECT_EQ(mapped.history.currentMapping != nullptr, !history.currentBytes.empty()) << what;
  EXPECT_TRUE(Text(mapped.history.current.bytes) == Text(history.currentBytes)) << what;
  EXPECT_EQ(mapped.history.older.size(), history.older.size()) << what;
  const FileHistoryResult overlaid = ReadFileHistory(stem + ".db", main, wal, journal, dir.Path());
  ASSERT_TRUE(overlaid.ok()) << what;
  EXPECT_TRUE(Text(overlaid.history.current.bytes) == Text(history.currentBytes)) << what << " (overlay)";
}

// Mappings of this process that name `folder`: the overlay's unnamed file shows there.
int MappingsIn(const std::string& folder) {
  std::ifstream maps("/proc/self/maps");
  int count = 0;
  for (std::string line; std::getline(maps, line);) count += line.find(folder) != std::string::npos;
  return count;
}

bool AnyVersionHolds(const FileHistory& history, VersionSource source, std::string_view text,
                     const std::function<bool(const PageVersion&)>& also = {}) {
  return std::any_of(history.older.begin(), history.older.end(), [&](const PageVersion& v) {
    return v.source == source && Text(v.bytes).find(text) != std::string_view::npos && (!also || also(v));
  });
}

// A WAL database with autocheckpoint off; `db` stays open so the -wal stays on disk.
struct WalDb {
  explicit WalDb(const test::TempDir& dir, int pageSize = 1024) : path(dir.Join("w.db")), db(path) {
    db.Exec("PRAGMA page_size=" + std::to_string(pageSize));
    db.Exec("PRAGMA journal_mode=WAL");
    db.Exec("PRAGMA wal_autocheckpoint=0");
    db.Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)");
  }
  Bytes Main() const { return FileBytes(path); }
  Bytes Wal() const { return FileBytes(path + "-wal"); }
  std::string path;
  WritableDb db;
};

// With a folder for it, the pages a log replaces are mapped from a file there (where the page
// size is a multiple of the system's) and read the same as copied ones.
TEST(PageHistory, PagesTheLogReplacesMapFromAFile) {
  for (const int pageSize : {1024, 4096, 65536}) {
    const std::string what = "page size " + std::to_string(pageSize);
    test::TempDir dir;
    WalDb w(dir, pageSize);
    for (int i = 0; i < 300; ++i) w.db.Exec("INSERT INTO t VALUES(" + std::to_string(i) + ",'" + std::string(150, 'a') + "')");
    w.db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    w.db.Exec("UPDATE t SET v='changed' WHERE id % 40 = 0");
    for (int i = 300; i < 400; ++i) w.db.Exec("INSERT INTO t VALUES(" + std::to_string(i) + ",'" + std::string(1500, 'b') + "')");
    const Bytes main = w.Main(), wal = w.Wal();
    const FileHistoryResult copied = ReadFileHistory(main, wal, {});
    ASSERT_TRUE(copied.ok()) << what;
    const std::string folder = dir.Join("overlay");
    std::filesystem::create_directory(folder);
    const FileHistoryResult overlaid = ReadFileHistory(w.path, main, wal, {}, folder);
    ASSERT_TRUE(overlaid.ok()) << what;
    EXPECT_TRUE(Text(overlaid.history.current.bytes) == Text(copied.history.currentBytes)) << what;
    // The header is read from the view as soon as it is built (the log grew the file).
    EXPECT_EQ(overlaid.history.current.header.headerPageCount, copied.history.current.header.headerPageCount) << what;
    EXPECT_GT(overlaid.history.current.header.headerPageCount, ReadDatabaseHeader(main).headerPageCount) << what;
    EXPECT_EQ(MappingsIn(folder) > 0, pageSize >= 4096) << what;
  }
}

TEST(PageHistory, SupersededFramesAndMainPagesAreHistory) {
  test::TempDir dir;
  WalDb w(dir);
  w.db.Exec("INSERT INTO t VALUES(1,'first-version')");
  w.db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");  // the row reaches the main file
  for (const char* v : {"second-version", "third-version", "fourth-version"}) {
    w.db.Exec(std::string("UPDATE t SET v='") + v + "' WHERE id=1");
  }
  const Bytes main = w.Main(), wal = w.Wal();
  auto result = ReadFileHistory(main, wal, {});
  ASSERT_TRUE(result.ok()) << result.error;
  const FileHistory& h = result.history;
  ExpectCurrentMatchesSqlite(dir, main, wal, h, "three updates");
  EXPECT_NE(Text(h.currentBytes).find("fourth-version"), std::string_view::npos);
  EXPECT_TRUE(AnyVersionHolds(h, VersionSource::Main, "first-version"));
  for (const char* v : {"second-version", "third-version"}) {
    EXPECT_TRUE(AnyVersionHolds(h, VersionSource::Wal, v, [](const PageVersion& p) {
      return p.committed && p.generation == 0 && p.frame > 0;
    })) << v;
  }
  EXPECT_FALSE(AnyVersionHolds(h, VersionSource::Wal, "fourth-version"));  // it is current
  for (const PageVersion& v : h.older) EXPECT_EQ(v.bytes.size(), 1024u);
}

// A main file of several system pages that ends inside one, then a log that grows the file
// and one that shrinks it (VACUUM).
TEST(PageHistory, ALogThatGrowsOrShrinksTheFile) {
  test::TempDir dir;
  WalDb w(dir);
  const auto insert = [&](int from, int to) {
    for (int i = from; i < to; ++i) w.db.Exec("INSERT INTO t VALUES(" + std::to_string(i) + ",'" + std::string(200, 'v') + "')");
  };
  insert(0, 44);
  w.db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  const Bytes main = w.Main();
  ASSERT_GT(main.size(), 8192u);
  ASSERT_NE(main.size() % 4096, 0u);
  w.db.Exec("UPDATE t SET v='changed' WHERE id=3");
  insert(44, 90);
  const auto check = [&](const char* what, bool shrunk) {
    const Bytes wal = w.Wal();
    auto result = ReadFileHistory(main, wal, {});
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(result.history.currentBytes.size() < main.size(), shrunk) << what;
    ExpectCurrentMatchesSqlite(dir, main, wal, result.history, what);
  };
  check("grown by the log", false);
  w.db.Exec("DELETE FROM t WHERE id > 2");
  w.db.Exec("VACUUM");
  check("vacuum in the log", true);
}

// Recomputes every checksum of the log, so a lie in it reads as a log SQLite itself wrote.
void Resign(Bytes& wal, std::size_t pageSize) {
  const bool bigEndian = wal[3] & 1;
  std::uint32_t s0 = 0, s1 = 0;
  const auto sum = [&](std::size_t at, std::size_t size) {
    for (std::size_t i = at; i < at + size; i += 8) {
      std::uint32_t x[2] = {0, 0};
      for (int w = 0; w < 2; ++w) {
        for (int k = 0; k < 4; ++k) x[w] |= std::uint32_t{wal[i + 4 * w + k]} << (bigEndian ? 24 - 8 * k : 8 * k);
      }
      s0 += x[0] + s1;
      s1 += x[1] + s0;
    }
  };
  sum(0, 24);
  PutBigEndian32(wal, 24, s0);
  PutBigEndian32(wal, 28, s1);
  for (std::size_t at = 32; at + 24 + pageSize <= wal.size(); at += 24 + pageSize) {
    sum(at, 8);
    sum(at + 24, pageSize);
    PutBigEndian32(wal, at + 16, s0);
    PutBigEndian32(wal, at + 20, s1);
  }
}

// Damaged logs: each is either refused with a clear status or read exactly as SQLite reads it.
TEST(PageHistory, DamagedLogs) {
  test::TempDir dir;
  WalDb w(dir);
  for (int i = 0; i < 5; ++i) w.db.Exec("INSERT INTO t VALUES(" + std::to_string(i) + ",'row-" + std::to_string(i) + "')");
  const Bytes main = w.Main(), good = w.Wal();
  const std::size_t frame = 24 + 1024;
  ASSERT_GE(good.size(), 32 + 5 * frame);
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    HistoryStatus status;
    bool warns;
    bool resign = false;
  };
  const std::size_t last = 32 + (good.size() - 32) / frame * frame - frame;  // the last frame, a commit
  const Case cases[] = {
      {"intact", [](Bytes&) {}, HistoryStatus::kOk, false},
      {"bad magic", [](Bytes& b) { b[3] = 0x00; }, HistoryStatus::kBadWal, false},
      {"unknown version", [](Bytes& b) { b[7] ^= 1; }, HistoryStatus::kBadWal, false},
      {"page size 2048", [](Bytes& b) { PutBigEndian32(b, 8, 2048); }, HistoryStatus::kPageSizeMismatch, false},
      {"page size 1000", [](Bytes& b) { PutBigEndian32(b, 8, 1000); }, HistoryStatus::kBadWal, false},
      {"header only in part", [](Bytes& b) { b.resize(20); }, HistoryStatus::kBadWal, false},
      {"last frame cut short", [&](Bytes& b) { b.resize(b.size() - 100); }, HistoryStatus::kOk, true},
      {"header checksum wrong", [](Bytes& b) { b[27] ^= 1; }, HistoryStatus::kOk, true},
      {"third frame's page damaged", [&](Bytes& b) { b[32 + 2 * frame + 24 + 500] ^= 0xff; }, HistoryStatus::kOk, true},
      {"third frame from another generation", [&](Bytes& b) { b[32 + 2 * frame + 8] ^= 1; }, HistoryStatus::kOk, true},
      {"huge page number past the chain", [&](Bytes& b) {
         b[32 + frame + 24 + 7] ^= 1;  // breaks the chain at frame 2
         PutBigEndian32(b, 32 + 3 * frame, 0xfffffff0);
       }, HistoryStatus::kOk, true},
      {"commit claims 2^32-1 pages", [&](Bytes& b) { PutBigEndian32(b, last + 4, 0xffffffff); }, HistoryStatus::kOk, true, true},
      {"committed frame of page 2^32-16", [&](Bytes& b) { PutBigEndian32(b, last, 0xfffffff0); }, HistoryStatus::kOk, false, true},
      {"commit of page 5000 in a 3-page file", [&](Bytes& b) {
         PutBigEndian32(b, last, 5000);
         PutBigEndian32(b, last + 4, 5000);
       }, HistoryStatus::kTooLarge, false, true},
  };
  for (const Case& c : cases) {
    Bytes wal = good;
    c.damage(wal);
    if (c.resign) Resign(wal, 1024);
    auto result = ReadFileHistory(main, wal, {});
    EXPECT_EQ(result.status, c.status) << c.what << ": " << result.error;
    if (!result.ok()) {
      EXPECT_FALSE(result.error.empty()) << c.what;
      continue;
    }
    EXPECT_EQ(!result.history.warnings.empty(), c.warns) << c.what;
    ExpectCurrentMatchesSqlite(dir, main, wal, result.history, c.what);
    // Each frame is listed at most once, by its place in the file.
    std::vector<std::uint32_t> frames;
    for (const PageVersion& v : result.history.older) {
      if (v.source == VersionSource::Wal) frames.push_back(v.frame);
    }
    std::sort(frames.begin(), frames.end());
    EXPECT_EQ(std::adjacent_find(frames.begin(), frames.end()), frames.end()) << c.what;
    EXPECT_TRUE(frames.empty() || (frames.front() >= 1 && frames.back() <= (wal.size() - 32) / frame)) << c.what;
  }
  EXPECT_TRUE(AnyVersionHolds(ReadFileHistory(main, good, {}).history, VersionSource::Main, "SQLite format 3"));
  EXPECT_EQ(ReadFileHistory(Bytes(3000, 7), good, {}).status, HistoryStatus::kNotSqlite);
}

TEST(PageHistory, RollbackJournalHoldsPagesBeforeTheChange) {
  test::TempDir dir;
  const std::string path = dir.Join("j.db");
  WritableDb db(path);
  db.Exec("PRAGMA page_size=1024");
  db.Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)");
  for (int i = 0; i < 40; ++i) db.Exec("INSERT INTO t VALUES(" + std::to_string(i) + ",'original-" + std::string(100, 'o') + "')");
  db.Exec("PRAGMA journal_mode=PERSIST");
  const Bytes before = FileBytes(path);

  db.Exec("BEGIN");
  db.Exec("UPDATE t SET v=replace(v, 'original-', 'changed--')");  // every table page
  const Bytes hot = FileBytes(path + "-journal");  // mid-transaction: all of the header but its magic
  db.Exec("COMMIT");
  const Bytes persisted = FileBytes(path + "-journal");  // committed: header zeroed
  const Bytes after = FileBytes(path);
  ASSERT_EQ(persisted[0], 0);
  // A smaller transaction: its records, then the larger one's behind them under another nonce.
  db.Exec("UPDATE t SET v='last' WHERE id=0");
  const Bytes layered = FileBytes(path + "-journal");

  const auto asBefore = [&](const PageVersion& v) {
    return std::size_t{v.page} * 1024 <= before.size() &&
           Text(v.bytes) == Text(std::span(before).subspan((v.page - 1) * 1024, 1024));
  };
  for (const Bytes* journal : {&hot, &persisted}) {
    auto result = ReadFileHistory(after, {}, *journal);
    ASSERT_TRUE(result.ok()) << result.error;
    std::size_t records = 0;
    for (const PageVersion& v : result.history.older) {
      if (v.source != VersionSource::Journal) continue;
      ++records;
      EXPECT_TRUE(asBefore(v)) << "page " << v.page << " is not as the main file held it before";
    }
    EXPECT_GE(records, 4u);
    EXPECT_EQ(Text(result.history.currentBytes), Text(after));
  }
  auto result = ReadFileHistory(FileBytes(path), {}, layered);
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_TRUE(AnyVersionHolds(result.history, VersionSource::Journal, "changed--"));
  EXPECT_TRUE(AnyVersionHolds(result.history, VersionSource::Journal, "original-", asBefore));

  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    HistoryStatus status;
  };
  const Case cases[] = {
      {"bad magic", [](Bytes& b) { b[0] = 0x11; }, HistoryStatus::kBadJournal},
      {"page size 4096", [](Bytes& b) { PutBigEndian32(b, 24, 4096); }, HistoryStatus::kPageSizeMismatch},
      {"sector size 3", [](Bytes& b) { PutBigEndian32(b, 20, 3); }, HistoryStatus::kBadJournal},
      {"truncated header", [](Bytes& b) { b.resize(20); }, HistoryStatus::kBadJournal},
      {"record cut short", [](Bytes& b) { b.resize(b.size() - 10); }, HistoryStatus::kOk},
      {"record count past the end", [](Bytes& b) { PutBigEndian32(b, 8, 0x7fffffff); }, HistoryStatus::kOk},
      {"checksummed byte of the last page damaged", [](Bytes& b) { b[b.size() - 204] ^= 0xff; }, HistoryStatus::kOk},
  };
  for (const Case& c : cases) {
    Bytes journal = hot;
    c.damage(journal);
    result = ReadFileHistory(after, {}, journal);
    EXPECT_EQ(result.status, c.status) << c.what << ": " << result.error;
    for (const PageVersion& v : result.history.older) EXPECT_TRUE(asBefore(v)) << c.what << ": page " << v.page;
  }
}

TEST(PageHistory, HotJournalIsRolledBackAndTheSpilledPagesAreHistory) {
  test::TempDir dir;
  const std::string path = dir.Join("h.db");
  WritableDb db(path);
  db.Exec("PRAGMA page_size=1024");
  db.Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)");
  for (int i = 0; i < 60; ++i) db.Exec("INSERT INTO t VALUES(" + std::to_string(i) + ",'kept-" + std::string(80, 'k') + "')");
  db.Exec("PRAGMA cache_size=1");  // the open transaction spills its pages into the main file
  db.Exec("BEGIN");
  db.Exec("UPDATE t SET v='spilled-" + std::string(80, 's') + "'");
  for (int i = 60; i < 160; ++i) db.Exec("INSERT INTO t VALUES(" + std::to_string(i) + ",'spilled-grown')");
  const Bytes main = FileBytes(path), hot = FileBytes(path + "-journal");
  db.Exec("ROLLBACK");
  ASSERT_GT(hot.size(), 28u);
  ASSERT_NE(hot[0], 0) << "the journal is not hot";
  ASSERT_NE(Text(main).find("spilled-"), std::string_view::npos) << "nothing spilled";
  const std::uint32_t sector = BigEndian32(hot.data() + 20);

  struct Case {
    const char* what;
    std::function<void(Bytes&)> change;
    bool hot;
    bool allPutBack;  // every spilled page within the old size gets its old content back
  };
  const Case cases[] = {
      {"as written", [](Bytes&) {}, true, true},
      {"record count 0: nothing played back", [](Bytes& b) { PutBigEndian32(b, 8, 0); }, true, false},
      {"first record fails its checksum", [&](Bytes& b) { b[sector + 4 + 1024 - 200] ^= 0xff; }, true, false},
      {"magic zeroed: not hot", [](Bytes& b) { std::fill(b.begin(), b.begin() + 8, 0); }, false, false},
  };
  for (const Case& c : cases) {
    Bytes journal = hot;
    c.change(journal);
    auto result = ReadFileHistory(main, {}, journal);
    ASSERT_TRUE(result.ok()) << c.what << ": " << result.error;
    const FileHistory& h = result.history;
    ExpectCurrentMatchesSqlite(dir, main, {}, h, c.what, journal);
    EXPECT_EQ(h.journalRolledBack, c.hot) << c.what;
    const bool spilledCurrent = Text(h.currentBytes).find("spilled-") != std::string_view::npos;
    EXPECT_EQ(spilledCurrent, !c.allPutBack) << c.what;
    // What the rollback overwrote (or cut off) is history.
    EXPECT_EQ(AnyVersionHolds(h, VersionSource::Main, "spilled-"), c.allPutBack) << c.what;
    // A page put back is current, not history as well.
    for (const PageVersion& v : h.older) {
      if (c.hot && v.source == VersionSource::Journal && v.page <= h.current.header.pageCount) {
        EXPECT_NE(Text(v.bytes), Text(std::span(h.currentBytes).subspan((v.page - 1) * 1024, 1024))) << c.what;
      }
    }
  }
}

}  // namespace
}  // namespace sieve::sqlite
