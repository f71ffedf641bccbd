// Builds small databases with the SQLite C API for the sqlite tests.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace sieve::sqlite::testing {

class WritableDb {
 public:
  explicit WritableDb(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << "cannot create " << path;
    }
  }
  ~WritableDb() { sqlite3_close(db_); }
  WritableDb(const WritableDb&) = delete;
  WritableDb& operator=(const WritableDb&) = delete;

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << (error ? error : "?");
    }
    sqlite3_free(error);
  }
  sqlite3* Handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

inline std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void PutBigEndian16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  bytes[at] = static_cast<std::uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<std::uint8_t>(value);
}

inline void PutBigEndian32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// The small table the carving tests use: rowid alias, text, integer and real columns. Each
// row's text names its id, so a carved record can be matched to the row it came from.
inline std::string SmallRowName(int id) { return "person-" + std::to_string(id) + "-" + std::string(id % 13, 'x'); }

inline void CreateSmallTable(WritableDb& db, int rows, int firstId = 1) {
  db.Exec("CREATE TABLE IF NOT EXISTS people(id INTEGER PRIMARY KEY, name TEXT, age INTEGER, score REAL); "
          "WITH RECURSIVE n(i) AS (SELECT " + std::to_string(firstId) + " UNION ALL SELECT i + 1 FROM n WHERE i < " +
          std::to_string(firstId + rows - 1) + ") INSERT INTO people SELECT i, 'person-' || i || '-' || "
          "substr('xxxxxxxxxxxx', 1, i % 13), i % 97, i + 0.25 FROM n");
}

}  // namespace sieve::sqlite::testing
