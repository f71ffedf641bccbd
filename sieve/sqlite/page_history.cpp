#include "sieve/sqlite/page_history.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>

#include "sieve/sqlite/copy_on_write_view.h"
#include "sieve/sqlite/hot_rollback.h"
#include "sieve/sqlite/rollback_journal.h"
#include "sieve/sqlite/wal_log.h"

namespace sieve::sqlite {

namespace {

constexpr std::uint32_t kNoFrame = std::numeric_limits<std::uint32_t>::max();

FileHistoryResult Failure(HistoryStatus status, std::string error) {
  FileHistoryResult result;
  result.status = status;
  result.error = std::move(error);
  return result;
}

const char* GeometryText(GeometryStatus status) {
  switch (status) {
    case GeometryStatus::kTooShort: return "the database file is truncated (shorter than its header or one page)";
    case GeometryStatus::kNotSqlite: return "not an SQLite database (wrong header text)";
    case GeometryStatus::kBadPageSize: return "the database header gives an invalid page size";
    case GeometryStatus::kBadReservedSize: return "the database header reserves too many bytes per page";
    case GeometryStatus::kOk: break;
  }
  return "ok";
}

std::uint32_t HighestRecordPage(const RollbackJournal& journal) {
  std::uint32_t highest = 0;
  for (const JournalRecord& record : journal.records) highest = std::max(highest, record.page);
  return highest;
}

void AddWarnings(std::vector<std::string>& to, const std::vector<std::string>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

// The current view's bytes: either a zeroed buffer that every page is copied into, or a
// copy-on-write mapping whose first `mapped` bytes already hold the main file's.
struct CurrentBytes {
  std::uint8_t* data = nullptr;
  std::size_t mapped = 0;
  CopyOnWriteView* view = nullptr;  // places pages where it can, else they are copied in
};
using CurrentMaker = std::function<CurrentBytes(FileHistory&, std::size_t size, std::size_t mainBytes)>;

CurrentBytes CopiedCurrent(FileHistory& history, std::size_t size, std::size_t) {
  history.currentBytes.assign(size, 0);
  return {history.currentBytes.data(), 0};
}

FileHistoryResult Read(std::span<const std::uint8_t> mainFile, std::span<const std::uint8_t> wal,
                       std::span<const std::uint8_t> journal, const CurrentMaker& makeCurrent) {
  // An empty main file is legal: a database whose every page still sits in its log.
  const DatabaseHeader mainHeader = ReadDatabaseHeader(mainFile);
  if (!mainFile.empty() && mainHeader.status != GeometryStatus::kOk) {
    return Failure(HistoryStatus::kNotSqlite, GeometryText(mainHeader.status));
  }
  std::uint32_t pageSize = mainHeader.pageSize;

  WalLog log;
  if (!wal.empty()) {
    log = ParseWalLog(wal);
    if (log.status != WalStatus::kOk) return Failure(HistoryStatus::kBadWal, WalStatusText(log.status));
    if (pageSize != 0 && log.pageSize != pageSize) {
      return Failure(HistoryStatus::kPageSizeMismatch, "the write-ahead log's page size (" +
                                                           std::to_string(log.pageSize) + ") differs from the database's (" +
                                                           std::to_string(pageSize) + ")");
    }
    pageSize = log.pageSize;
  }

  RollbackJournal rollback;
  if (!journal.empty()) {
    rollback = ParseRollbackJournal(journal, pageSize);
    if (rollback.status != JournalStatus::kOk && rollback.status != JournalStatus::kEmpty) {
      return Failure(HistoryStatus::kBadJournal, JournalStatusText(rollback.status));
    }
    if (rollback.pageSize != 0 && pageSize != 0 && rollback.pageSize != pageSize) {
      return Failure(HistoryStatus::kPageSizeMismatch, "the rollback journal's page size (" +
                                                           std::to_string(rollback.pageSize) +
                                                           ") differs from the database's (" + std::to_string(pageSize) + ")");
    }
    if (pageSize == 0) pageSize = rollback.pageSize;
  }

  FileHistoryResult result;
  FileHistory& history = result.history;
  AddWarnings(history.warnings, log.warnings);
  AddWarnings(history.warnings, rollback.warnings);

  const std::uint32_t mainPages = pageSize == 0 ? 0 : static_cast<std::uint32_t>(std::min<std::size_t>(mainFile.size() / pageSize, UINT32_MAX));
  if (pageSize != 0 && mainFile.size() % pageSize != 0) {
    history.warnings.push_back("the database file ends inside a page; the partial page is ignored");
  }
  if (rollback.hot && !log.frames.empty()) {
    history.warnings.push_back("a hot rollback journal beside a write-ahead log is not played back");
    rollback.hot = false;
  }
  // Every page of the rolled-back file comes from the main file or a record, as every page of a
  // logged one from the main file or a frame: a header or a record naming page 2^30 must not
  // make a file of a thousand million pages out of a few kilobytes.
  const std::uint64_t heldPages = std::uint64_t{mainPages} + rollback.records.size();
  const std::uint64_t maxPages = std::min<std::uint64_t>(std::max(mainPages, HighestRecordPage(rollback)), heldPages);
  const RolledBackFile base = RollBackHotJournal(mainFile.first(std::size_t{mainPages} * pageSize), pageSize, rollback,
                                                 maxPages, history.warnings);
  const auto basePages = static_cast<std::uint32_t>(base.pages.size());
  history.journalRolledBack = base.rolledBack;
  if (base.rolledBack) history.warnings.push_back("the rollback journal is hot: its pages are put back, as SQLite does on open");

  // The database size: the last commit of the log's valid chain, else the (rolled back) main file's.
  std::uint32_t databasePages = mainFile.empty() ? 0 : base.rolledBack ? basePages : mainHeader.pageCount;
  std::uint32_t highestFramePage = 0;
  std::uint32_t committedFrames = 0;
  for (const WalFrame& frame : log.frames) {
    if (!frame.inLog || !frame.committed) continue;
    ++committedFrames;
    highestFramePage = std::max(highestFramePage, frame.page);
    if (frame.commitSize != 0) databasePages = frame.commitSize;
  }
  const std::uint32_t backed = std::max(basePages, highestFramePage);
  if (databasePages > backed) {
    history.warnings.push_back("the log's last commit claims " + std::to_string(databasePages) +
                               " pages but no file holds any page past " + std::to_string(backed));
    databasePages = backed;
  }
  // Every page of the database comes from the main file or a distinct frame.
  if (std::uint64_t{databasePages} > std::uint64_t{basePages} + committedFrames) {
    return Failure(HistoryStatus::kTooLarge, "the log's last commit claims " + std::to_string(databasePages) +
                                                 " pages but the files hold at most " +
                                                 std::to_string(std::uint64_t{basePages} + committedFrames));
  }

  // The newest committed frame of each page wins over the main file.
  std::vector<std::uint32_t> winner(std::size_t{databasePages} + 1, kNoFrame);
  for (std::uint32_t i = 0; i < log.frames.size(); ++i) {
    const WalFrame& frame = log.frames[i];
    if (frame.inLog && frame.committed && frame.page <= databasePages) winner[frame.page] = i;
  }

  const std::size_t currentSize = std::size_t{databasePages} * pageSize;
  const CurrentBytes current = makeCurrent(history, currentSize, std::size_t{mainPages} * pageSize);
  for (std::uint32_t page = 1; page <= databasePages; ++page) {
    const std::size_t at = std::size_t{page - 1} * pageSize;
    std::span<const std::uint8_t> source;
    if (winner[page] != kNoFrame) {
      source = log.frames[winner[page]].bytes;
    } else if (page <= basePages && !base.pages[page - 1].empty()) {
      source = base.pages[page - 1];
      // The mapping already holds the main file's own page; a page the journal put back differs.
      if (source.data() == mainFile.data() + at && at + pageSize <= current.mapped) continue;
    } else {
      continue;  // mapped already, or never written: SQLite reads zeros
    }
    if (current.view == nullptr || !current.view->Place(at, source.first(pageSize))) {
      std::memcpy(current.data + at, source.data(), pageSize);
    }
  }
  if (current.view != nullptr) current.view->Flush();
  history.current.bytes = std::span<const std::uint8_t>(current.data, currentSize);
  history.current.header = ReadDatabaseHeader(history.current.bytes);

  for (std::uint32_t page = 1; page <= mainPages; ++page) {
    const auto bytes = mainFile.subspan(std::size_t{page - 1} * pageSize, pageSize);
    const bool inBase = page <= basePages && base.pages[page - 1].data() == bytes.data();
    if (inBase && page <= databasePages && winner[page] == kNoFrame) continue;
    history.older.push_back({page, VersionSource::Main, 0, 0, true, mainFile.subspan(std::size_t{page - 1} * pageSize, pageSize)});
  }
  for (std::uint32_t i = 0; i < log.frames.size(); ++i) {
    const WalFrame& frame = log.frames[i];
    if (frame.page <= databasePages && winner[frame.page] == i) continue;
    history.older.push_back({frame.page, VersionSource::Wal, frame.index, frame.generation, frame.committed, frame.bytes});
  }
  for (std::size_t r = 0; r < rollback.records.size(); ++r) {
    const JournalRecord& record = rollback.records[r];
    if (base.recordCurrent[r] && record.page <= databasePages && winner[record.page] == kNoFrame) continue;
    history.older.push_back({record.page, VersionSource::Journal, 0, 0, true, record.bytes});
  }
  return result;
}

}  // namespace

FileHistoryResult ReadFileHistory(std::span<const std::uint8_t> mainFile, std::span<const std::uint8_t> wal,
                                  std::span<const std::uint8_t> journal) {
  return Read(mainFile, wal, journal, CopiedCurrent);
}

FileHistoryResult ReadFileHistory(const std::string& mainPath, std::span<const std::uint8_t> mainFile,
                                  std::span<const std::uint8_t> wal, std::span<const std::uint8_t> journal,
                                  const std::string& overlayFolder) {
  std::shared_ptr<CopyOnWriteView> mapping;
  FileHistoryResult result = Read(mainFile, wal, journal, [&](FileHistory& history, std::size_t size, std::size_t mainBytes) {
    mapping = CopyOnWriteView::Map(mainPath, size, mainBytes, overlayFolder);
    return mapping ? CurrentBytes{mapping->Data(), mapping->Mapped(), mapping.get()} : CopiedCurrent(history, size, mainBytes);
  });
  if (mapping) {
    mapping->Seal();
    result.history.currentMapping = std::move(mapping);
  }
  return result;
}

}  // namespace sieve::sqlite
