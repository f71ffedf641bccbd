// `carve`: deleted records of any SQLite file, from its free space and from
// every older page version its write-ahead log and rollback journal hold.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sieve/itunes_backup_reader.h"
#include "sieve/private_folder.h"
#include "sieve/sqlite/carve_engine.h"
#include "sieve/sqlite/database_header.h"
#include "sieve/sqlite/page_history.h"
#include "tools/sieve/backup_access.h"
#include "tools/sieve/carve_json.h"
#include "tools/sieve/commands.h"
#include "tools/sieve/interrupts.h"
#include "tools/sieve/mapped_file.h"
#include "tools/sieve/options.h"
#include "tools/sieve/progress.h"
#include "tools/sieve/text_output.h"
#include "tools/sieve/utf8.h"

namespace sieve::cli {
namespace {

using Clock = std::chrono::steady_clock;
using sqlite::CarvedRow;
using sqlite::CarvedValue;
using sqlite::ValueKind;

// Text cells longer than this are cut in the readable table; --json has them whole.
constexpr std::size_t kCellWidth = 40;

// Where the files of one database are. A log the user did not name is taken from
// beside the database when it is there, as SQLite itself would read it.
struct DatabaseFiles {
  std::string main;
  std::string wal;      // "" for none
  std::string journal;  // "" for none
};

std::string Beside(const std::string& main, const char* suffix, bool mainOnly) {
  const std::string path = main + suffix;
  std::error_code ignored;
  return !mainOnly && std::filesystem::is_regular_file(path, ignored) ? path : "";
}

void Map(MappedFile& file, const std::string& path, const char* what) {
  std::string error;
  if (!path.empty() && !file.Open(path, error)) {
    throw CommandError(kExitFailure, std::string("cannot read the ") + what + " " + Printable(path) + ": " + error);
  }
}

// The first `count` code points of UTF-8 text.
std::string Utf8Prefix(std::string_view text, std::size_t count) {
  std::size_t pos = 0;
  for (; pos < text.size() && count > 0; --count) pos += std::max<std::size_t>(1, Utf8SequenceLength(text, pos));
  return std::string(text.substr(0, pos));
}

std::string Cell(const CarvedValue& value) {
  switch (value.kind) {
    case ValueKind::kNull: return "NULL";
    case ValueKind::kInteger: return std::to_string(value.integer);
    case ValueKind::kReal: {
      char buffer[32];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, value.real);
      return std::string(buffer, result.ptr);
    }
    case ValueKind::kText: {
      if (DisplayWidth(value.bytes) <= kCellWidth) return value.bytes;
      return Utf8Prefix(value.bytes, kCellWidth - 3) + "...";
    }
    case ValueKind::kBlob: return "<" + std::to_string(value.bytes.size()) + " bytes>";
  }
  return "";
}

// The rows of one table as the readable output shows them.
struct TableRows {
  std::size_t columns = 0;
  std::vector<std::vector<std::string>> rows;
};

void PrintTables(const std::map<std::string, TableRows>& tables,
                 const std::map<std::string, std::vector<std::string>>& names) {
  std::fflush(stdout);
  for (const auto& [name, table] : tables) {
    std::printf("%s%s: %zu records\n", &name == &tables.begin()->first ? "" : "\n",
                name.empty() ? "(no table)" : Printable(name).c_str(), table.rows.size());
    std::vector<std::string> header = {"Source", "Page", "Offset", "Rowid"};
    // The schema's column names where the table is known, else c1, c2, ...
    const auto known = names.find(name);
    for (std::size_t c = 1; c <= table.columns; ++c) {
      const bool named = known != names.end() && c <= known->second.size() && !known->second[c - 1].empty();
      header.push_back(named ? Printable(known->second[c - 1]) : "c" + std::to_string(c));
    }
    TextTable text(header);
    text.AlignRight(1);
    text.AlignRight(2);
    text.AlignRight(3);
    for (const auto& row : table.rows) text.AddRow(row);
    text.Print(stdout);
    std::fflush(stdout);
  }
}

// A file cut short is refused rather than carved in part: the pages past the cut are
// where deleted records would be, and a silent partial answer reads as "nothing deleted".
// SQLite writes whole pages, and at least as many as a valid header count says.
void RefuseTruncated(const std::string& path, std::span<const std::uint8_t> bytes) {
  const sqlite::DatabaseHeader header = sqlite::ReadDatabaseHeader(bytes);
  if (header.status != sqlite::GeometryStatus::kOk) return;  // not SQLite: the history reader says so
  const std::uint64_t size = bytes.size();
  const std::uint64_t counted = std::uint64_t{header.headerPageCount} * header.pageSize;
  if (size % header.pageSize != 0 || (header.headerPageCountValid && counted > size)) {
    throw CommandError(kExitFailure, Printable(path) + ": truncated: " + std::to_string(size) +
                                         " bytes, the header counts " + std::to_string(header.headerPageCount) +
                                         " pages of " + std::to_string(header.pageSize));
  }
}

// --memory-mb: how many MB of file and history are carved in memory; above it the records
// are set aside in the private folder.
std::uint64_t InMemoryBytes(const Options& options) {
  const auto given = options.Value("--memory-mb");
  if (!given) return sqlite::CarveOptions{}.inMemoryBytes;
  std::uint64_t mb = 0;
  const auto [end, error] = std::from_chars(given->data(), given->data() + given->size(), mb);
  if (error != std::errc() || end != given->data() + given->size() || mb > (std::uint64_t{1} << 40)) {
    throw UsageError("--memory-mb takes a number of MB");
  }
  return mb << 20;
}

int CarveFiles(const DatabaseFiles& files, const Options& options, PrivateFolder& folder) {
  MappedFile main, wal, journal;
  Map(main, files.main, "database");
  Map(wal, files.wal, "write-ahead log");
  Map(journal, files.journal, "journal");
  if (!files.wal.empty()) Detail("reading the write-ahead log " + Printable(files.wal));
  if (!files.journal.empty()) Detail("reading the journal " + Printable(files.journal));

  RefuseTruncated(files.main, main.Bytes());
  sqlite::CarveOptions carve;
  carve.table = options.Value("--table").value_or("");
  carve.includeLive = options.Has("--include-live");
  carve.inMemoryBytes = InMemoryBytes(options);
  // A carve of a large file sets its records aside, and the pages its log replaces: they are
  // private data, so only in a private folder; without one, everything stays in memory.
  if (main.Bytes().size() + wal.Bytes().size() + journal.Bytes().size() > carve.inMemoryBytes) {
    if (folder.Ensure()) {
      carve.spillFolder = folder.Path();
    } else {
      Warn("cannot create a private folder for temporary data; the carve holds everything in memory");
    }
  }
  sqlite::FileHistoryResult read =
      sqlite::ReadFileHistory(files.main, main.Bytes(), wal.Bytes(), journal.Bytes(), carve.spillFolder);
  if (!read.ok()) {
    const std::string& culprit = read.status == sqlite::HistoryStatus::kBadWal       ? files.wal
                                 : read.status == sqlite::HistoryStatus::kBadJournal ? files.journal
                                                                                    : files.main;
    throw CommandError(kExitFailure, Printable(culprit) + ": " + Printable(read.error));
  }
  for (const std::string& warning : read.history.warnings) Warn(Printable(warning));

  const bool json = options.Has("--json");
  CarveCounts counts;
  std::map<std::string, TableRows> tables;
  // Lines gather in one writer and go out a megabyte at a time, not in two writes each.
  constexpr std::size_t kOutputChunk = 1 << 20;
  JsonWriter lines;
  bool interrupted = false;
  // Rows of one table and source mostly come together: the count last found is kept, not
  // looked up again by name for each of millions of rows.
  std::uint64_t* count = nullptr;
  std::string countTable;
  sqlite::CarveSource countSource{};
  const auto emit = [&](const CarvedRow& row) {
    // Rows come once the whole history is read; Ctrl-C while they are written ends the output too.
    interrupted = interrupted || Interrupted();
    if (interrupted) return;
    if (count == nullptr || row.source != countSource || row.table != countTable) {
      count = &counts[row.table][std::string(sqlite::CarveSourceName(row.source))];
      countTable = row.table;
      countSource = row.source;
    }
    ++*count;
    if (json) {
      WriteCarvedRow(lines, row);
      lines.NewLine();
      if (lines.Text().size() >= kOutputChunk) {
        WriteOut(lines.Text());
        lines.Clear();
      }
      return;
    }
    TableRows& table = tables[row.table];
    table.columns = std::max(table.columns, row.values.size());
    std::vector<std::string> cells = {std::string(sqlite::CarveSourceName(row.source)), std::to_string(row.page),
                                      std::to_string(row.offset), row.rowid ? std::to_string(*row.rowid) : ""};
    for (const CarvedValue& value : row.values) cells.push_back(Cell(value));
    table.rows.push_back(std::move(cells));
  };

  const Clock::time_point started = Clock::now();
  sqlite::CarveResult result;
  {
    ProgressBar bar(stderr);
    const InterruptGuard guard;
    sqlite::ScanControl control;
    control.stopRequested = Interrupted;
    control.progress = [&](double done) {
      bar.Update(static_cast<float>(done * 100.0), std::chrono::duration<double>(Clock::now() - started).count());
    };
    result = sqlite::Carve(read.history, carve, emit, &control);
    bar.Finish();
  }
  if (interrupted) result.status = sqlite::CarveStatus::kStopped;
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (result.status == sqlite::CarveStatus::kNotSqlite || result.status == sqlite::CarveStatus::kTruncated) {
    throw CommandError(kExitFailure, Printable(files.main) + ": " + Printable(result.error));
  }
  // No summary: what was written is not the whole result.
  if (result.status == sqlite::CarveStatus::kSpillFailed) {
    throw CommandError(kExitFailure, Printable(result.error) + "; the carve is incomplete");
  }
  for (const std::string& dropped : result.droppedTables) Detail("shape of dropped table " + Printable(dropped));

  if (json) {
    WriteOut(lines.Text());
    JsonWriter summary;
    WriteCarveSummary(summary, counts, result, seconds);
    WriteOut(summary.Text() + "\n");
  } else {
    PrintTables(tables, result.columns);
  }
  std::uint64_t records = 0;
  for (const auto& [table, bySource] : counts) {
    for (const auto& [source, count] : bySource) records += count;
  }
  char took[96];
  std::snprintf(took, sizeof took, "%llu records from %llu pages in %.2f s", static_cast<unsigned long long>(records),
                static_cast<unsigned long long>(result.pagesRead), seconds);
  Note(took);
  if (result.status == sqlite::CarveStatus::kStopped) {
    throw CommandError(kExitFailure, "stopped; the records shown are those found before");
  }
  return kExitOk;
}

// The database inside a backup, decrypted into a private folder (mode 0700)
// with its log and journal when the backup holds them; the folder goes when
// the command ends, and on Ctrl-C or SIGTERM.
int CarveInBackup(const Options& options) {
  const PasswordSource password = PasswordSourceFrom(options);
  CItunesBackupReader reader;
  const int index = LoadBackup(reader, options.Positional()[0]);
  Unlock(reader, index, password);
  const std::string& domain = options.Positional()[1];
  const std::string& path = options.Positional()[2];

  PrivateFolder folder;
  if (!folder.Ensure()) throw CommandError(kExitFailure, "cannot create a private folder for the decrypted copy");
  DatabaseFiles files;
  files.main = folder.NewFilePath("database");
  Detail("decrypting " + Printable(domain + "/" + path));
  const int extracted = reader.ExtractFile(index, domain, path, files.main);
  PrintWarnings(reader, index);
  if (extracted < 0) throw CommandError(kExitWrongPassword, "wrong password");
  if (extracted == 0) throw ReaderFailure(reader, index, "cannot extract " + Printable(domain + "/" + path));
  // A log or journal the backup does not hold is simply absent.
  const bool mainOnly = options.Has("--main-only");
  if (!mainOnly && reader.ExtractFile(index, domain, path + "-wal", files.main + "-wal") == 1) {
    files.wal = files.main + "-wal";
  }
  if (!mainOnly && reader.ExtractFile(index, domain, path + "-journal", files.main + "-journal") == 1) {
    files.journal = files.main + "-journal";
  }
  return CarveFiles(files, options, folder);
}

}  // namespace

