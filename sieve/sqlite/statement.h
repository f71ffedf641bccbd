// A prepared SQLite statement that finalizes itself. Column getters are safe to call on any
// index: outside the current row they give NULL, 0 or empty.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace sieve::sqlite {

class Statement {
 public:
  Statement() = default;
  // utf16Text: the database stores text as UTF-16 (see Database::Prepare).
  Statement(sqlite3* db, std::string_view sql, bool utf16Text);
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Ok() const { return stmt_ != nullptr; }
  int Result() const { return result_; }  // SQLite code of the last prepare, bind or step

  // Parameters are 1-based, as in SQL.
  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, std::string_view text);
  Statement& BindNull(int index);

  bool Step();  // true while a row is available
  int Reset();

  int ColumnCount() const;
  int Type(int col) const;  // SQLITE_INTEGER ... SQLITE_NULL
  bool IsNull(int col) const;
  std::int64_t Int64(int col) const;
  std::int32_t Int(int col) const;
  double Double(int col) const;
  // Column text as valid UTF-8: NULL gives "", every '?' of the data stays, broken sequences
  // (including unpaired UTF-16 surrogates in UTF-16 databases) become U+FFFD.
  std::string Text(int col) const;
  std::vector<std::uint8_t> Blob(int col) const;
  // The same bytes without a copy; valid until the next Step, Reset or column call.
  std::string_view BlobView(int col) const;

 private:
  bool HasColumn(int col) const;

  sqlite3_stmt* stmt_ = nullptr;
  bool utf16_ = false;  // the database stores text as UTF-16
  bool hasRow_ = false;
  int result_ = 0;
};

}  // namespace sieve::sqlite
