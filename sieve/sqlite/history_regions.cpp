#include "sieve/sqlite/history_regions.h"

#include <algorithm>
#include <span>

#include "sieve/sqlite/btree_page.h"

namespace sieve::sqlite {

std::string_view CarveSourceName(CarveSource source) {
  switch (source) {
    case CarveSource::Freelist: return "freelist";
    case CarveSource::Freeblock: return "freeblock";
    case CarveSource::Unallocated: return "unallocated";
    case CarveSource::Overflow: return "overflow";
    case CarveSource::Wal: return "wal";
    case CarveSource::Journal: return "journal";
  }
  return "unallocated";
}

namespace {

// A main-file page is older because a log frame replaced it or a hot journal's rollback did.
CarveSource OlderSource(const FileHistory& history, const PageVersion& version) {
  const bool journal = version.source == VersionSource::Journal ||
                       (version.source == VersionSource::Main && history.journalRolledBack);
  return journal ? CarveSource::Journal : CarveSource::Wal;
}

CarveSource SourceOfRegion(RegionKind kind) {
  switch (kind) {
    case RegionKind::kFreeblock: return CarveSource::Freeblock;
    case RegionKind::kFreelistLeaf:
    case RegionKind::kFreelistTrunk: return CarveSource::Freelist;
    case RegionKind::kUnallocated:
    case RegionKind::kLostPage: return CarveSource::Unallocated;
  }
  return CarveSource::Unallocated;
}

// A page that was a b-tree page when it left use (a freelist leaf keeps its bytes; an older
// version is whole) is read as it stood then: each cell its pointer array names, each
// freeblock and the gap. Carving it whole would also read bytes across cell boundaries,
// where a cell's head survives but its tail was overwritten by a later cell. False when the
// page does not carry a believable b-tree header.
bool SplitBtreePage(std::span<const std::uint8_t> usable, std::uint32_t pageNumber, std::size_t pageFileOffset,
                    std::uint32_t regionPage, RegionKind kind,
                    const std::function<void(const FreeRegion&, bool wholeCell)>& visit) {
  const auto header = ReadBtreePageHeader(usable, PagedFile::BtreeHeaderOffset(pageNumber));
  if (!header || header->type == kInteriorTablePage) return header.has_value();
  const auto size = static_cast<std::uint32_t>(usable.size());
  const std::uint32_t gapEnd = std::min(header->contentStart, size);
  if (gapEnd > header->cellPointersEnd) {
    visit({regionPage, kind, pageFileOffset + header->cellPointersEnd, gapEnd - header->cellPointersEnd}, false);
  }
  for (const Freeblock& block : ReadFreeblocks(usable, *header)) {
    visit({regionPage, kind, pageFileOffset + block.offset, block.size, true}, false);
  }
  for (std::uint32_t i = 0; i < header->cellCount; ++i) {
    const auto cell = ReadCell(usable, *header, i);
    if (!cell || !cell->hasPayload) continue;
    const std::uint32_t end = cell->payloadOffset + cell->localSize + (cell->overflowPage ? 4u : 0u);
    if (end > size || end <= cell->offset) continue;
    // Interior index cells start with a child page number the carver does not expect.
    const std::uint32_t start = header->type == kInteriorIndexPage ? cell->offset + 4 : cell->offset;
    visit({regionPage, kind, pageFileOffset + start, end - start}, header->type != kInteriorIndexPage);
  }
  return true;
}

// The bytes a page version holds as a freelist trunk page: the next trunk's page number, the
// count of leaf page numbers and the list itself, each number at most `lastPage`. 0 when the
// page does not read as one. The list is page numbers, never a record, so carving it only
// reads them as values.
std::size_t TrunkListBytes(std::span<const std::uint8_t> usable, std::uint32_t lastPage) {
  if (usable.size() < 8) return 0;
  const std::uint32_t next = BigEndian32(usable.data());
  const std::uint32_t count = BigEndian32(usable.data() + 4);
  if (next > lastPage || count > usable.size() / 4 - 2) return 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t leaf = BigEndian32(usable.data() + 8 + 4 * i);
    if (leaf < 2 || leaf > lastPage) return 0;
  }
  return 8 + 4 * std::size_t{count};
}

// Asks the control every 64 regions: often enough to stop within a blink, rarely enough
// not to cost.
class StopCheck {
 public:
  explicit StopCheck(HistoryWalk& walk) : walk_(walk) {}
  bool operator()() {
    if (walk_.stopped) return true;
    if (walk_.control && ++sinceCheck_ >= 64) {
      sinceCheck_ = 0;
      walk_.stopped = walk_.control->Stop();
    }
    return walk_.stopped;
  }

 private:
  HistoryWalk& walk_;
  int sinceCheck_ = 63;  // the first region already asks
};

}  // namespace

void ForEachHistoryRegion(const FileHistory& history, const PageMap& map, const HistoryRegionVisitor& visit,
                          HistoryWalk& walk) {
  const PagedFile& file = history.current;
  StopCheck stopped(walk);
  const double pages = static_cast<double>(file.header.pageCount + history.older.size()) + 1.0;
  const auto report = [&](double done) {
    if (walk.control) walk.control->Report(walk.from + (walk.to - walk.from) * done / pages);
  };
  HistoryView main{&file, CarveSource::Freelist, false, 0, 0};
  std::uint32_t lastPage = 0;
  EnumerateFreeRegions(file, map, [&](const FreeRegion& region) {
    if (stopped()) return;
    if (region.page != lastPage) {
      lastPage = region.page;
      ++walk.pagesRead;
      if (region.page % 256 == 0) report(region.page);
    }
    main.source = SourceOfRegion(region.kind);
    if (region.kind == RegionKind::kFreelistLeaf || region.kind == RegionKind::kLostPage) {
      const auto usable = file.Page(region.page);
      const auto inner = [&](const FreeRegion& part, bool cell) { visit(main, part, cell); };
      if (SplitBtreePage(usable, region.page, region.fileOffset, region.page, region.kind, inner)) return;
    }
    visit(main, region, false);
  }, walk.currentPage);
  std::uint32_t highestPage = file.header.pageCount;
  for (const PageVersion& version : history.older) highestPage = std::max(highestPage, version.page);
  std::size_t done = 0;
  for (const PageVersion& version : history.older) {
    ++done;
    if (stopped()) return;
    if (version.bytes.size() < file.header.pageSize || IsPointerMapPage(file.header, version.page)) continue;
    if (walk.olderVersion && !walk.olderVersion(done - 1)) continue;
    ++walk.pagesRead;
    PagedFile one;
    one.bytes = version.bytes.first(file.header.pageSize);
    one.header = file.header;
    HistoryView view{&one, OlderSource(history, version), true, version.page, version.frame, done - 1};
    // The version's live cells are candidates as much as its free space; a page that was not
    // a b-tree page then is read whole.
    const auto usable = one.bytes.first(file.header.usableSize);
    const auto inner = [&](const FreeRegion& part, bool cell) { visit(view, part, cell); };
    if (!SplitBtreePage(usable, version.page, 0, 1, RegionKind::kLostPage, inner)) {
      const std::size_t list = TrunkListBytes(usable, highestPage);
      visit(view, {1, RegionKind::kLostPage, list, usable.size() - list}, false);
    }
    if (done % 256 == 0) report(static_cast<double>(file.header.pageCount + done));
  }
}

}  // namespace sieve::sqlite
