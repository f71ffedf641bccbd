#include "sieve/sqlite/carve_engine.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <span>

#include "sieve/reader/text.h"
#include "sieve/sqlite/background_batch.h"
#include "sieve/sqlite/found_rows.h"
#include "sieve/sqlite/free_space.h"
#include "sieve/sqlite/history_regions.h"
#include "sieve/sqlite/live_rows.h"
#include "sieve/sqlite/overflow_chains.h"
#include "sieve/sqlite/page_map.h"
#include "sieve/sqlite/parallel_for.h"
#include "sieve/sqlite/record_carver.h"
#include "sieve/sqlite/schema_word.h"
#include "sieve/sqlite/spilled_rows.h"
#include "sieve/sqlite/table_shapes.h"

namespace sieve::sqlite {

namespace {

bool IsSchemaType(const Value& value) {
  if (value.kind != ValueKind::kText) return false;
  for (const std::string_view type : {"table", "index", "view", "trigger"}) {
    if (value.bytes == type) return true;
  }
  return false;
}

// How much a candidate is to be believed over another shape's reading of the same bytes:
// short records of few columns match stray bytes easily, so the reading that explains more
// bytes and more fields wins; an intact cell (rowid kept) counts above a damaged one.
int Belief(const CarvedRecord& record) {
  int score = 4 * static_cast<int>(std::min<std::size_t>(record.length, 1 << 20));
  score += (record.rowid >= 0 ? 40 : 0) + 8 * static_cast<int>(record.serialTypes.size()) - 20 * record.lostLeadingColumns;
  for (const Value& value : record.values) score += value.kind == ValueKind::kNull ? 0 : 3;
  return score;
}

struct Candidate {
  std::size_t table = 0;
  CarvedRecord record;
};

class Engine {
 public:
  Engine(const FileHistory& history, const CarveOptions& options, const ScanControl* control)
      : history_(history), file_(history.current), options_(options), control_(control) {}

  CarveResult Run(const std::function<void(const CarvedRow&)>& emit);

 private:
  // schemaPass: only the pages MarkSchemaWordPages found the CREATE word in.
  void ForEachRegion(const HistoryRegionVisitor& visit, double from, double to, bool schemaPass);
  void MarkSchemaWordPages();
  // A region met on the walk, searched later with others at once. The schema pass keeps
  // what it found whole (a schema record may add a table); the main pass keeps only what
  // merging needs, made on the searching thread, so that the records' memory is freed on
  // the thread that took it: its copies [copiesFrom, copiesTo) of its batch's list of slot
  // copiesSlot.
  struct PendingRegion {
    HistoryView view;
    FreeRegion region;
    bool wholeCell = false;
    std::vector<Candidate> found;
    std::uint32_t copiesFrom = 0;
    std::uint32_t copiesTo = 0;
    std::size_t copiesSlot = 0;
  };
  void CarveRegions(std::vector<PendingRegion>& pending, bool schemaPass);
  void FinishRegions();
  void KeepSearched();
  HistoryView ViewAgain(HistoryView view, PagedFile& one) const;
  void PrepareCarvers(std::size_t firstTable, std::size_t lastTable);
  std::vector<Candidate> FindInRegion(const HistoryView& view, const FreeRegion& region, bool wholeCell,
                                      std::size_t firstTable, std::span<RecordCarver> carvers) const;
  std::size_t OwnerTable(const PendingRegion& at) const;
  FoundCopy Prepare(const HistoryView& view, const FreeRegion& region, Candidate& candidate,
                    std::vector<std::uint8_t>& body) const;
  // `record`: the copy's record when it is still at hand (the schema pass), else null.
  void Keep(FoundCopy& copy, const CarvedRecord* record);
  std::uint64_t FirstValueFingerprint(const Value& value) const;
  // A column of a kept copy, read again where it was found, on the carvers and scratch of
  // ParallelForSlots' `slot` (0: this thread's).
  CarvedValue ValueAgain(const FoundRow& row, std::size_t column, std::size_t slot);
  bool CompleteFromOverflow(const HistoryView& view, CarvedRecord& record, const RecordShape& shape,
                            std::vector<std::uint8_t>& body) const;
  HistoryView ViewOf(const FoundRow& row, PagedFile& one) const;
  std::optional<CarvedRecord> ReadBack(const FoundRow& row, PagedFile& one, HistoryView& view,
                                       std::vector<std::uint8_t>& body, RecordCarver& carver) const;
  bool ReadOut(const FoundRow& row, const FoundRows::Patches* patches, CarvedRow& out, std::vector<std::uint8_t>& body,
               RecordCarver& carver) const;
  // Calls its argument with every kept row (and what its other copies added) in the order kept.
  using RowSource = std::function<bool(const std::function<void(const FoundRow&, const FoundRows::Patches*)>&)>;
  bool EmitAll(const RowSource& rows, const std::function<void(const CarvedRow&)>& emit);
  void AwaitLiveRows();
  bool LiveRowsBuilt() const;
  bool StartSpill();
  bool EmitSpilled(const std::function<void(const CarvedRow&)>& emit);
  bool SpillFailed();
  bool MayHoldFreedBytes(std::uint32_t page) const {
    const PageRole role = map_.Role(page);
    return role == PageRole::kFreelistLeaf || role == PageRole::kUnclaimed;
  }
  CarvedValue Own(const Value& value) const;
  void OwnInto(const Value& value, CarvedValue& out) const;

