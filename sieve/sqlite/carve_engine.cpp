#include "sieve/sqlite/carve_engine.h"

#include <algorithm>
#include <future>
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
#include "sieve/sqlite/schema_word.h"
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
  void ForEachRegion(const HistoryRegionVisitor& visit, double from, double to);
  // A region met on the walk, searched later with others at once.
  struct PendingRegion {
    HistoryView view;
    FreeRegion region;
    bool wholeCell = false;
    std::vector<Candidate> found;
  };
  void CarveRegions(std::vector<PendingRegion>& pending, bool schemaPass);
  void KeepSearched();
  HistoryView ViewAgain(HistoryView view, PagedFile& one) const;
  void PrepareCarvers(std::size_t firstTable, std::size_t lastTable);
  std::vector<Candidate> FindInRegion(const HistoryView& view, const FreeRegion& region, bool wholeCell,
                                      std::size_t firstTable, std::vector<RecordCarver>& carvers) const;
  void Keep(const HistoryView& view, const FreeRegion& region, Candidate& candidate);
  bool CompleteFromOverflow(const HistoryView& view, CarvedRecord& record, const RecordShape& shape,
                            std::vector<std::uint8_t>& body) const;
  HistoryView ViewOf(const FoundRow& row, PagedFile& one) const;
  bool ReadOut(const FoundRow& row, CarvedRow& out, std::vector<std::uint8_t>& body, RecordCarver& carver) const;
  void EmitAll(const std::function<void(const CarvedRow&)>& emit);
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
  std::future<LiveRows> liveBuilt_;  // live_ while it is still being built
  FoundRows rows_;
  std::vector<PendingRegion> searched_;  // the batch searched last, what it found not yet kept
  // Per thread slot, a carver for each table from carversFrom_ on, rebound from region to
  // region so that their scratch memory stays; made again when the tables change.
  std::vector<std::vector<RecordCarver>> carvers_;
  std::size_t carversFrom_ = 0;
  const TableShape* carversOf_ = nullptr;
  std::size_t carversTo_ = 0;
  std::vector<std::uint8_t> body_;
  CarveResult result_;
};

void Engine::ForEachRegion(const HistoryRegionVisitor& visit, double from, double to) {
  HistoryWalk walk{control_, from, to};
  ForEachHistoryRegion(history_, map_, visit, walk);
  result_.pagesRead += walk.pagesRead;
  stopped_ = stopped_ || walk.stopped;
}

// Searches a batch on the helpers while this thread keeps what the batch before it found:
// in the main pass Keep only reads what the search reads, and keeping batch after batch in
// the walk's order gives the same rows as keeping one region after another. A schema record
// kept may add a dropped table's shape, so the schema pass keeps each batch before the next.
void Engine::CarveRegions(std::vector<PendingRegion>& pending, bool schemaPass) {
  const std::size_t first = schemaPass ? 0 : 1;
  PrepareCarvers(first, schemaPass ? 1 : tables_.size());
  const auto search = [&](std::size_t i, std::size_t slot) {
    PendingRegion& at = pending[i];
    PagedFile one;
    at.found = FindInRegion(ViewAgain(at.view, one), at.region, at.wholeCell, first, carvers_[slot]);
  };
  if (schemaPass) {
    ParallelForSlots(pending.size(), search);
  } else {
    ParallelForSlots(pending.size(), search, [&] { KeepSearched(); });
  }
  std::swap(searched_, pending);
  if (schemaPass) KeepSearched();
}

