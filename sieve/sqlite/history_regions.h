// Every place of a file's history where deleted records may survive, as regions to carve:
// the free space of the current file, and each older page version (a WAL frame or journal
// record superseded since, or a main-file page a frame replaced) read as the page stood
// then, its live cells included. Shared by the carve engine and the category extractors.
#pragma once

#include <cstdint>
#include <functional>

#include "sieve/sqlite/carve_source.h"
#include "sieve/sqlite/free_space.h"
#include "sieve/sqlite/page_history.h"
#include "sieve/sqlite/page_map.h"
#include "sieve/sqlite/scan_control.h"

namespace sieve::sqlite {

// One readable copy of pages: the current file, or a single older page version laid out as
// a one-page file so that region offsets stay inside its bytes.
struct HistoryView {
  const PagedFile* file = nullptr;
  CarveSource source = CarveSource::Freelist;  // Wal or Journal for older versions
  bool olderVersion = false;
  std::uint32_t page = 0;  // the real page number of an older version
  std::uint32_t frame = 0;
  std::size_t olderIndex = 0;  // an older version's place in history.older
};

// wholeCell: the region is exactly one cell a page's pointer array named.
using HistoryRegionVisitor = std::function<void(const HistoryView&, const FreeRegion&, bool wholeCell)>;

struct HistoryWalk {
  const ScanControl* control = nullptr;
  double from = 0.0, to = 1.0;  // the share of the caller's progress this walk covers
  std::uint64_t pagesRead = 0;  // counted by the walk
  bool stopped = false;         // set when control asked to stop; the walk then ends
  // When set, only the pages of the current file and the older versions (by their place in
  // history.older) they accept are read.
  std::function<bool(std::uint32_t page)> currentPage;
  std::function<bool(std::size_t olderIndex)> olderVersion;
};

// Regions of the current file come first, in page order, then the older versions in the
// history's order. `map` is the current file's page map.
void ForEachHistoryRegion(const FileHistory& history, const PageMap& map, const HistoryRegionVisitor& visit,
                          HistoryWalk& walk);

}  // namespace sieve::sqlite
