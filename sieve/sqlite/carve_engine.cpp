#include "sieve/sqlite/carve_engine.h"

#include <string.h>

#include <algorithm>
#include <memory>
#include <span>

#include "sieve/reader/text.h"
#include "sieve/sqlite/found_rows.h"
#include "sieve/sqlite/free_space.h"
#include "sieve/sqlite/history_regions.h"
#include "sieve/sqlite/live_rows.h"
#include "sieve/sqlite/overflow_chains.h"
#include "sieve/sqlite/page_map.h"
#include "sieve/sqlite/parallel_for.h"
#include "sieve/sqlite/record_carver.h"
#include "sieve/sqlite/spilled_rows.h"
#include "sieve/sqlite/table_shapes.h"

namespace sieve::sqlite {

namespace {

// A schema record carries its CREATE statement; regions without the word (in any case, in
// either text encoding) cannot hold one, and skipping them spares a pass over most of the file.
bool MayHoldSchemaRecord(std::span<const std::uint8_t> bytes, TextEncoding encoding) {
  static constexpr std::string_view kUtf8[] = {"REATE", "reate"};
  static constexpr std::string_view kUtf16[] = {std::string_view("R\0E\0A\0T\0E", 9), std::string_view("r\0e\0a\0t\0e", 9)};
  for (const std::string_view word : encoding == TextEncoding::kUtf8 ? kUtf8 : kUtf16) {
    if (memmem(bytes.data(), bytes.size(), word.data(), word.size()) != nullptr) return true;
  }
  return false;
}

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
  void ForEachRegion(const HistoryRegionVisitor& visit, double from, double to);
  // A region met on the walk, searched later with others at once.
  struct PendingRegion {
    HistoryView view;
    FreeRegion region;
    bool wholeCell = false;
    std::vector<Candidate> found;
  };
  void CarveRegion(const HistoryView& view, const FreeRegion& region, bool wholeCell, std::size_t firstTable,
                   std::size_t lastTable);
  void CarveRegions(std::vector<PendingRegion>& pending);
  HistoryView ViewAgain(HistoryView view, PagedFile& one) const;
  std::vector<Candidate> FindInRegion(const HistoryView& view, const FreeRegion& region, bool wholeCell,
                                      std::size_t firstTable, std::size_t lastTable) const;
  void Keep(const HistoryView& view, const FreeRegion& region, Candidate& candidate);
  bool CompleteFromOverflow(const HistoryView& view, CarvedRecord& record, const RecordShape& shape);
  HistoryView ViewOf(const FoundRow& row, PagedFile& one) const;
  std::optional<CarvedRecord> ReadBack(const FoundRow& row, PagedFile& one, HistoryView& view);
  bool Emit(const FoundRow& row, const FoundRows::Patches* patches, const std::function<void(const CarvedRow&)>& emit);
  bool StartSpill();
  bool EmitSpilled(const std::function<void(const CarvedRow&)>& emit);
  bool SpillFailed();
  bool MayHoldFreedBytes(std::uint32_t page) const {
    const PageRole role = map_.Role(page);
    return role == PageRole::kFreelistLeaf || role == PageRole::kUnclaimed;
  }
  CarvedValue Own(const Value& value) const;

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
  std::vector<std::uint8_t> body_;
  CarveResult result_;
  CarvedRow out_;  // the row being written, reused so its lists and names keep their memory
};

void Engine::ForEachRegion(const HistoryRegionVisitor& visit, double from, double to) {
  HistoryWalk walk{control_, from, to};
  ForEachHistoryRegion(history_, map_, visit, walk);
  result_.pagesRead += walk.pagesRead;
  stopped_ = stopped_ || walk.stopped;
}

void Engine::CarveRegion(const HistoryView& view, const FreeRegion& region, bool wholeCell, std::size_t firstTable,
                         std::size_t lastTable) {
  for (Candidate& candidate : FindInRegion(view, region, wholeCell, firstTable, lastTable)) Keep(view, region, candidate);
}

void Engine::CarveRegions(std::vector<PendingRegion>& pending) {
  ParallelFor(pending.size(), [&](std::size_t i) {
    PendingRegion& at = pending[i];
    PagedFile one;
    at.found = FindInRegion(ViewAgain(at.view, one), at.region, at.wholeCell, 1, tables_.size());
  });
  for (PendingRegion& at : pending) {
    PagedFile one;
    const HistoryView view = ViewAgain(at.view, one);
    for (Candidate& candidate : at.found) Keep(view, at.region, candidate);
  }
  pending.clear();
}

// An older version's one-page file lived only while the walk visited it.
HistoryView Engine::ViewAgain(HistoryView view, PagedFile& one) const {
  if (!view.olderVersion) return view;
  one.bytes = history_.older[view.olderIndex].bytes.first(file_.header.pageSize);
  one.header = file_.header;
  view.file = &one;
  return view;
}

// The records of a region that no other reading of the same bytes explains better, in the
// order they are kept. Reads only: regions may be searched at once on several threads.
std::vector<Candidate> Engine::FindInRegion(const HistoryView& view, const FreeRegion& region, bool wholeCell,
                                            std::size_t firstTable, std::size_t lastTable) const {
  std::vector<Candidate> found;
  const bool schemaPass = firstTable == 0;
  if (schemaPass && (region.fileOffset > view.file->bytes.size() ||
                     !MayHoldSchemaRecord(view.file->bytes.subspan(region.fileOffset).first(
                                              std::min(region.length, view.file->bytes.size() - region.fileOffset)),
                                          file_.header.encoding))) {
    return found;
  }
  for (std::size_t t = firstTable; t < lastTable; ++t) {
    const RecordCarver carver(*view.file, tables_[t].shape);
    const bool schema = t == 0;
    const auto admit = [&](const CarvedRecord& record) {
      return !schema || (!record.values.empty() && IsSchemaType(record.values[0]));
    };
    if (wholeCell) {
      // A cell the page itself names is read where it starts, not searched for.
      const std::uint8_t* begin = view.file->bytes.data() + region.fileOffset;
      auto record = carver.IntactCell(begin, begin + region.length);
      if (!record || !admit(*record)) continue;
      record->page = region.page;
      record->region = region.kind;
      found.push_back({t, std::move(*record)});
      continue;
    }
    for (CarvedRecord& record : carver.Carve(region, admit)) found.push_back({t, std::move(record)});
  }
  if (found.size() > 1) {
    std::stable_sort(found.begin(), found.end(),
                     [](const Candidate& a, const Candidate& b) { return Belief(a.record) > Belief(b.record); });
  }
  std::vector<Candidate> chosen;
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
  out.kind = value.kind;
  out.integer = value.integer;
  out.real = value.real;
  out.truncated = value.truncated;
  if (value.kind == ValueKind::kText) out.bytes = ValueText(value, file_.header.encoding);
  if (value.kind == ValueKind::kBlob) out.bytes.assign(value.bytes);
  return out;
}

// A cell whose payload went on to overflow pages is completed from them when they still hold
// its bytes; true when that makes it a record of the freed chain.
bool Engine::CompleteFromOverflow(const HistoryView& view, CarvedRecord& record, const RecordShape& shape) {
  const auto viewBytes = view.file->bytes;
  const std::size_t localEnd = record.bodyOffset + record.localBodyBytes;
  if (localEnd + 4 > viewBytes.size()) return false;
  const auto local = viewBytes.subspan(record.bodyOffset, record.localBodyBytes + 4);
  const auto mayHold = [this](std::uint32_t page) { return MayHoldFreedBytes(page); };
  return ReadFreedChain(file_, record, local, mayHold, body_) == ChainState::kComplete &&
         DecodeCompletedBody(body_, record, shape, file_.header.encoding) && !view.olderVersion;
}

void Engine::Keep(const HistoryView& view, const FreeRegion& region, Candidate& candidate) {
  CarvedRecord& record = candidate.record;
  const int alias = tables_[candidate.table].shape.rowidAliasColumn;
  CarveSource source = view.source;
  if (record.truncated && CompleteFromOverflow(view, record, tables_[candidate.table].shape)) source = CarveSource::Overflow;
  FoundCopy copy;
  if (!options_.includeLive) {
    if (const auto liveKey = live_.Key(candidate.table, record, alias)) {
      // A table whose live rows were set aside is checked when the partitions are read.
      if (spill_ && !live_.Holds(candidate.table)) {
        copy.hasLiveKey = true;
        copy.liveKey = *liveKey;
      } else if (live_.Contains(*liveKey)) {
        ++result_.liveCopiesSkipped;
        return;
      }
    }
  }
  if (candidate.table == 0 && AddDroppedTable(tables_, record.values, file_.header.encoding)) {
    result_.droppedTables.push_back(tables_.back().name);
  }
  // The same record may be found intact in one place and with its cell prefix overwritten in
  // another: the key leaves out what a damaged copy loses (rowid, first column), and the
  // copies merge when what both kept agrees.
  FoundRow& row = copy.row;
  row.key = RowFingerprint(record.values, record.values.size(), alias, true, nullptr) ^
            (candidate.table * 0x9e3779b97f4a7c15ull);
  copy.hasValues = !record.values.empty();
  row.firstValue = copy.hasValues ? ValueFingerprint(Own(record.values[0])) : 0;
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
  if (spill_) {
    copy.order = kept_++;
    spill_->Add(copy);
    return;
  }
  rows_.Keep(copy, alias, [&](std::size_t column) { return Own(record.values[column]); });
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
// cannot: the bytes and the reading are the same).
std::optional<CarvedRecord> Engine::ReadBack(const FoundRow& row, PagedFile& one, HistoryView& view) {
  view = ViewOf(row, one);
  const TableShape& table = tables_[row.table];
  const RecordCarver carver(*view.file, table.shape);
  const std::uint8_t* cell = view.file->bytes.data() + row.cell;
  auto record = carver.ReadAgain(cell, cell + row.limit, row.cell - view.file->PageOffset(row.page), row.reading,
                                 row.endsAtLimit ? row.cell + row.limit : 0, row.cutAt != 0 ? row.cell + row.cutAt : 0);
  if (record && record->truncated) CompleteFromOverflow(view, *record, table.shape);
  return record;
}

// Writes a kept record out with what its other copies added.
bool Engine::Emit(const FoundRow& row, const FoundRows::Patches* patches,
                  const std::function<void(const CarvedRow&)>& emit) {
  PagedFile one;
  HistoryView view;
  const auto record = ReadBack(row, one, view);
  if (!record) return false;
  const TableShape& table = tables_[row.table];
  CarvedRow& out = out_;
  out.table = table.name;
  out.source = row.source;
  out.page = view.olderVersion ? view.page : row.page;
  out.offset = record->fileOffset;
  out.frame = view.frame;
  out.rowid = row.rowid >= 0 ? std::optional<std::int64_t>(row.rowid) : std::nullopt;
  out.firstLost = row.firstLost;
  out.partial = false;
  out.values.clear();
  for (const Value& value : record->values) {
    out.values.push_back(Own(value));
    out.partial |= value.truncated;
  }
  ApplyPatches(patches, out.values);
  out.alsoIn.assign(row.alsoIn, row.alsoIn + row.alsoInCount);
  emit(out);
  return true;
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
  const auto aliasOf = [&](std::uint32_t table) { return tables_[table].shape.rowidAliasColumn; };
  const auto valueOf = [&](const FoundRow& copy, std::size_t column) {
    PagedFile one;
    HistoryView view;
    const auto record = ReadBack(copy, one, view);
    return record && column < record->values.size() ? Own(record->values[column]) : CarvedValue{};
  };
  if (!spill_->Merge(aliasOf, valueOf, result_.liveCopiesSkipped)) return false;
  const std::string wanted = ToLowerAscii(options_.table);
  return spill_->ForEachRow([&](const FoundRow& row, const FoundRows::Patches* patches) {
    if (!wanted.empty() && ToLowerAscii(tables_[row.table].name) != wanted) return;
    if (Emit(row, patches, emit)) ++result_.rowsReported;
  });
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
  map_ = PageMap::Build(file_, roots);
  tables_ = SchemaTableShapes(schema);
  if (!StartSpill()) {
    SpillFailed();
    return result_;
  }
  if (spill_) {
    const LiveRows::SetAside setAside = [&](std::uint64_t key) { spill_->AddLiveKey(key); };
    live_ = LiveRows::Build(file_, tables_, &setAside);
  } else {
    live_ = LiveRows::Build(file_, tables_);
  }

  // Schema records first: a dropped table's CREATE TABLE gives the shape its rows are carved with.
  ForEachRegion([&](const HistoryView& view, const FreeRegion& region, bool cell) { CarveRegion(view, region, cell, 0, 1); },
                0.0, 0.1);
  result_.pagesRead = 0;
  // Every table's records: regions are searched in batches on all cores, and what they hold
  // is kept in the walk's order, so the result is the same as one region after another.
  constexpr std::size_t kBatch = 4096;
  std::vector<PendingRegion> pending;
  ForEachRegion(
      [&](const HistoryView& view, const FreeRegion& region, bool cell) {
        pending.push_back({view, region, cell, {}});
        if (pending.size() == kBatch) CarveRegions(pending);
      },
      0.1, 1.0);
  CarveRegions(pending);
  if (stopped_) {
    result_.status = CarveStatus::kStopped;
    result_.error = "stopped";
    return result_;
  }
  for (const TableShape& table : tables_) result_.columns[table.name] = table.columnNames;
  if (spill_) {
    if (!EmitSpilled(emit)) SpillFailed();
    if (control_) control_->Report(1.0);
    return result_;
  }
  const std::string wanted = ToLowerAscii(options_.table);
  for (std::uint32_t index = 0; index < rows_.size(); ++index) {
    const FoundRow& row = rows_[index];
    if (!wanted.empty() && ToLowerAscii(tables_[row.table].name) != wanted) continue;
    if (Emit(row, rows_.PatchesOf(row), emit)) ++result_.rowsReported;
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
