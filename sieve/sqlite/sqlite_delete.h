// The engine the category extractors use to find deleted rows in a database file. It holds
// the whole file in memory, maps what every page is used for, and carves records of the
// shapes a subclass asks for out of the places where deleted rows survive. It never asks
// SQLite: a damaged file is read as far as its bytes allow.
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

#include "sieve/sqlite/page_map.h"
#include "sieve/sqlite/paged_file.h"
#include "sieve/sqlite/record_shape.h"
#include "sieve/sqlite/schema.h"
#include "sieve/sqlite/table_definition.h"

namespace sieve {

using sqlite::CarvedRecord;
using sqlite::ColumnKind;
using sqlite::FreeRegion;
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
  // of an earlier load are released first.
  int Load(const std::string& path);
  int LoadBytes(std::vector<std::uint8_t> bytes);
  bool IsLoaded() const { return loaded_; }
  bool Searchable() const { return loaded_ && file_.Searchable(); }
  sqlite::GeometryStatus Geometry() const { return file_.header.status; }

  // Carves every shape of Shapes() out of the free regions and hands each record to OnRecord.
  // Returns the number of records handed over, kNotLoaded or kNotSearchable.
  virtual int scan();

  std::uint32_t PageSize() const { return file_.header.pageSize; }
  std::uint32_t UsableSize() const { return file_.header.usableSize; }
  std::uint32_t PageCount() const { return file_.header.pageCount; }
  std::uint64_t FileLength() const { return bytes_.size(); }
  std::span<const std::uint8_t> Bytes() const { return bytes_; }

  void ForEachFreeRegion(const std::function<void(const FreeRegion&)>& visit) const;

  // The schema as stored on page 1; empty when it cannot be read.
  const std::vector<sqlite::SchemaEntry>& Schema() const { return schema_; }
  // Root page of a table (name compared without regard to ASCII case); 0 when unknown.
  std::uint32_t TableRootPage(std::string_view table) const;
  // Columns of a table from its CREATE TABLE text; empty when unknown.
  std::vector<sqlite::TableColumn> TableColumns(std::string_view table) const;
  // A shape that follows the table's real columns and declared types; nullopt when unknown.
  std::optional<RecordShape> ShapeForTable(std::string_view table) const;

  // Rowids of the live rows of a table, by walking its b-tree.
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

 protected:
  // What the subclass looks for; the base looks for nothing.
  virtual std::vector<RecordShape> Shapes() const;
  // A last check on a candidate before overlapping candidates are weighed against each
  // other; a refused one takes no part. The base takes every candidate.
  virtual bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const;
  // Called once per record found; the base does nothing.
  virtual void OnRecord(std::size_t shapeIndex, const CarvedRecord& record);

 private:
  void Release();
  void IndexFile();
  const sqlite::SchemaEntry* FindTable(std::string_view table) const;

  std::vector<std::uint8_t> bytes_;
  bool loaded_ = false;
  sqlite::PagedFile file_;
  std::vector<sqlite::SchemaEntry> schema_;
  sqlite::PageMap pageMap_;
};

}  // namespace sieve
