#include "sieve/sqlite/database.h"

#include <sqlite3.h>

#include <cctype>
#include <filesystem>
#include <utility>

#include "sieve/reader/text.h"
#include "sieve/sqlite/read_damage.h"

namespace sieve::sqlite {

namespace {

bool KeptInUri(unsigned char c) {
  return std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '~' || c == '-';
}

bool StoresUtf16(sqlite3* db) {
  Statement pragma(db, "PRAGMA encoding", false);
  return pragma.Step() && pragma.Text(0).starts_with("UTF-16");
}

}  // namespace

std::string ReadOnlyUri(const std::string& path, bool immutable) {
  std::error_code ec;
  std::string absolute = std::filesystem::absolute(path, ec).string();
  if (ec || absolute.empty()) absolute = path;
  static constexpr char kHex[] = "0123456789ABCDEF";
  // "file://" followed by an absolute path: the authority is empty even when the path
  // itself starts with "//".
  std::string uri = "file://";
  for (const char ch : absolute) {
    const auto c = static_cast<unsigned char>(ch);
    if (KeptInUri(c)) {
      uri.push_back(ch);
    } else {
      uri.push_back('%');
      uri.push_back(kHex[c >> 4]);
      uri.push_back(kHex[c & 15]);
    }
  }
  uri += "?mode=ro";
  if (immutable) uri += "&immutable=1";
  return uri;
}

Database::~Database() { Close(); }

Database::Database(Database&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), utf16Text_(other.utf16Text_) {}

Database& Database::operator=(Database&& other) noexcept {
  if (this != &other) {
    Close();
    db_ = std::exchange(other.db_, nullptr);
    utf16Text_ = other.utf16Text_;
  }
  return *this;
}

int Database::Open(const std::string& path, bool immutable) {
  Close();
  const std::string uri = ReadOnlyUri(path, immutable);
  const int result = sqlite3_open_v2(uri.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  if (result != SQLITE_OK) {
    Close();
    NoteReadDamage(path, ReadDamage::kUnreadable, result);
    return result;
  }
  sqlite3_extended_result_codes(db_, 1);
  // SQLite reads the file lazily; read the schema now so a file that is not a database (or
  // is encrypted) fails here, with its code, rather than at the first query.
  {
    Statement probe(db_, "SELECT count(*) FROM sqlite_master", false);
    if (!probe.Ok() || !probe.Step()) {
      const int code = probe.Result() == SQLITE_OK || probe.Result() == SQLITE_DONE
                           ? SQLITE_ERROR
                           : probe.Result();
      Close();
      NoteReadDamage(path, ReadDamage::kUnreadable, code);
      return code;
    }
  }
  utf16Text_ = StoresUtf16(db_);
  return SQLITE_OK;
}

void Database::Close() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
  utf16Text_ = false;
}

bool Database::TableExists(std::string_view table) {
  Statement query = Prepare(
      "SELECT 1 FROM sqlite_master WHERE type IN ('table','view') AND name = ?1 COLLATE NOCASE");
  return query.Ok() && query.Bind(1, table).Step();
}

std::vector<std::string> Database::ColumnNames(std::string_view table) {
  std::vector<std::string> names;
  Statement query = Prepare("SELECT name FROM pragma_table_info(?1)");
  if (!query.Ok()) return names;
  query.Bind(1, table);
  while (query.Step()) names.push_back(query.Text(0));
  return names;
}

bool Database::HasColumn(std::string_view table, std::string_view column) {
  const std::string wanted = ToLowerAscii(column);
  for (const std::string& name : ColumnNames(table)) {
    if (ToLowerAscii(name) == wanted) return true;
  }
  return false;
}

Statement Database::Prepare(std::string_view sql) { return Statement(db_, sql, utf16Text_); }

std::string Database::ErrorMessage() const {
  if (db_ == nullptr) return "database not open";
  return SanitizeUtf8(sqlite3_errmsg(db_));
}

}  // namespace sieve::sqlite
