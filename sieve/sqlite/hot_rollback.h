// The main database file as SQLite reads it once a hot rollback journal is played back:
// each record it would write back replaces its page (a later record of the same page wins),
// then the file is cut, or grown with zero pages, to the size the journal's first header
// recorded, and records for pages past that size are skipped. A journal beside an empty main
// file is a leftover and is not played back.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sieve/sqlite/rollback_journal.h"

namespace sieve::sqlite {

struct RolledBackFile {
  // Page n is pages[n - 1]; an empty span reads as zeros.
  std::vector<std::span<const std::uint8_t>> pages;
  // Per journal record: whether its page is in `pages` (written back and not overwritten).
  std::vector<bool> recordCurrent;
  bool rolledBack = false;  // the journal was hot and has been applied
};

// `mainFile` holds whole pages of `pageSize` bytes (a partial last page is ignored).
// `maxPages` caps a size claimed by a hostile header; a warning says when it was cut.
RolledBackFile RollBackHotJournal(std::span<const std::uint8_t> mainFile, std::uint32_t pageSize,
                                  const RollbackJournal& journal, std::uint64_t maxPages,
                                  std::vector<std::string>& warnings);

}  // namespace sieve::sqlite
