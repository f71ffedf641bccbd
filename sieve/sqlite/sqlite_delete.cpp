#include "sieve/sqlite/sqlite_delete.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <unordered_set>

#include "sieve/reader/text.h"
#include "sieve/sqlite/btree_walk.h"
#include "sieve/sqlite/free_space.h"
#include "sieve/sqlite/record_carver.h"
#include "sieve/sqlite/table_shapes.h"

namespace sieve {

using namespace sqlite;

CSqliteDelete::CSqliteDelete() = default;
CSqliteDelete::~CSqliteDelete() = default;

void CSqliteDelete::Release() {
  bytes_.clear();
  bytes_.shrink_to_fit();
  loaded_ = false;
  file_ = PagedFile{};
  schema_.clear();
  pageMap_ = PageMap{};
}

int CSqliteDelete::Load(const std::string& path) {
  Release();
  // Opened without blocking and checked to be a plain file: a FIFO in a backup must not hang the scan.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (fd < 0) return -1;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return -1;
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(::fdopen(fd, "rb"), &std::fclose);
  if (!in) {
    ::close(fd);
    return -1;
  }
  // One read into a buffer sized from the file's length; the loop only runs should the file
  // have grown since.
  std::error_code ec;
  const std::uintmax_t expected = std::filesystem::file_size(path, ec);
  std::vector<std::uint8_t> bytes(ec ? 0 : static_cast<std::size_t>(expected));
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in.get()));
  std::uint8_t chunk[1 << 16];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, in.get())) > 0;) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  // A folder opens on some systems but fails on the first read.
  if (std::ferror(in.get())) return -1;
  return LoadBytes(std::move(bytes));
}

int CSqliteDelete::LoadBytes(std::vector<std::uint8_t> bytes) {
  Release();
  bytes_ = std::move(bytes);
  loaded_ = true;
  IndexFile();
  return 0;
}

void CSqliteDelete::IndexFile() {
  file_.bytes = bytes_;
  file_.header = ReadDatabaseHeader(bytes_);
  if (!file_.Searchable()) return;
  schema_ = ReadSchema(file_);
  std::vector<std::uint32_t> roots;
  for (const SchemaEntry& entry : schema_) {
    if (entry.rootPage != 0) roots.push_back(entry.rootPage);
  }
  pageMap_ = PageMap::Build(file_, roots);
}

int CSqliteDelete::scan() {
  if (!loaded_) return kNotLoaded;
  if (!file_.Searchable()) return kNotSearchable;
  const std::vector<RecordShape> shapes = Shapes();
  int found = 0;
  for (std::size_t index = 0; index < shapes.size(); ++index) {
    const RecordCarver carver(file_, shapes[index]);
    std::unordered_set<std::size_t> reported;
    const auto admit = [&](const CarvedRecord& record) { return Accept(index, record); };
    ForEachFreeRegion([&](const FreeRegion& region) {
      for (const CarvedRecord& record : carver.Carve(region, admit)) {
        // One report per place in the file, should regions ever overlap.
        if (!reported.insert(record.fileOffset).second) continue;
        OnRecord(index, record);
        ++found;
      }
    });
  }
  return found;
}

void CSqliteDelete::ForEachFreeRegion(const std::function<void(const FreeRegion&)>& visit) const {
  if (Searchable()) EnumerateFreeRegions(file_, pageMap_, visit);
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
  std::vector<bool> seen(file_.header.pageCount + 1u, false);
  BtreeVisitor visitor;
  visitor.onPayloadCell = [&](std::uint32_t page, const BtreePageHeader& header, const CellInfo& cell) {
    if (header.type != kLeafTablePage) return;
    cells.push_back({page, static_cast<std::size_t>(page - 1) * PageSize() + cell.offset, cell.rowid});
  };
  WalkBtree(file_, root, seen, visitor);
  return cells;
}

void CSqliteDelete::ForEachLiveRow(
    std::string_view table,
    const std::function<void(std::int64_t, const std::vector<Value>&)>& visit) const {
  const std::uint32_t root = TableRootPage(table);
  if (root == 0 || !Searchable()) return;
  int aliasColumn = -1;
  const std::vector<TableColumn> columns = TableColumns(table);
  for (std::size_t i = 0, stored = 0; i < columns.size(); ++i) {
    if (!columns[i].stored) continue;
    if (columns[i].rowidAlias) aliasColumn = static_cast<int>(stored);
    ++stored;
  }
  std::vector<bool> seen(file_.header.pageCount + 1u, false);
  std::vector<std::uint8_t> payload;
  std::vector<Value> values;
  BtreeVisitor visitor;
  visitor.onPayloadCell = [&](std::uint32_t page, const BtreePageHeader& header, const CellInfo& cell) {
    if (header.type != kLeafTablePage) return;
    const bool complete = ReadPayload(file_, page, cell, bytes_.size(), payload);
    if (!DecodeRecord(payload.data(), payload.data() + payload.size(), values, !complete)) return;
    if (aliasColumn >= 0 && static_cast<std::size_t>(aliasColumn) < values.size()) {
      values[static_cast<std::size_t>(aliasColumn)].kind = ValueKind::kInteger;
      values[static_cast<std::size_t>(aliasColumn)].integer = cell.rowid;
    }
    visit(cell.rowid, values);
  };
  WalkBtree(file_, root, seen, visitor);
}

std::string CSqliteDelete::Text(const Value& value) const { return ValueText(value, file_.header.encoding); }

std::vector<RecordShape> CSqliteDelete::Shapes() const { return {}; }

bool CSqliteDelete::Accept(std::size_t, const CarvedRecord&) const { return true; }

void CSqliteDelete::OnRecord(std::size_t, const CarvedRecord&) {}

}  // namespace sieve
