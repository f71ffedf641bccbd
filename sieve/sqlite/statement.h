// A prepared SQLite statement that finalizes itself. Column getters are safe to call on any
// index: outside the current row they give NULL, 0 or empty.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace sieve::sqlite {

// How much work of SQLite's virtual machine the statements of one connection may do
// before the file is suspected, or known, to hold a loop of pages (see Database::Open),
// counted in calls of the connection's progress handler. A loop gives the same rows again
// and again, and each may cost the reader far more than SQLite spends on it.
struct StepBudget {
  enum class Verdict : std::uint8_t { kUnchecked, kSound, kDamaged };
  std::uint64_t suspicion = 0;  // calls after which a statement has the file checked once
  std::uint64_t limit = 0;      // calls no statement may take: one step going round
  std::uint64_t used = 0;       // by the statement now stepping
  Verdict verdict = Verdict::kUnchecked;
  bool checking = false;        // the file's check runs: it is not counted
  bool overrun = false;         // the handler just interrupted a statement
};

class Statement {
 public:
  Statement() = default;
  // utf16Text: the database stores text as UTF-16 (see Database::Prepare). budget: the
  // connection's, when it has one.
  Statement(sqlite3* db, std::string_view sql, bool utf16Text, std::shared_ptr<StepBudget> budget = nullptr);
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Ok() const { return stmt_ != nullptr; }
  // SQLite code of the last prepare, bind or step; SQLITE_CORRUPT for one cut short for
  // overrunning its budget.
  int Result() const { return result_; }

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
  // After a prepare or step: an interruption for overrunning the budget counts as damage.
  void TakeResult(sqlite3* db, int code);
  // False when the budget says the file goes round a loop (its check run first if due).
  bool WithinBudget();

  sqlite3_stmt* stmt_ = nullptr;
  std::shared_ptr<StepBudget> budget_;  // shared: a statement may outlive its Database
  std::uint64_t used_ = 0;              // budget spent since the statement was last reset
  bool utf16_ = false;  // the database stores text as UTF-16
  bool hasRow_ = false;
  int result_ = 0;
};

}  // namespace sieve::sqlite
