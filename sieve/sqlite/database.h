// Read-only access to a database of a backup through SQLite, for the live rows.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/sqlite/statement.h"

struct sqlite3;

namespace sieve::sqlite {

// "file://" URI for a path, with every byte outside [A-Za-z0-9/._~-] percent-encoded, so a
// folder name holding '?', '#' or '%' cannot add URI parameters. Relative paths are made
// absolute first.
std::string ReadOnlyUri(const std::string& path, bool immutable);

class Database {
 public:
  Database() = default;
  ~Database();
  Database(Database&& other) noexcept;
  Database& operator=(Database&& other) noexcept;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens read-only (mode=ro); immutable also tells SQLite the file cannot change, so it
  // takes no locks and looks for no journal or write-ahead log: use it when none applies.
  // Never creates the file. Returns the SQLite result code; on failure nothing stays open.
  // Every statement of the connection gets a budget of work in proportion to the file's
  // size (see StepBudget): one that takes more is going round a loop of damaged pages, so
  // it is cut short as if SQLite had found the damage itself.
  int Open(const std::string& path, bool immutable);
  bool IsOpen() const { return db_ != nullptr; }
  void Close();

  // Table or view of that name (ASCII case ignored, as SQL does).
  bool TableExists(std::string_view table);
  std::vector<std::string> ColumnNames(std::string_view table);
  bool HasColumn(std::string_view table, std::string_view column);

  Statement Prepare(std::string_view sql);  // check Statement::Ok()
  std::string ErrorMessage() const;
  sqlite3* Handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
  bool utf16Text_ = false;
  std::shared_ptr<StepBudget> budget_;
};

}  // namespace sieve::sqlite
