#include "sieve/sqlite/sqlite_delete.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sqlite3.h>

#include <cstdio>
#include <memory>

#include "sieve/reader/text.h"
#include "sieve/sqlite/btree_walk.h"
#include "sieve/sqlite/carve_toolkit.h"
#include "sieve/sqlite/free_space.h"
#include "sieve/sqlite/history_regions.h"
#include "sieve/sqlite/live_table_rows.h"
#include "sieve/sqlite/main_file_history.h"
#include "sieve/sqlite/read_damage.h"
#include "sieve/sqlite/record_carver.h"
#include "sieve/sqlite/table_shapes.h"

namespace sieve {

using namespace sqlite;

CSqliteDelete::CSqliteDelete() = default;
CSqliteDelete::~CSqliteDelete() = default;

void CSqliteDelete::Release() {
  for (auto* buffer : {&main_, &wal_, &journal_}) {
    buffer->clear();
    buffer->shrink_to_fit();
  }
  loaded_ = false;
  history_ = FileHistory{};
  schema_.clear();
  pageMap_ = PageMap{};
}

namespace {

// The whole of a plain file; false when it is missing, not a plain file or unreadable.
// Opened without blocking and checked to be a plain file: a FIFO in a backup must not hang
// the scan.
bool ReadPlainFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (fd < 0) return false;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(::fdopen(fd, "rb"), &std::fclose);
  if (!in) {
    ::close(fd);
    return false;
  }
  // One read into a buffer sized from the file's length; the loop only runs should the file
  // have grown since.
  bytes.resize(static_cast<std::size_t>(info.st_size));
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in.get()));
  std::uint8_t chunk[1 << 16];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, in.get())) > 0;) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  // A folder opens on some systems but fails on the first read.
  return !std::ferror(in.get());
}

}  // namespace

int CSqliteDelete::Load(const std::string& path) {
  Release();
  std::vector<std::uint8_t> main, wal, journal;
  if (!ReadPlainFile(path, main)) return -1;
  if (!ReadPlainFile(path + "-wal", wal)) wal.clear();
  if (!ReadPlainFile(path + "-journal", journal)) journal.clear();
  LoadBytes(std::move(main), std::move(wal), std::move(journal));
  if (Searchable() && pageMap_.Damaged()) NoteReadDamage(path, sqlite::ReadDamage::kPartial, SQLITE_CORRUPT);
  return 0;
}

int CSqliteDelete::LoadBytes(std::vector<std::uint8_t> bytes, std::vector<std::uint8_t> wal,
                             std::vector<std::uint8_t> journal) {
  Release();
  main_ = std::move(bytes);
  wal_ = std::move(wal);
  journal_ = std::move(journal);
  loaded_ = true;
  IndexFile();
  return 0;
}

void CSqliteDelete::IndexFile() {
  if (!wal_.empty() || !journal_.empty()) {
    FileHistoryResult read = ReadFileHistory(main_, wal_, journal_);
    if (read.ok() && read.history.current.Searchable()) {
      history_ = std::move(read.history);
    } else {
      // A log or journal that is not one (or does not fit the file) adds nothing.
      wal_.clear();
      journal_.clear();
    }
  }
  if (wal_.empty() && journal_.empty()) history_ = MainFileHistory(std::move(main_));
  if (!file().Searchable()) return;
  schema_ = ReadSchema(file());
  std::vector<std::uint32_t> roots;
  for (const SchemaEntry& entry : schema_) {
    if (entry.rootPage != 0) roots.push_back(entry.rootPage);
  }
  pageMap_ = PageMap::Build(file(), roots);
}

FoundRecords CSqliteDelete::Find(std::size_t shapeIndex, const RecordShape& shape) const {
  const ShapeTable table = TableOf(shapeIndex);
  FoundRecords found(shape.rowidAliasColumn, table.identities);
  StaleCopyFilter stale;
  if (!table.name.empty()) {
    TableShape live;
    live.name = table.name;
    live.rootPage = TableRootPage(table.name);
    live.shape = shape;
    stale = StaleCopyFilter::Build(file(), live, table.identities);
  }
  const auto admit = [&](const CarvedRecord& record) { return Accept(shapeIndex, record); };
  const auto keep = [&](CarvedRecord& record, const HistoryView& view) {
    if (stale.IsStale(record)) return;
    RecordOrigin origin;
    origin.source = view.source;  // the walk names the kind of region, or the log or journal
    origin.page = view.olderVersion ? view.page : record.page;
    origin.frame = view.frame;
    origin.olderVersion = view.olderVersion;
    found.Add(std::move(record), std::move(origin));
  };
  HistoryWalk walk;
  walk.control = ThreadScanControl::Current();
  // Made once and pointed at each region's bytes: making one sets up its tables per column.
  RecordCarver carver(file(), shape);
  ForEachHistoryRegion(
      history_, pageMap_,
      [&](const HistoryView& view, const FreeRegion& region, bool wholeCell) {
        // A page of a damaged file that no tree reaches may be a live page whose parent is
        // lost: its rows are not known to be deleted, so they are not offered as such.
        if (pageMap_.Damaged() && !view.olderVersion && region.kind == RegionKind::kLostPage) return;
        carver.Rebind(*view.file);
        if (wholeCell) {
          // A cell the page itself names is read where it starts, not searched for.
          const std::uint8_t* begin = view.file->bytes.data() + region.fileOffset;
          auto record = carver.IntactCell(begin, begin + region.length);
          if (!record) return;
          record->page = region.page;
          record->region = region.kind;
          if (admit(*record)) keep(*record, view);
          return;
        }
        for (CarvedRecord& record : carver.Carve(region, admit)) keep(record, view);
      },
      walk);
  return found;
}

