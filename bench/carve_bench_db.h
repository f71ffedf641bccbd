// The databases the carve benchmark reads: message-like rows with deleted ones among them,
// whole free pages, and a write-ahead log of updates. Generating a gigabyte takes minutes,
// so the command-line measurement keeps its files under the build tree between runs.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/bench_support.h"

namespace bench {

inline std::int64_t PragmaValue(sqlite3* db, const char* sql) {
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &q, nullptr);
  const std::int64_t value = sqlite3_step(q) == SQLITE_ROW ? sqlite3_column_int64(q, 0) : 0;
  sqlite3_finalize(q);
  return value;
}

inline double FreeFraction(sqlite3* db) {
  const std::int64_t pages = PragmaValue(db, "PRAGMA page_count");
  return pages > 0 ? static_cast<double>(PragmaValue(db, "PRAGMA freelist_count")) / static_cast<double>(pages) : 0.0;
}

// Message-like rows of 150 to 600 bytes, each with a small row of a second table of another
// shape, until the file reaches targetBytes; then deletes every third row and, with
// freePages, enough whole ranges to free about 30% of the pages. Gives the rows written.
inline std::int64_t BuildCarveDatabase(const std::string& path, std::uint64_t targetBytes, bool freePages) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  Exec(db, "PRAGMA page_size=4096; PRAGMA secure_delete=OFF; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF");
  Exec(db, "CREATE TABLE message(ROWID INTEGER PRIMARY KEY, guid TEXT, text TEXT, date INTEGER, "
           "is_from_me INTEGER, rate REAL)");
  Exec(db, "CREATE TABLE chat_message_join(chat_id INTEGER, message_id INTEGER, message_date INTEGER)");
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* join = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO message VALUES(?,?,?,?,?,?)", -1, &insert, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO chat_message_join VALUES(?,?,?)", -1, &join, nullptr);
  std::int64_t rows = 0;
  std::string text;
  Exec(db, "BEGIN");
  for (std::uint64_t written = 0; written < targetBytes; ++rows) {
    const std::string guid = "guid-" + std::to_string(rows) + "-0123456789abcdef";
    text.assign(120 + static_cast<std::size_t>((rows * 7919) % 450), static_cast<char>('a' + rows % 26));
    sqlite3_bind_int64(insert, 1, rows + 1);
    sqlite3_bind_text(insert, 2, guid.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 4, 600000000 + rows);
    sqlite3_bind_int(insert, 5, static_cast<int>(rows % 2));
    sqlite3_bind_double(insert, 6, rows * 0.5 + 0.25);
    sqlite3_step(insert);
    sqlite3_reset(insert);
    sqlite3_bind_int64(join, 1, 1 + rows % 97);
    sqlite3_bind_int64(join, 2, rows + 1);
    sqlite3_bind_int64(join, 3, 600000000 + rows);
    sqlite3_step(join);
    sqlite3_reset(join);
    written += guid.size() + text.size() + 50;
  }
  sqlite3_finalize(insert);
  sqlite3_finalize(join);
  Exec(db, "COMMIT");
  Exec(db, "DELETE FROM message WHERE ROWID % 3 = 0; DELETE FROM chat_message_join WHERE message_id % 3 = 0");
  if (freePages) {
    // Widens a deleted range in every 250 rows until whole empty pages make up 30% of the
    // file: the share a fixed range frees depends on row sizes, so it is measured.
    for (int range = 70; range < 250 && FreeFraction(db) < 0.30; range += 4) {
      Exec(db, "DELETE FROM message WHERE ROWID % 250 < " + std::to_string(range));
    }
  }
  sqlite3_close(db);
  return rows;
}

// Rewrites the text of spread-out rows in transactions of a few hundred until the log
// holds walBytes: many pages get several versions in it, the main file's copies stay
// behind. The connection closes without the checkpoint that would empty the log.
inline void GrowCarveLog(const std::string& path, std::uint64_t walBytes, std::int64_t rows) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  Exec(db, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; PRAGMA synchronous=OFF");
  const auto logBytes = [&] {
    std::error_code missing;  // no log before the first write
    const std::uintmax_t size = std::filesystem::file_size(path + "-wal", missing);
    return missing ? 0 : size;
  };
  for (std::int64_t round = 0; logBytes() < walBytes && round < 1000000; ++round) {
    const std::int64_t first = (round * 7919) % (rows > 0 ? rows : 1);
    Exec(db, "UPDATE message SET text = upper(text) || '" + std::to_string(round) + "' WHERE ROWID BETWEEN " +
                 std::to_string(first) + " AND " + std::to_string(first + 300));
  }
  sqlite3_close(db);
}

// The database of sizeMb with a log of walMb under `cache`: the kept one when its
// generation finished, else a new one (files of other sizes stay; each pair is named by its
// sizes and the generator's version).
inline std::string KeptCarveDatabase(const std::filesystem::path& cache, std::uint64_t sizeMb, std::uint64_t walMb) {
  constexpr int kGeneratorVersion = 2;
  const std::string stem = "carve-v" + std::to_string(kGeneratorVersion) + "-" + std::to_string(sizeMb) + "-" +
                           std::to_string(walMb);
  const std::string path = (cache / (stem + ".db")).string();
  const std::filesystem::path done = cache / (stem + ".done");
  if (std::filesystem::exists(done)) return path;
  std::filesystem::create_directories(cache);
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  const double seconds = SecondsOf(
      [&] {
        const std::int64_t rows = BuildCarveDatabase(path, sizeMb << 20, true);
        GrowCarveLog(path, walMb << 20, rows);
      },
      1);
  std::filesystem::remove(path + "-shm");
  std::FILE* mark = std::fopen(done.c_str(), "w");
  if (mark) std::fclose(mark);
  std::printf("generated %s and its log in %.1f s\n", path.c_str(), seconds);
  return path;
}

}  // namespace bench
