#include "sieve/sqlite/statement.h"

#include <sqlite3.h>

#include <climits>
#include <utility>

#include "sieve/reader/text.h"
#include "sieve/sqlite/read_damage.h"

namespace sieve::sqlite {
namespace {

// A query the file's damage cut short means the file was read only in part.
void NoteIfDamage(sqlite3* db, int code) {
  if (db == nullptr || !IsDamageResult(code)) return;
  const char* path = sqlite3_db_filename(db, "main");
  if (path != nullptr) NoteReadDamage(path, ReadDamage::kPartial, code);
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql, bool utf16Text) : utf16_(utf16Text) {
  if (db == nullptr || sql.size() > INT_MAX) {
    result_ = SQLITE_MISUSE;
    return;
  }
  result_ = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
  if (result_ != SQLITE_OK) {
    NoteIfDamage(db, result_);
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement::Statement(Statement&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)),
      utf16_(other.utf16_),
      hasRow_(std::exchange(other.hasRow_, false)),
      result_(other.result_) {}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    stmt_ = std::exchange(other.stmt_, nullptr);
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
  result_ = sqlite3_step(stmt_);
  hasRow_ = result_ == SQLITE_ROW;
  if (!hasRow_ && result_ != SQLITE_DONE) NoteIfDamage(sqlite3_db_handle(stmt_), result_);
  return hasRow_;
}

int Statement::Reset() {
  hasRow_ = false;
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