int CSqliteDelete::scan() {
  if (!loaded_) return kNotLoaded;
  if (!Searchable()) return kNotSearchable;
  const std::vector<RecordShape> shapes = Shapes();
  int reported = 0;
  for (std::size_t index = 0; index < shapes.size(); ++index) {
    if (shapes[index].columns.empty()) continue;
    const FoundRecords found = Find(index, shapes[index]);
    if (ThreadScanControl::StopRequested()) break;
    for (const auto& [record, origin] : found.Records()) {
      OnRecord(index, record, origin);
      ++reported;
    }
  }
  return reported;
}

void CSqliteDelete::ForEachFreeRegion(const std::function<void(const FreeRegion&)>& visit) const {
  if (Searchable()) EnumerateFreeRegions(file(), pageMap_, visit);
}

const SchemaEntry* CSqliteDelete::FindTable(std::string_view table) const {
  const std::string wanted = ToLowerAscii(table);
  for (const SchemaEntry& entry : schema_) {
    if (entry.type == "table" && ToLowerAscii(entry.name) == wanted) return &entry;
  }
  return nullptr;
}

std::uint32_t CSqliteDelete::TableRootPage(std::string_view table) const {
  const SchemaEntry* entry = FindTable(table);
  return entry ? entry->rootPage : 0;
}

std::vector<TableColumn> CSqliteDelete::TableColumns(std::string_view table) const {
  const SchemaEntry* entry = FindTable(table);
  if (!entry) return {};
  auto definition = ParseCreateTable(entry->sql);
  return definition ? definition->columns : std::vector<TableColumn>{};
}

std::optional<RecordShape> CSqliteDelete::ShapeForTable(std::string_view table) const {
  const SchemaEntry* entry = FindTable(table);
  if (!entry) return std::nullopt;
  const auto definition = ParseCreateTable(entry->sql);
  if (!definition) return std::nullopt;
  return ShapeOfDefinition(entry->name, *definition).shape;
}

std::set<std::int64_t> CSqliteDelete::LiveRowids(std::string_view table) const {
  std::set<std::int64_t> rowids;
  for (const LiveCell& cell : LiveCells(table)) rowids.insert(cell.rowid);
  return rowids;
}

std::vector<CSqliteDelete::LiveCell> CSqliteDelete::LiveCells(std::string_view table) const {
  std::vector<LiveCell> cells;
  const std::uint32_t root = TableRootPage(table);
  if (root == 0 || !Searchable()) return cells;
  std::vector<bool> seen(PageCount() + 1u, false);
  BtreeVisitor visitor;
  visitor.onPayloadCell = [&](std::uint32_t page, const BtreePageHeader& header, const CellInfo& cell) {
    if (header.type != kLeafTablePage) return;
    cells.push_back({page, static_cast<std::size_t>(page - 1) * PageSize() + cell.offset, cell.rowid});
  };
  WalkBtree(file(), root, seen, visitor);
  return cells;
}

void CSqliteDelete::ForEachLiveRow(
    std::string_view table,
    const std::function<void(std::int64_t, const std::vector<Value>&)>& visit) const {
  const std::uint32_t root = TableRootPage(table);
  if (root == 0 || !Searchable()) return;
  const std::optional<RecordShape> shape = ShapeForTable(table);
  ForEachLiveTableRow(file(), root, shape ? shape->rowidAliasColumn : -1, visit);
}

std::string CSqliteDelete::Text(const Value& value) const { return ValueText(value, file().header.encoding); }

std::string CSqliteDelete::TextAt(const std::vector<Value>& values, int column) const {
  return sqlite::TextAt(values, column, file().header.encoding);
}

std::vector<RecordShape> CSqliteDelete::Shapes() const { return {}; }

CSqliteDelete::ShapeTable CSqliteDelete::TableOf(std::size_t) const { return {}; }

bool CSqliteDelete::Accept(std::size_t, const CarvedRecord&) const { return true; }

void CSqliteDelete::OnRecord(std::size_t, const CarvedRecord&, const RecordOrigin&) {}

}  // namespace sieve