void Engine::KeepSearched() {
  for (PendingRegion& at : searched_) {
    PagedFile one;
    const HistoryView view = ViewAgain(at.view, one);
    for (Candidate& candidate : at.found) Keep(view, at.region, candidate);
  }
  searched_.clear();
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
                                            std::size_t firstTable, std::vector<RecordCarver>& carvers) const {
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
    auto all = RecordCarver::CarveAll(carvers, region, [&](std::size_t index, const CarvedRecord& record) {
      return admit(firstTable + index, record);
    });
    for (std::size_t index = 0; index < all.size(); ++index) {
      for (CarvedRecord& record : all[index]) found.push_back({firstTable + index, std::move(record)});
    }
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

void Engine::Keep(const HistoryView& view, const FreeRegion& region, Candidate& candidate) {
  CarvedRecord& record = candidate.record;
  const int alias = tables_[candidate.table].shape.rowidAliasColumn;
  CarveSource source = view.source;
  if (record.truncated && CompleteFromOverflow(view, record, tables_[candidate.table].shape, body_)) source = CarveSource::Overflow;
  if (liveBuilt_.valid()) live_ = liveBuilt_.get();
  if (!options_.includeLive && live_.IsLive(candidate.table, record, alias)) {
    ++result_.liveCopiesSkipped;
    return;
  }
  if (candidate.table == 0 && AddDroppedTable(tables_, record.values, file_.header.encoding)) {
    result_.droppedTables.push_back(tables_.back().name);
  }
  // The same record may be found intact in one place and with its cell prefix overwritten in
  // another: the key leaves out what a damaged copy loses (rowid, first column), and the
  // copies merge when what both kept agrees.
  const std::uint64_t key = RowFingerprint(record.values, record.values.size(), alias, true, nullptr) ^
                            (candidate.table * 0x9e3779b97f4a7c15ull);
  const auto ownFirst = [&] { return ValueFingerprint(Own(record.values[0])); };
  for (std::uint32_t held = rows_.Newest(key); held != 0; held = rows_[held - 1].nextSameKey) {
    FoundRow& first = rows_[held - 1];
    if (first.table != candidate.table) continue;
    if (record.rowid >= 0 && first.rowid >= 0 && first.rowid != record.rowid) continue;
    if (record.lostLeadingColumns == 0 && !first.firstLost && !record.values.empty() && alias != 0 &&
        first.firstValue != ownFirst()) {
      continue;
    }
    const auto seen = first.alsoIn + first.alsoInCount;
    if (source != first.source && std::find(first.alsoIn, seen, source) == seen && first.alsoInCount < 5) {
      first.alsoIn[first.alsoInCount++] = source;
    }
    if (first.rowid < 0 && record.rowid >= 0) {
      first.rowid = record.rowid;
      if (alias >= 0) {
        const auto column = static_cast<std::size_t>(alias);
        rows_.Patch(held - 1, column, Own(record.values[column]));
        if (alias == 0) first.firstValue = ownFirst();
      }
    }
    if (first.firstLost && record.lostLeadingColumns == 0 && !record.values.empty()) {
      rows_.Patch(held - 1, 0, Own(record.values[0]));
      first.firstValue = ownFirst();
      first.firstLost = false;
    }
    return;
  }
  FoundRow row;
  row.key = key;
  row.firstValue = record.values.empty() ? 0 : ownFirst();
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
  rows_.Add(row);
}

HistoryView Engine::ViewOf(const FoundRow& row, PagedFile& one) const {
  if (row.view == 0) return {&file_, row.source, false, 0, 0};
  const PageVersion& version = history_.older[row.view - 1];
  one.bytes = version.bytes.first(file_.header.pageSize);
  one.header = file_.header;
  return {&one, row.source, true, version.page, version.frame, row.view - 1};
}

// Reads a kept record again where it was found, the same way, into `out` with what its
// other copies added. False if the reading no longer gives a record (it cannot: the bytes
// and the reading are the same). Reads only: rows are read out on several threads at once.
bool Engine::ReadOut(const FoundRow& row, CarvedRow& out, std::vector<std::uint8_t>& body,
                     RecordCarver& carver) const {
  PagedFile one;
  const HistoryView view = ViewOf(row, one);
  const TableShape& table = tables_[row.table];
  carver.Rebind(*view.file);
  const std::uint8_t* cell = view.file->bytes.data() + row.cell;
  auto record = carver.ReadAgain(cell, cell + row.limit, row.cell - view.file->PageOffset(row.page), row.reading,
                                 row.endsAtLimit ? row.cell + row.limit : 0, row.cutAt != 0 ? row.cell + row.cutAt : 0);
  if (!record) return false;
  if (record->truncated) CompleteFromOverflow(view, *record, table.shape, body);
  out.table = table.name;
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
  rows_.ApplyPatches(row, out.values);
  out.alsoIn.assign(row.alsoIn, row.alsoIn + row.alsoInCount);
  return true;
}

// The kept records in the order they were kept, read out a chunk at a time on the helpers
// while this thread hands the chunk before to `emit`. Rows keep their lists' memory from
// chunk to chunk.
void Engine::EmitAll(const std::function<void(const CarvedRow&)>& emit) {
  constexpr std::size_t kChunk = 2048;
  const std::string wanted = ToLowerAscii(options_.table);
  struct Chunk {
    std::vector<CarvedRow> rows = std::vector<CarvedRow>(kChunk);
    std::vector<char> read = std::vector<char>(kChunk, 0);
    std::size_t count = 0;
  };
  Chunk reading, ready;
  const auto hand = [&] {
    for (std::size_t i = 0; i < ready.count; ++i) {
      if (!ready.read[i]) continue;
      emit(ready.rows[i]);
      ++result_.rowsReported;
    }
    ready.count = 0;
  };
  PrepareCarvers(0, tables_.size());
  for (std::uint32_t from = 0; from < rows_.size(); from += kChunk) {
    reading.count = std::min<std::size_t>(kChunk, rows_.size() - from);
    ParallelForSlots(
        reading.count,
        [&](std::size_t i, std::size_t slot) {
          const FoundRow& row = rows_[from + static_cast<std::uint32_t>(i)];
          std::vector<std::uint8_t> body;
          reading.read[i] = (wanted.empty() || ToLowerAscii(tables_[row.table].name) == wanted) &&
                            ReadOut(row, reading.rows[i], body, carvers_[slot][row.table]);
        },
        hand);
    std::swap(reading, ready);
  }
  hand();
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
  // The live rows are first asked for when a record is kept, mostly once the main pass
  // keeps its first batch: they are read on a thread of their own meanwhile, over the
  // tables the schema names (a dropped table has no live rows).
  liveBuilt_ = std::async(std::launch::async, [this, tables = tables_] { return LiveRows::Build(file_, tables); });

  // Schema records first: a dropped table's CREATE TABLE gives the shape its rows are carved
  // with. Then every table's records. Regions are searched in batches on all cores, and what
  // they hold is kept in the walk's order, so the result is the same as one region after another.
  constexpr std::size_t kBatch = 4096;
  std::vector<PendingRegion> pending;
  for (const bool schemaPass : {true, false}) {
    if (!schemaPass) result_.pagesRead = 0;
    ForEachRegion(
        [&](const HistoryView& view, const FreeRegion& region, bool cell) {
          pending.push_back({view, region, cell, {}});
          if (pending.size() == kBatch) CarveRegions(pending, schemaPass);
        },
        schemaPass ? 0.0 : 0.1, schemaPass ? 0.1 : 1.0);
    CarveRegions(pending, schemaPass);
    KeepSearched();
  }
  if (stopped_) {
    result_.status = CarveStatus::kStopped;
    result_.error = "stopped";
    return result_;
  }
  for (const TableShape& table : tables_) result_.columns[table.name] = table.columnNames;
  EmitAll(emit);
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