int RunCarve(const Arguments& args) {
  const Options options(args, {"--json", "--include-live", "--main-only", kPasswordStdinOption},
                        {"--wal", "--journal", "--table", "--memory-mb", kPasswordFileOption, kKeyFileOption});
  const std::size_t words = options.Positional().size();
  if (words != 1 && words != 3) throw UsageError("usage: " + std::string(kCarveUsage));
  const bool namedLog = options.Value("--wal") || options.Value("--journal");
  if (options.Has("--main-only") && namedLog) throw UsageError("--main-only reads no log; drop --wal and --journal");
  if (words == 3) {
    if (namedLog) throw UsageError("--wal and --journal are for a database file; a backup's own are used");
    return CarveInBackup(options);
  }
  if (options.Value(kPasswordFileOption) || options.Value(kKeyFileOption) || options.Has(kPasswordStdinOption)) {
    throw UsageError("password options are for a database inside a backup");
  }
  DatabaseFiles files;
  files.main = options.Positional()[0];
  const bool mainOnly = options.Has("--main-only");
  files.wal = options.Value("--wal").value_or(Beside(files.main, "-wal", mainOnly));
  files.journal = options.Value("--journal").value_or(Beside(files.main, "-journal", mainOnly));
  PrivateFolder folder;
  return CarveFiles(files, options, folder);
}

}  // namespace sieve::cli
