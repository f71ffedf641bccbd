// Every version of every page of a database: the file as SQLite sees it (main file with the
// write-ahead log's committed frames applied) and each older version that the log, the main
// file or a rollback journal still holds. The deleted-record engine decodes both.
//
// Facts relied on: a reader takes, for each page, the newest frame of the log's valid chain at
// or before its last commit frame, else the main file's page; the database then has as many
// pages as that commit frame says. A journal record holds a page as it was before the change;
// SQLite puts a hot journal's records back before it reads anything (see hot_rollback.h).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sieve/sqlite/paged_file.h"

namespace sieve::sqlite {

enum class VersionSource : std::uint8_t { Main, Wal, Journal };

struct PageVersion {
  std::uint32_t page = 0;
  VersionSource source = VersionSource::Main;
  std::uint32_t frame = 0;       // 1-based WAL frame index, 0 else
  std::uint32_t generation = 0;  // WAL salt generation, 0 the newest
  bool committed = false;        // at or before a commit frame of its generation
  std::span<const std::uint8_t> bytes;  // the whole page
};

struct FileHistory {
  FileHistory() = default;
  // `current.bytes` points into `currentBytes` or `currentMapping`: moving keeps them, copying
  // would not.
  FileHistory(const FileHistory&) = delete;
  FileHistory& operator=(const FileHistory&) = delete;
  FileHistory(FileHistory&&) = default;
  FileHistory& operator=(FileHistory&&) = default;

  std::vector<std::uint8_t> currentBytes;      // empty when the view is mapped
  std::shared_ptr<const void> currentMapping;  // a copy-on-write mapping of the main file, else null
  PagedFile current;
  // Every version that is not current, in order: main pages, then WAL frames in file order,
  // then journal records. Spans point into the caller's main, WAL and journal buffers.
  std::vector<PageVersion> older;
  std::vector<std::string> warnings;
  // A hot rollback journal was played back: `current` is the file as it stood before the
  // unfinished transaction, and the main file's pages that transaction wrote are older.
  bool journalRolledBack = false;
};

enum class HistoryStatus : std::uint8_t {
  kOk,
  kNotSqlite,         // the main file is neither empty nor an SQLite database
  kBadWal,            // the log is truncated or not a write-ahead log (see error)
  kBadJournal,        // the journal is truncated or not a rollback journal (see error)
  kPageSizeMismatch,  // the log's or journal's page size differs from the database's
  kTooLarge,          // the current view would not fit in memory
};

struct FileHistoryResult {
  HistoryStatus status = HistoryStatus::kOk;
  std::string error;  // readable, empty when kOk
  FileHistory history;
  bool ok() const { return status == HistoryStatus::kOk; }
};

// `wal` and `journal` may be empty. The buffers must outlive the result.
FileHistoryResult ReadFileHistory(std::span<const std::uint8_t> mainFile, std::span<const std::uint8_t> wal,
                                  std::span<const std::uint8_t> journal);

// The same for a main file on disk at `mainPath` whose bytes `mainFile` holds (mapped by the
// caller, say): the current view maps the file copy-on-write, so only the pages the log
// replaces take memory of their own, or with `overlayFolder` (a private folder) none: they are
// mapped from an unnamed file there. Where the file cannot be mapped, the view is copied.
FileHistoryResult ReadFileHistory(const std::string& mainPath, std::span<const std::uint8_t> mainFile,
                                  std::span<const std::uint8_t> wal, std::span<const std::uint8_t> journal,
                                  const std::string& overlayFolder = {});

}  // namespace sieve::sqlite
