#include "sieve/sqlite/statement.h"

#include <sqlite3.h>

#include <climits>
#include <cstring>
#include <utility>

#include "sieve/reader/text.h"
#include "sieve/sqlite/read_damage.h"

namespace sieve::sqlite {
namespace {

// SQLite's own check of the file's structure, which finds every page a tree names twice;
// it reads the whole file, so it runs only once a statement did more work than the file's
// size explains. Stops at the first fault. Unchecked when a scan's stop cut it short.
StepBudget::Verdict CheckStructure(sqlite3* db) {
  using Verdict = StepBudget::Verdict;
  sqlite3_stmt* check = nullptr;
  Verdict verdict = Verdict::kDamaged;
  int code = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &check, nullptr);
  if (code == SQLITE_OK) code = sqlite3_step(check);
  if (code == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
    if (text != nullptr && std::strcmp(text, "ok") == 0) verdict = Verdict::kSound;
  } else if ((code & 0xff) == SQLITE_INTERRUPT) {
    verdict = Verdict::kUnchecked;
  }
  sqlite3_finalize(check);
  return verdict;
}

// A query the file's damage cut short means the file was read only in part.
void NoteIfDamage(sqlite3* db, int code) {
  if (db == nullptr || !IsDamageResult(code)) return;
  const char* path = sqlite3_db_filename(db, "main");
  if (path != nullptr) NoteReadDamage(path, ReadDamage::kPartial, code);
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql, bool utf16Text, std::shared_ptr<StepBudget> budget)
    : budget_(std::move(budget)), utf16_(utf16Text) {
  if (db == nullptr || sql.size() > INT_MAX) {
    result_ = SQLITE_MISUSE;
    return;
  }
  // Preparing may read the schema, itself a statement that may go round a loop.
  if (budget_) budget_->used = 0;
  const int code = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
  TakeResult(db, code);
  if (result_ != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement::Statement(Statement&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)),
      budget_(std::move(other.budget_)),
      used_(std::exchange(other.used_, 0)),
      utf16_(other.utf16_),
      hasRow_(std::exchange(other.hasRow_, false)),
      result_(other.result_) {}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    stmt_ = std::exchange(other.stmt_, nullptr);
    budget_ = std::move(other.budget_);
    used_ = std::exchange(other.used_, 0);
    utf16_ = other.utf16_;
    hasRow_ = std::exchange(other.hasRow_, false);
    result_ = other.result_;
  }
  return *this;
}

Statement& Statement::Bind(int index, std::int64_t value) {
  if (stmt_) result_ = sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  if (!stmt_) return *this;
  if (text.size() > INT_MAX) {
    result_ = SQLITE_TOOBIG;
    return *this;
  }
  result_ = sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindNull(int index) {
  if (stmt_) result_ = sqlite3_bind_null(stmt_, index);
  return *this;
}

bool Statement::Step() {
  hasRow_ = false;
  if (!stmt_) return false;
  // The connection counts for whichever statement steps: this one's count so far goes in
  // and comes back out, so statements stepped in turn (one per row of another) each keep
  // their own.
  if (budget_) {
    if (!WithinBudget()) {
      result_ = SQLITE_CORRUPT;
      NoteIfDamage(sqlite3_db_handle(stmt_), result_);
      return false;
    }
    budget_->used = used_;
  }
  const int code = sqlite3_step(stmt_);
  if (budget_) used_ = budget_->used;
  TakeResult(sqlite3_db_handle(stmt_), code);
  hasRow_ = result_ == SQLITE_ROW;
  return hasRow_;
}

bool Statement::WithinBudget() {
  using Verdict = StepBudget::Verdict;
  if (budget_->verdict == Verdict::kUnchecked && used_ > budget_->suspicion) {
    budget_->checking = true;
    budget_->verdict = CheckStructure(sqlite3_db_handle(stmt_));
    budget_->checking = false;
  }
  // A file with a loop gives nothing more, to any statement: each row could be one more
  // time round.
  return budget_->verdict != Verdict::kDamaged;
}

void Statement::TakeResult(sqlite3* db, int code) {
  result_ = code;
  if (budget_ && budget_->overrun) {
    budget_->overrun = false;
    if ((code & 0xff) == SQLITE_INTERRUPT) result_ = SQLITE_CORRUPT;
  }
  if (result_ != SQLITE_OK && result_ != SQLITE_ROW && result_ != SQLITE_DONE) NoteIfDamage(db, result_);
}

int Statement::Reset() {
  hasRow_ = false;
  used_ = 0;
  if (!stmt_) return SQLITE_MISUSE;
  result_ = sqlite3_reset(stmt_);
  return result_;
}

int Statement::ColumnCount() const { return stmt_ ? sqlite3_column_count(stmt_) : 0; }

bool Statement::HasColumn(int col) const { return hasRow_ && col >= 0 && col < ColumnCount(); }

int Statement::Type(int col) const { return HasColumn(col) ? sqlite3_column_type(stmt_, col) : SQLITE_NULL; }

bool Statement::IsNull(int col) const { return Type(col) == SQLITE_NULL; }

std::int64_t Statement::Int64(int col) const { return HasColumn(col) ? sqlite3_column_int64(stmt_, col) : 0; }

std::int32_t Statement::Int(int col) const { return HasColumn(col) ? sqlite3_column_int(stmt_, col) : 0; }

double Statement::Double(int col) const { return HasColumn(col) ? sqlite3_column_double(stmt_, col) : 0.0; }

std::string Statement::Text(int col) const {
  if (!HasColumn(col) || sqlite3_column_type(stmt_, col) == SQLITE_NULL) return {};
  if (utf16_ && sqlite3_column_type(stmt_, col) == SQLITE_TEXT) {
    // SQLite hands UTF-16 text over unchanged in the host's byte order; our own conversion
    // turns unpaired surrogates into U+FFFD.
    const auto* units = static_cast<const char16_t*>(sqlite3_column_text16(stmt_, col));
    const int bytes = sqlite3_column_bytes16(stmt_, col);
    if (units == nullptr) return {};
    return Utf16ToUtf8(std::u16string_view(units, static_cast<std::size_t>(bytes) / 2));
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
  const int bytes = sqlite3_column_bytes(stmt_, col);
  if (text == nullptr) return {};
  return SanitizeUtf8(std::string_view(text, static_cast<std::size_t>(bytes)));
}

std::vector<std::uint8_t> Statement::Blob(int col) const {
  if (!HasColumn(col)) return {};
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, col));
  const int bytes = sqlite3_column_bytes(stmt_, col);
  if (data == nullptr || bytes <= 0) return {};
  return std::vector<std::uint8_t>(data, data + bytes);
}

std::string_view Statement::BlobView(int col) const {
  if (!HasColumn(col)) return {};
  const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, col));
  const int bytes = sqlite3_column_bytes(stmt_, col);
  if (data == nullptr || bytes <= 0) return {};
  return std::string_view(data, static_cast<std::size_t>(bytes));
}

}  // namespace sieve::sqlite
