// The engine the category extractors use to find deleted rows in a database file. It holds
// the whole file in memory with its write-ahead log and rollback journal when they stand
// beside it, maps what every page is used for, and carves records of the shapes a subclass
// asks for out of every place where deleted rows survive: the free space of the file as
// SQLite sees it (log applied) and each older version of a page the log or journal keeps.
// It never asks SQLite: a damaged file is read as far as its bytes allow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/sqlite/found_records.h"
#include "sieve/sqlite/page_history.h"
#include "sieve/sqlite/page_map.h"
#include "sieve/sqlite/paged_file.h"
#include "sieve/sqlite/record_shape.h"
#include "sieve/sqlite/schema.h"
#include "sieve/sqlite/stale_copies.h"
#include "sieve/sqlite/table_definition.h"

namespace sieve {

using sqlite::CarvedRecord;
using sqlite::ColumnKind;
using sqlite::FreeRegion;
using sqlite::RecordOrigin;
using sqlite::RecordShape;
using sqlite::RegionKind;

class CSqliteDelete {
 public:
  static constexpr int kNotLoaded = -1;
  static constexpr int kNotSearchable = -2;  // loaded, but not a database whose pages can be walked

  CSqliteDelete();
  virtual ~CSqliteDelete();
  CSqliteDelete(const CSqliteDelete&) = delete;
  CSqliteDelete& operator=(const CSqliteDelete&) = delete;

  // 0 when the file was read, -1 when it is missing or cannot be read. Either way the bytes
  // of an earlier load are released first. The log (path + "-wal") and journal
  // (path + "-journal") are read too when they stand beside it; one that cannot be read as
  // such is left out, and the file is then read as it stands.
  int Load(const std::string& path);
  int LoadBytes(std::vector<std::uint8_t> bytes, std::vector<std::uint8_t> wal = {},
                std::vector<std::uint8_t> journal = {});
  bool IsLoaded() const { return loaded_; }
  bool Searchable() const { return loaded_ && file().Searchable(); }
  sqlite::GeometryStatus Geometry() const { return file().header.status; }

  // Carves every shape of Shapes() out of the file's history and hands each record to
  // OnRecord once, however many places it was found in; copies of live rows of the shape's
  // table (TableOf) are left out. Returns the number of records handed over, kNotLoaded or
  // kNotSearchable.
  virtual int scan();

  std::uint32_t PageSize() const { return file().header.pageSize; }
  std::uint32_t UsableSize() const { return file().header.usableSize; }
  std::uint32_t PageCount() const { return file().header.pageCount; }
  // The file as SQLite sees it (log applied).
  std::uint64_t FileLength() const { return file().bytes.size(); }
  std::span<const std::uint8_t> Bytes() const { return file().bytes; }
  // Older page versions the log and journal hold.
  std::size_t OlderVersions() const { return history_.older.size(); }

  void ForEachFreeRegion(const std::function<void(const FreeRegion&)>& visit) const;

  // The schema as stored on page 1; empty when it cannot be read.
  const std::vector<sqlite::SchemaEntry>& Schema() const { return schema_; }
  // Root page of a table (name compared without regard to ASCII case); 0 when unknown.
  std::uint32_t TableRootPage(std::string_view table) const;
  // Columns of a table from its CREATE TABLE text; empty when unknown.
  std::vector<sqlite::TableColumn> TableColumns(std::string_view table) const;
  // A shape that follows the table's real columns and declared types; nullopt when unknown.
  std::optional<RecordShape> ShapeForTable(std::string_view table) const;

  // Live rows are those of the file as SQLite sees it. Rowids of the live rows of a table, by
  // walking its b-tree.
  std::set<std::int64_t> LiveRowids(std::string_view table) const;
  // Where each live row of a table stands: its leaf page, the file offset of its cell, its rowid.
  struct LiveCell {
    std::uint32_t page = 0;
    std::size_t fileOffset = 0;
    std::int64_t rowid = 0;
  };
  std::vector<LiveCell> LiveCells(std::string_view table) const;
  // Every live row with its values (the rowid alias column carries the rowid). The values
  // point into a buffer that is reused: copy what must outlive the call.
  void ForEachLiveRow(std::string_view table,
                      const std::function<void(std::int64_t rowid, const std::vector<sqlite::Value>&)>&
                          visit) const;

  // A value as UTF-8 text, converted from the file's text encoding.
  std::string Text(const sqlite::Value& value) const;
  // The value at a column position as UTF-8 text; "" when absent or Null.
  std::string TextAt(const std::vector<sqlite::Value>& values, int column) const;

  // The table a shape looks for rows of, and the column sets that name one of its rows.
  struct ShapeTable {
    std::string name;  // "": the shape's records are not checked against live rows
    std::vector<sqlite::RowIdentity> identities;
  };

 protected:
  // What the subclass looks for; the base looks for nothing.
  virtual std::vector<RecordShape> Shapes() const;
  // Whose rows shape `shapeIndex` finds; the base names no table.
  virtual ShapeTable TableOf(std::size_t shapeIndex) const;
  // A last check on a candidate before overlapping candidates are weighed against each
  // other; a refused one takes no part. The base takes every candidate.
  virtual bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const;
  // Called once per record found, with where it was found; the base does nothing. For a
  // record of an older page version, page and offset are those within that version.
  virtual void OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin);

 private:
  void Release();
  void IndexFile();
  const sqlite::PagedFile& file() const { return history_.current; }
  const sqlite::SchemaEntry* FindTable(std::string_view table) const;
  sqlite::FoundRecords Find(std::size_t shapeIndex, const RecordShape& shape) const;

  // The main file, log and journal as read; the history's older versions point into them.
  std::vector<std::uint8_t> main_, wal_, journal_;
  bool loaded_ = false;
  sqlite::FileHistory history_;
  std::vector<sqlite::SchemaEntry> schema_;
  sqlite::PageMap pageMap_;
};

}  // namespace sieve
