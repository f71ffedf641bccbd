#include "sieve/sqlite/database.h"

#include <sqlite3.h>

#include <cctype>
#include <filesystem>
#include <utility>

#include "sieve/reader/text.h"
#include "sieve/sqlite/read_damage.h"
#include "sieve/sqlite/scan_control.h"

namespace sieve::sqlite {

namespace {

bool KeptInUri(unsigned char c) {
  return std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '~' || c == '-';
}

// The progress handler runs every kOpsPerCall instructions of SQLite's virtual machine: a
// few microseconds' work, so a statement is stopped soon after it goes past its budget.
constexpr int kOpsPerCall = 1000;

// Work of one statement that the file's size explains. Ours read a table (or follow an
// index) once, with lookups by key: measured on large generated backups, none takes more
// than 0.02 instructions per byte of its file. Past a few times that the file is checked
// (a loop gives rows cheaply, so the check comes early); past far more, within one step
// that gives no row, the statement is going round a loop and is stopped.
constexpr std::uint64_t kSuspicionFloorOps = 4'000;
constexpr std::uint64_t kSuspicionBytesPerOp = 16;
constexpr std::uint64_t kLimitFloorOps = 1'000'000;

int OnProgress(void* context) {
  // The scan's stop ends a statement at once; no damage of the file.
  if (ThreadScanControl::StopRequested()) return 1;
  auto* budget = static_cast<StepBudget*>(context);
  if (budget->checking) return 0;
  if (++budget->used <= budget->limit && budget->verdict != StepBudget::Verdict::kDamaged) return 0;
  budget->verdict = StepBudget::Verdict::kDamaged;
  budget->overrun = true;
  return 1;
}

std::uint64_t FileBytes(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t bytes = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<std::uint64_t>(bytes);
}

bool StoresUtf16(sqlite3* db, const std::shared_ptr<StepBudget>& budget) {
  Statement pragma(db, "PRAGMA encoding", false, budget);
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
    : db_(std::exchange(other.db_, nullptr)), utf16Text_(other.utf16Text_), budget_(std::move(other.budget_)) {}

Database& Database::operator=(Database&& other) noexcept {
  if (this != &other) {
    Close();
    db_ = std::exchange(other.db_, nullptr);
    utf16Text_ = other.utf16Text_;
    budget_ = std::move(other.budget_);
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
  // Pages a log holds count as the file's too.
  const std::uint64_t bytes = FileBytes(path) + (immutable ? 0 : FileBytes(path + "-wal"));
  budget_ = std::make_shared<StepBudget>();
  budget_->suspicion = (kSuspicionFloorOps + bytes / kSuspicionBytesPerOp) / kOpsPerCall;
  budget_->limit = (kLimitFloorOps + bytes) / kOpsPerCall;
  sqlite3_progress_handler(db_, kOpsPerCall, OnProgress, budget_.get());
  // SQLite reads the file lazily; read the schema now so a file that is not a database (or
  // is encrypted) fails here, with its code, rather than at the first query.
  {
    Statement probe(db_, "SELECT count(*) FROM sqlite_master", false, budget_);
    if (!probe.Ok() || !probe.Step()) {
      const int code = probe.Result() == SQLITE_OK || probe.Result() == SQLITE_DONE
                           ? SQLITE_ERROR
                           : probe.Result();
      Close();
      NoteReadDamage(path, ReadDamage::kUnreadable, code);
      return code;
    }
  }
  utf16Text_ = StoresUtf16(db_, budget_);
  return SQLITE_OK;
}

void Database::Close() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
  utf16Text_ = false;
  budget_.reset();
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

Statement Database::Prepare(std::string_view sql) { return Statement(db_, sql, utf16Text_, budget_); }

std::string Database::ErrorMessage() const {
  if (db_ == nullptr) return "database not open";
  // A statement the budget stopped ended without an error of SQLite's own.
  if (budget_ && budget_->verdict == StepBudget::Verdict::kDamaged) return sqlite3_errstr(SQLITE_CORRUPT);
  return SanitizeUtf8(sqlite3_errmsg(db_));
}

}  // namespace sieve::sqlite