  const FileHistory& history_;
  const PagedFile& file_;
  const CarveOptions& options_;
  const ScanControl* control_;
  bool stopped_ = false;
  PageMap map_;
  std::vector<TableShape> tables_;
  LiveRows live_;
  FoundRows rows_;
  // For a large file, the records are set aside on disk instead of in rows_.
  SpillFile spillFile_;
  std::unique_ptr<SpilledRows> spill_;
  std::uint32_t kept_ = 0;
  // live_ while it is still being built; declared after spill_ so that it is waited for
  // before the spill it may write live keys to goes away.
  std::future<LiveRows> liveBuilt_;
  // The batch being searched on the helpers, and the one searched before it, what it found
  // not yet kept.
  std::vector<PendingRegion> searching_, searched_;
  // Their copies, a list per thread slot: one list per region cost an allocation and a free
  // for each of millions of regions.
  using SlotCopies = std::vector<std::vector<FoundCopy>>;
  SlotCopies searchingCopies_ = SlotCopies(kMaxParallelThreads), searchedCopies_ = SlotCopies(kMaxParallelThreads);
  // Per thread slot, a carver for each table from carversFrom_ on, rebound from region to
  // region so that their scratch memory stays; made again when the tables change.
  std::vector<std::vector<RecordCarver>> carvers_;
  std::size_t carversFrom_ = 0;
  const TableShape* carversOf_ = nullptr;
  std::size_t carversTo_ = 0;
  // Per thread slot, scratch for a payload completed from its overflow pages.
  std::vector<std::vector<std::uint8_t>> bodies_ = std::vector<std::vector<std::uint8_t>>(kMaxParallelThreads);
  std::size_t liveTables_ = 0;  // the tables the live rows' walk covers: the schema's
  // Per page of the current file and per older version: whether the CREATE word is in it.
  std::vector<char> wordPages_, wordVersions_;
  CarveResult result_;
  // Last: it is waited for before what its work reads goes away.
  BackgroundBatch batch_;
};

void Engine::ForEachRegion(const HistoryRegionVisitor& visit, double from, double to, bool schemaPass) {
  HistoryWalk walk;
  walk.control = control_;
  walk.from = from;
  walk.to = to;
  if (schemaPass) {
    walk.currentPage = [this](std::uint32_t page) { return page < wordPages_.size() && wordPages_[page] != 0; };
    walk.olderVersion = [this](std::size_t index) { return index < wordVersions_.size() && wordVersions_[index] != 0; };
  }
  ForEachHistoryRegion(history_, map_, visit, walk);
  result_.pagesRead += walk.pagesRead;
  stopped_ = stopped_ || walk.stopped;
}

// A schema record's CREATE statement leaves its word in the region that holds it: the pages
// of the current file with the word in one of their regions, and the older versions with the
// word somewhere, tested on all cores, are the only ones the schema pass reads. It tests each
// region too, so the pages passed over change nothing. A b-tree page's regions are a small
// part of it: its live cells, most of the file, are not read for this.
void Engine::MarkSchemaWordPages() {
  const std::uint32_t pages = map_.PageCount();
  wordPages_.assign(std::size_t{pages} + 1, 0);
  wordVersions_.assign(history_.older.size(), 0);
  ParallelFor(pages + history_.older.size(), [&](std::size_t i) {
    if (i < pages) {
      const auto page = static_cast<std::uint32_t>(i + 1);
      if (!file_.Searchable() || !file_.HasPage(page)) return;
      char found = 0;
      const std::size_t size = file_.bytes.size();
      EnumeratePageRegions(file_, map_, page, [&](const FreeRegion& region) {
        if (found || region.fileOffset >= size) return;
        const auto bytes = file_.bytes.subspan(region.fileOffset, std::min(region.length, size - region.fileOffset));
        found = MayHoldCreateWord(bytes, file_.header.encoding) ? 1 : 0;
      });
      wordPages_[page] = found;
      return;
    }
    const std::span<const std::uint8_t> bytes = history_.older[i - pages].bytes;
    wordVersions_[i - pages] =
        MayHoldCreateWord(bytes.first(std::min<std::size_t>(bytes.size(), file_.header.pageSize)), file_.header.encoding);
  });
}

// Starts the search of a batch on the helpers once the batch before it is searched; this
// thread then keeps what that one found and walks on to fill the next. In the main pass Keep
// only reads what the search reads, and keeping batch after batch in the walk's order gives
// the same rows as keeping one region after another. A schema record kept may add a dropped
// table's shape, so the schema pass keeps each batch before the next is searched.
void Engine::CarveRegions(std::vector<PendingRegion>& pending, bool schemaPass) {
  batch_.Finish();
  std::swap(searched_, searching_);
  std::swap(searchedCopies_, searchingCopies_);
  if (schemaPass) KeepSearched();
  const std::size_t first = schemaPass ? 0 : 1;
  PrepareCarvers(first, schemaPass ? 1 : tables_.size());
  std::swap(searching_, pending);
  pending.clear();
  batch_.Start(searching_.size(), [this, schemaPass, first](std::size_t i, std::size_t slot) {
    PendingRegion& at = searching_[i];
    PagedFile one;
    const HistoryView view = ViewAgain(at.view, one);
    std::span<RecordCarver> carvers(carvers_[slot]);
    std::size_t from = first;
    if (const std::size_t owner = schemaPass ? 0 : OwnerTable(at); owner != 0) {
      carvers = carvers.subspan(owner - first, 1);
      from = owner;
    }
    at.found = FindInRegion(view, at.region, at.wholeCell, from, carvers);
    if (schemaPass) return;
    std::vector<FoundCopy>& copies = searchingCopies_[slot];
    at.copiesSlot = slot;
    at.copiesFrom = static_cast<std::uint32_t>(copies.size());
    for (Candidate& candidate : at.found) {
      copies.push_back(Prepare(view, at.region, candidate, bodies_[slot]));
      carvers[candidate.table - from].Recycle(candidate.record);
    }
    at.copiesTo = static_cast<std::uint32_t>(copies.size());
    std::vector<Candidate>().swap(at.found);
  });
  if (!schemaPass) KeepSearched();
}

// The table whose b-tree holds a freeblock of the current file: the block is one of that
// tree's freed cells, so only that table's shape is searched for in it. 0 for any other
// region, searched with every shape.
std::size_t Engine::OwnerTable(const PendingRegion& at) const {
  if (at.view.olderVersion || at.region.kind != RegionKind::kFreeblock) return 0;
  const std::uint32_t root = map_.RootOf(at.region.page);
  if (root == 0) return 0;
  for (std::size_t t = 1; t < liveTables_; ++t) {
    if (tables_[t].rootPage == root) return t;
  }
  return 0;
}

// The last batch of a pass: searched and kept.
void Engine::FinishRegions() {
  batch_.Finish();
  std::swap(searched_, searching_);
  std::swap(searchedCopies_, searchingCopies_);
  KeepSearched();
}

void Engine::KeepSearched() {
  // The live-key filter's lines are fetched some records ahead of their lookups, so that
  // the waits on memory overlap.
  constexpr std::size_t kAhead = 16;
  std::size_t aheadRegion = 0;
  std::size_t aheadCopy = 0;
  const auto fetchAhead = [&](std::size_t count) {
    while (spill_ && count > 0 && aheadRegion < searched_.size()) {
      const PendingRegion& at = searched_[aheadRegion];
      if (aheadCopy < at.copiesTo - at.copiesFrom) {
        spill_->Prefetch(searchedCopies_[at.copiesSlot][at.copiesFrom + aheadCopy++]);
        --count;
      } else {
        ++aheadRegion;
        aheadCopy = 0;
      }
    }
  };
  fetchAhead(kAhead);
  for (PendingRegion& at : searched_) {
    PagedFile one;
    const HistoryView view = ViewAgain(at.view, one);
    for (Candidate& candidate : at.found) {
      FoundCopy copy = Prepare(view, at.region, candidate, bodies_[0]);
      Keep(copy, &candidate.record);
    }
    std::vector<FoundCopy>& copies = searchedCopies_[at.copiesSlot];
    for (std::uint32_t i = at.copiesFrom; i < at.copiesTo; ++i) {
      fetchAhead(1);
      Keep(copies[i], nullptr);
    }
  }
  searched_.clear();
  for (std::vector<FoundCopy>& copies : searchedCopies_) copies.clear();
}

// An older version's one-page file lived only while the walk visited it.
HistoryView Engine::ViewAgain(HistoryView view, PagedFile& one) const {
  if (!view.olderVersion) return view;
  one.bytes = history_.older[view.olderIndex].bytes.first(file_.header.pageSize);
  one.header = file_.header;
  view.file = &one;
  return view;
}

void Engine::PrepareCarvers(std::size_t firstTable, std::size_t lastTable) {
  if (!carvers_.empty() && carversFrom_ == firstTable && carversTo_ == lastTable && carversOf_ == tables_.data()) return;
  carvers_.clear();
  carvers_.resize(kMaxParallelThreads);
  for (std::vector<RecordCarver>& slot : carvers_) {
    slot.reserve(lastTable - firstTable);
    for (std::size_t t = firstTable; t < lastTable; ++t) slot.emplace_back(file_, tables_[t].shape);
  }
  carversFrom_ = firstTable;
  carversTo_ = lastTable;
  carversOf_ = tables_.data();
}

// The records of a region that no other reading of the same bytes explains better, in the
// order they are kept; `carvers` are the thread's, one per table from firstTable on. Reads
// only the engine: regions may be searched at once on several threads.
std::vector<Candidate> Engine::FindInRegion(const HistoryView& view, const FreeRegion& region, bool wholeCell,
                                            std::size_t firstTable, std::span<RecordCarver> carvers) const {
  std::vector<Candidate> found;
  const bool schemaPass = firstTable == 0;
  if (schemaPass && (region.fileOffset > view.file->bytes.size() ||
                     !MayHoldCreateWord(view.file->bytes.subspan(region.fileOffset).first(
                                              std::min(region.length, view.file->bytes.size() - region.fileOffset)),
                                          file_.header.encoding))) {
    return found;
  }
  const auto admit = [](std::size_t table, const CarvedRecord& record) {
    return table != 0 || (!record.values.empty() && IsSchemaType(record.values[0]));
  };
  for (RecordCarver& carver : carvers) carver.Rebind(*view.file);
  const std::size_t lastTable = firstTable + carvers.size();
  if (wholeCell) {
    // A cell the page itself names is read where it starts, not searched for.
    const std::uint8_t* begin = view.file->bytes.data() + region.fileOffset;
    for (std::size_t t = firstTable; t < lastTable; ++t) {
      auto record = carvers[t - firstTable].IntactCell(begin, begin + region.length);
      if (!record || !admit(t, *record)) continue;
      record->page = region.page;
      record->region = region.kind;
      found.push_back({t, std::move(*record)});
    }
  } else {
    // Per thread, so that the lists keep their memory from region to region.
    thread_local std::vector<std::vector<CarvedRecord>> all;
    RecordCarver::CarveAll(
        carvers, region, [&](std::size_t index, const CarvedRecord& record) { return admit(firstTable + index, record); },
        all);
    std::size_t count = 0;
    for (const std::vector<CarvedRecord>& records : all) count += records.size();
    found.reserve(count);
    for (std::size_t index = 0; index < all.size(); ++index) {
      for (CarvedRecord& record : all[index]) found.push_back({firstTable + index, std::move(record)});
    }
  }
  if (found.size() <= 1) return found;
  std::stable_sort(found.begin(), found.end(),
                   [](const Candidate& a, const Candidate& b) { return Belief(a.record) > Belief(b.record); });
  std::vector<Candidate> chosen;
  chosen.reserve(found.size());
  for (Candidate& candidate : found) {
    const std::size_t begin = candidate.record.fileOffset;
    const std::size_t end = begin + candidate.record.length;
    const bool overlaps = std::any_of(chosen.begin(), chosen.end(), [&](const Candidate& taken) {
      return begin < taken.record.fileOffset + taken.record.length && taken.record.fileOffset < end;
    });
    if (!overlaps) chosen.push_back(std::move(candidate));
  }
  return chosen;
}

CarvedValue Engine::Own(const Value& value) const {
  CarvedValue out;
  OwnInto(value, out);
  return out;
}

// Into a value that keeps its text's memory: valid UTF-8 (nearly every text) is copied as it
// is, which is what ValueText would give, without a new string.
void Engine::OwnInto(const Value& value, CarvedValue& out) const {
  out.kind = value.kind;
  out.integer = value.integer;
  out.real = value.real;
  out.truncated = value.truncated;
  if (value.kind == ValueKind::kText) {
    if (file_.header.encoding == TextEncoding::kUtf8 && IsValidUtf8(value.bytes)) {
      out.bytes.assign(value.bytes);
    } else {
      out.bytes = ValueText(value, file_.header.encoding);
    }
  } else if (value.kind == ValueKind::kBlob) {
    out.bytes.assign(value.bytes);
  } else {
    out.bytes.clear();
  }
}

// A cell whose payload went on to overflow pages is completed from them when they still hold
// its bytes; true when that makes it a record of the freed chain.
bool Engine::CompleteFromOverflow(const HistoryView& view, CarvedRecord& record, const RecordShape& shape,
                                  std::vector<std::uint8_t>& body) const {
  const auto viewBytes = view.file->bytes;
  const std::size_t localEnd = record.bodyOffset + record.localBodyBytes;
  if (localEnd + 4 > viewBytes.size()) return false;
  const auto local = viewBytes.subspan(record.bodyOffset, record.localBodyBytes + 4);
  const auto mayHold = [this](std::uint32_t page) { return MayHoldFreedBytes(page); };
  return ReadFreedChain(file_, record, local, mayHold, body) == ChainState::kComplete &&
         DecodeCompletedBody(body, record, shape, file_.header.encoding) && !view.olderVersion;
}

// What keeping a found record needs of it: where it was read and how, and its fingerprints.
// Reads only the engine: runs on the searching threads.
FoundCopy Engine::Prepare(const HistoryView& view, const FreeRegion& region, Candidate& candidate,
                          std::vector<std::uint8_t>& body) const {
  CarvedRecord& record = candidate.record;
  const RecordShape& shape = tables_[candidate.table].shape;
  CarveSource source = view.source;
  if (record.truncated && CompleteFromOverflow(view, record, shape, body)) source = CarveSource::Overflow;
  FoundCopy copy;
  // The same record may be found intact in one place and with its cell prefix overwritten in
  // another: the merge key leaves out what a damaged copy loses (rowid, first column), and
  // the copies merge when what both kept agrees.
  const LiveRows::RecordKeys keys = LiveRows::KeysOf(candidate.table, shape.indexCell, record, shape.rowidAliasColumn);
  copy.hasLiveKey = candidate.table < liveTables_;
  copy.liveKey = keys.live;
  FoundRow& row = copy.row;
  row.key = keys.merge ^ (candidate.table * 0x9e3779b97f4a7c15ull);
  copy.hasValues = !record.values.empty();
  row.firstValue = copy.hasValues ? FirstValueFingerprint(record.values[0]) : 0;
  row.rowid = record.rowid;
  row.cell = record.fileOffset;
  row.view = view.olderVersion ? static_cast<std::uint32_t>(view.olderIndex + 1) : 0;
  row.limit = static_cast<std::uint32_t>((record.boundEnd != 0 ? record.boundEnd : region.fileOffset + region.length) -
                                         record.fileOffset);
  row.endsAtLimit = record.boundEnd != 0;
  row.cutAt = record.cutAt != 0 ? static_cast<std::uint32_t>(record.cutAt - record.fileOffset) : 0;
  row.page = region.page;
  row.table = static_cast<std::uint32_t>(candidate.table);
  row.source = source;
  row.damaged = record.damaged;
  row.reading = record.reading;
  row.firstLost = record.lostLeadingColumns > 0;
  return copy;
}

// ValueFingerprint(Own(value)) without the copy where Own would report the bytes as they are.
std::uint64_t Engine::FirstValueFingerprint(const Value& value) const {
  const bool asTheyAre = value.kind == ValueKind::kBlob ||
                         (value.kind == ValueKind::kText && file_.header.encoding == TextEncoding::kUtf8 &&
                          IsValidUtf8(value.bytes));
  if (asTheyAre) return ValueFingerprint(value.kind, value.truncated, value.integer, value.real, value.bytes);
  if (value.kind != ValueKind::kText) return ValueFingerprint(value.kind, value.truncated, value.integer, value.real, {});
  return ValueFingerprint(Own(value));
}

void Engine::Keep(FoundCopy& copy, const CarvedRecord* record) {
  const std::size_t table = copy.row.table;
  const int alias = tables_[table].shape.rowidAliasColumn;
  const bool walked = copy.hasLiveKey;
  copy.hasLiveKey = false;
  // A large carve checks the records of every table but sqlite_master against the live keys
  // when it reads its partitions: they need not wait for the live rows' walk, which goes on
  // beside the search meanwhile. Only the filter that spares most of them that check does.
  if (spill_ && table != 0 && !LiveRowsBuilt()) {
    copy.hasLiveKey = !options_.includeLive && walked;
    copy.order = kept_++;
    spill_->AddUnfiltered(copy);
    return;
  }
  AwaitLiveRows();
  if (!options_.includeLive && walked) {
    // A table whose live rows were set aside is checked when the partitions are read.
    if (spill_ && !live_.Holds(table)) {
      copy.hasLiveKey = true;
    } else if (live_.Contains(copy.liveKey)) {
      ++result_.liveCopiesSkipped;
      return;
    }
  }
  if (table == 0 && record && AddDroppedTable(tables_, record->values, file_.header.encoding)) {
    result_.droppedTables.push_back(tables_.back().name);
  }
  if (spill_) {
    copy.order = kept_++;
    spill_->Add(copy);
    return;
  }
  // Two captures: the std::function made of it for each record needs no memory of its own.
  const std::pair<const FoundCopy*, const CarvedRecord*> kept{&copy, record};
  rows_.Keep(copy, alias, [this, &kept](std::size_t column) {
    return kept.second ? Own(kept.second->values[column]) : ValueAgain(kept.first->row, column, 0);
  });
}

CarvedValue Engine::ValueAgain(const FoundRow& row, std::size_t column, std::size_t slot) {
  PagedFile one;
  HistoryView view;
  const auto record = ReadBack(row, one, view, bodies_[slot], carvers_[slot][row.table - carversFrom_]);
  return record && column < record->values.size() ? Own(record->values[column]) : CarvedValue{};
}

HistoryView Engine::ViewOf(const FoundRow& row, PagedFile& one) const {
  if (row.view == 0) return {&file_, row.source, false, 0, 0};
  const PageVersion& version = history_.older[row.view - 1];
  one.bytes = version.bytes.first(file_.header.pageSize);
  one.header = file_.header;
  return {&one, row.source, true, version.page, version.frame, row.view - 1};
}

// Reads a kept record again where it was found, the same way (and completed from its
// overflow pages as when it was kept). None if the reading no longer gives a record (it
// cannot: the bytes and the reading are the same). Reads only the engine.
std::optional<CarvedRecord> Engine::ReadBack(const FoundRow& row, PagedFile& one, HistoryView& view,
                                             std::vector<std::uint8_t>& body, RecordCarver& carver) const {
  view = ViewOf(row, one);
  carver.Rebind(*view.file);
  const std::uint8_t* cell = view.file->bytes.data() + row.cell;
  auto record = carver.ReadAgain(cell, cell + row.limit, row.cell - view.file->PageOffset(row.page), row.reading,
                                 row.endsAtLimit ? row.cell + row.limit : 0, row.cutAt != 0 ? row.cell + row.cutAt : 0);
  if (record && record->truncated) CompleteFromOverflow(view, *record, tables_[row.table].shape, body);
  return record;
}

// A kept record read again into `out` with what its other copies added. False if it no
// longer reads. Reads only: rows are read out on several threads at once.
bool Engine::ReadOut(const FoundRow& row, const FoundRows::Patches* patches, CarvedRow& out,
                     std::vector<std::uint8_t>& body, RecordCarver& carver) const {
  PagedFile one;
  HistoryView view;
  auto record = ReadBack(row, one, view, body, carver);
  if (!record) return false;
  out.table = tables_[row.table].name;
  out.source = row.source;
  out.page = view.olderVersion ? view.page : row.page;
  out.offset = record->fileOffset;
  out.frame = view.frame;
  out.rowid = row.rowid >= 0 ? std::optional<std::int64_t>(row.rowid) : std::nullopt;
  out.firstLost = row.firstLost;
  out.partial = false;
  out.values.resize(record->values.size());
  for (std::size_t i = 0; i < record->values.size(); ++i) {
    OwnInto(record->values[i], out.values[i]);
    out.partial |= record->values[i].truncated;
  }
  ApplyPatches(patches, out.values);
  out.alsoIn.assign(row.alsoIn, row.alsoIn + row.alsoInCount);
  carver.Recycle(*record);
  return true;
}

// The kept records in the order `rows` gives them, read out a chunk at a time on the helpers
// while this thread hands the chunk before to `emit` and fills the next. Two chunks take
// turns; rows keep their lists' memory from chunk to chunk. A row and its patches are copied
// into the chunk, as a set-aside carve holds them only while it hands them over.
bool Engine::EmitAll(const RowSource& rows, const std::function<void(const CarvedRow&)>& emit) {
  constexpr std::size_t kChunk = 2048;
  const std::string wanted = ToLowerAscii(options_.table);
  struct Chunk {
    std::vector<FoundRow> found = std::vector<FoundRow>(kChunk);
    std::vector<FoundRows::Patches> patches = std::vector<FoundRows::Patches>(kChunk);
    std::vector<CarvedRow> rows = std::vector<CarvedRow>(kChunk);
    std::vector<char> read = std::vector<char>(kChunk, 0);
    std::size_t count = 0;
  };
  Chunk one, two;
  Chunk* filling = &one;
  Chunk* reading = &two;
  BackgroundBatch batch;
  const auto hand = [&](Chunk& chunk) {
    for (std::size_t i = 0; i < chunk.count; ++i) {
      if (!chunk.read[i]) continue;
      emit(chunk.rows[i]);
      ++result_.rowsReported;
    }
    chunk.count = 0;
  };
  // The filled chunk is read out once the one before is; that one is handed over meanwhile
  // and filled again.
  const auto readFilled = [&] {
    batch.Finish();
    std::swap(filling, reading);
    Chunk& chunk = *reading;
    batch.Start(chunk.count, [this, &chunk, &wanted](std::size_t i, std::size_t slot) {
      const FoundRow& row = chunk.found[i];
      const FoundRows::Patches& patches = chunk.patches[i];
      std::vector<std::uint8_t> body;
      chunk.read[i] = (wanted.empty() || ToLowerAscii(tables_[row.table].name) == wanted) &&
                      ReadOut(row, patches.empty() ? nullptr : &patches, chunk.rows[i], body,
                              carvers_[slot][row.table]);
    });
    hand(*filling);
  };
  PrepareCarvers(0, tables_.size());
  const bool ok = rows([&](const FoundRow& row, const FoundRows::Patches* patches) {
    Chunk& chunk = *filling;
    chunk.found[chunk.count] = row;
    if (patches) {
      chunk.patches[chunk.count] = *patches;
    } else {
      chunk.patches[chunk.count].clear();
    }
    if (++chunk.count == kChunk) readFilled();
  });
  if (filling->count > 0) readFilled();
  batch.Finish();
  hand(*reading);
  return ok;
}

// The live rows' build (on its own thread) is done: a record is about to be checked
// against them, or the live keys it set aside are about to be read.
void Engine::AwaitLiveRows() {
  if (liveBuilt_.valid()) live_ = liveBuilt_.get();
}

bool Engine::LiveRowsBuilt() const {
  return !liveBuilt_.valid() || liveBuilt_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// A carve of more bytes than it may hold sets its records aside (see SpilledRows).
bool Engine::StartSpill() {
  std::uint64_t bytes = file_.bytes.size() + std::uint64_t{history_.older.size()} * file_.header.pageSize;
  if (options_.spillFolder.empty() || bytes <= options_.inMemoryBytes) return true;
  if (!spillFile_.Create(options_.spillFolder)) return false;
  spill_ = std::make_unique<SpilledRows>(spillFile_, SpilledRows::PartitionsFor(bytes));
  return true;
}

bool Engine::EmitSpilled(const std::function<void(const CarvedRow&)>& emit) {
  PrepareCarvers(0, tables_.size());
  const auto aliasOf = [&](std::uint32_t table) { return tables_[table].shape.rowidAliasColumn; };
  const auto valueOf = [&](const FoundRow& copy, std::size_t column, std::size_t slot) {
    return ValueAgain(copy, column, slot);
  };
  if (!spill_->Merge(aliasOf, valueOf, result_.liveCopiesSkipped)) return false;
  return EmitAll([&](const auto& visit) { return spill_->ForEachRow(visit); }, emit);
}

bool Engine::SpillFailed() {
  result_.status = CarveStatus::kSpillFailed;
  result_.error = spillFile_.error();
  return false;
}

CarveResult Engine::Run(const std::function<void(const CarvedRow&)>& emit) {
  const GeometryStatus status = file_.header.status;
  if (status == GeometryStatus::kNotSqlite || status == GeometryStatus::kBadPageSize ||
      status == GeometryStatus::kBadReservedSize) {
    result_.status = CarveStatus::kNotSqlite;
    result_.error = "not an SQLite database (header magic or page geometry is wrong)";
    return result_;
  }
  if (status != GeometryStatus::kOk) {
    result_.status = CarveStatus::kTruncated;
    result_.error = "the file is shorter than one database page";
    return result_;
  }
  const std::vector<SchemaEntry> schema = ReadSchema(file_);
  std::vector<std::uint32_t> roots;
  for (const SchemaEntry& entry : schema) {
    if (entry.rootPage != 0) roots.push_back(entry.rootPage);
  }
  tables_ = SchemaTableShapes(schema);
  liveTables_ = tables_.size();
  if (!StartSpill()) {
    SpillFailed();
    return result_;
  }
  // The live rows are first asked for when a record is kept, mostly once the main pass
  // keeps its first batch: they are read on a thread of their own meanwhile, beside the page
  // map's walk too (they need only the b-trees), over the tables the schema names (a dropped
  // table has no live rows). A large carve's live keys go to the spill from that thread;
  // nothing else is set aside before they are done.
  liveBuilt_ = std::async(std::launch::async, [this, tables = tables_] {
    if (!spill_) return LiveRows::Build(file_, tables);
    const LiveRows::SetAside setAside = [this](std::uint64_t key) { spill_->AddLiveKey(key); };
    return LiveRows::Build(file_, tables, &setAside);
  });
  map_ = PageMap::Build(file_, roots);
  MarkSchemaWordPages();

  // Schema records first: a dropped table's CREATE TABLE gives the shape its rows are carved
  // with. Then every table's records. Regions are searched in batches on all cores, and what
  // they hold is kept in the walk's order, so the result is the same as one region after another.
  constexpr std::size_t kBatch = 4096;
  std::vector<PendingRegion> pending;
  for (const bool schemaPass : {true, false}) {
    if (!schemaPass) result_.pagesRead = 0;
    ForEachRegion(
        [&](const HistoryView& view, const FreeRegion& region, bool cell) {
          pending.push_back({view, region, cell, {}, {}});
          if (pending.size() == kBatch) CarveRegions(pending, schemaPass);
        },
        schemaPass ? 0.0 : 0.1, schemaPass ? 0.1 : 1.0, schemaPass);
    CarveRegions(pending, schemaPass);
    FinishRegions();
  }
  AwaitLiveRows();
  if (stopped_) {
    result_.status = CarveStatus::kStopped;
    result_.error = "stopped";
    return result_;
  }
  for (const TableShape& table : tables_) result_.columns[table.name] = table.columnNames;
  if (spill_) {
    if (!EmitSpilled(emit)) SpillFailed();
  } else {
    EmitAll(
        [&](const auto& visit) {
          for (std::uint32_t index = 0; index < rows_.size(); ++index) visit(rows_[index], rows_.PatchesOf(rows_[index]));
          return true;
        },
        emit);
  }
  if (control_) control_->Report(1.0);
  return result_;
}

}  // namespace

CarveResult Carve(const FileHistory& history, const CarveOptions& options,
                  const std::function<void(const CarvedRow&)>& emit, const ScanControl* control) {
  Engine engine(history, options, control);
  return engine.Run(emit);
}

}  // namespace sieve::sqlite
