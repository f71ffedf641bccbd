// A carved copy of a live row must get the key the live rows' walk gave that row, whatever
// its values' serial types: the walk hashes records where they lie, the carver hashes the
// values it decoded, and the two must agree to the bit or stale copies come back as deleted.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "sieve/sqlite/database_header.h"
#include "sieve/sqlite/live_rows.h"
#include "sieve/sqlite/schema.h"
#include "sieve/sqlite/table_shapes.h"
#include "sqlite_fixture.h"
#include "support/test_support.h"

namespace sieve::sqlite {
namespace {

using testing::FileBytes;
using testing::WritableDb;

// The row as SQLite reads it, in the form a carver gives it back.
std::vector<Value> RowValues(sqlite3_stmt* statement, std::vector<std::string>& keep) {
  std::vector<Value> values;
  for (int column = 0; column < sqlite3_column_count(statement); ++column) {
    Value value;
    switch (sqlite3_column_type(statement, column)) {
      case SQLITE_INTEGER:
        value.kind = ValueKind::kInteger;
        value.integer = sqlite3_column_int64(statement, column);
        break;
      case SQLITE_FLOAT:
        value.kind = ValueKind::kReal;
        value.real = sqlite3_column_double(statement, column);
        break;
      case SQLITE_TEXT:
      case SQLITE_BLOB: {
        value.kind = sqlite3_column_type(statement, column) == SQLITE_TEXT ? ValueKind::kText : ValueKind::kBlob;
        const void* data = sqlite3_column_blob(statement, column);
        keep.emplace_back(static_cast<const char*>(data), static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
        value.bytes = keep.back();
        break;
      }
      default: break;
    }
    values.push_back(value);
  }
  return values;
}

TEST(LiveRows, CopiesOfLiveRowsMatchAtEverySerialType) {
  test::TempDir dir;
  const std::string path = dir.Join("types.db");
  {
    WritableDb db(path);
    // Integers of every stored width and both signs, the constants 0 and 1, reals (-0.0
    // among them), texts, blobs, NULL and empty values.
    db.Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, a, b, c);"
            "INSERT INTO t VALUES(1, -1, 127, -128), (2, -300, 32767, -32768), (3, -70000, 8388607, -8388608),"
            "(4, -2147483648, 2147483647, 3000000000), (5, -140737488355328, 140737488355327, 1099511627776),"
            "(6, -9223372036854775808, 9223372036854775807, 0), (7, 1, 0, NULL), (8, 1.5, -0.0, 1e300),"
            "(9, 'text', '', x''), (10, x'00ff80', 'ünïcödé', NULL), (-5, NULL, NULL, 'negative rowid'),"
            "(11, printf('%.*c', 100, 'q'), randomblob(75), printf('%.*c', 33, 'z'))");
  }
  const std::vector<std::uint8_t> bytes = FileBytes(path);
  PagedFile file{bytes, ReadDatabaseHeader(bytes)};
  ASSERT_TRUE(file.Searchable());
  const std::vector<TableShape> tables = SchemaTableShapes(ReadSchema(file));
  std::size_t table = 0;
  while (table < tables.size() && tables[table].name != "t") ++table;
  ASSERT_LT(table, tables.size());
  const int alias = tables[table].shape.rowidAliasColumn;
  ASSERT_EQ(alias, 0);
  const LiveRows live = LiveRows::Build(file, tables);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT id, a, b, c FROM t", -1, &statement, nullptr), SQLITE_OK);
  int rows = 0;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    ++rows;
    std::vector<std::string> keep;
    keep.reserve(8);
    CarvedRecord record;
    record.values = RowValues(statement, keep);
    record.rowid = record.values[0].integer;
    // Kept whole, with its rowid overwritten, with its first serial type lost.
    EXPECT_TRUE(live.IsLive(table, record, alias)) << "row " << record.rowid;
    CarvedRecord noRowid = record;
    noRowid.rowid = -1;
    noRowid.values[0] = Value{};
    EXPECT_TRUE(live.IsLive(table, noRowid, alias)) << "row " << record.rowid << " without its rowid";
    CarvedRecord lostFirst = noRowid;
    lostFirst.lostLeadingColumns = 1;
    EXPECT_TRUE(live.IsLive(table, lostFirst, alias)) << "row " << record.rowid << " without its first column";
    // Any one value changed is another row.
    for (std::size_t column = 1; column < record.values.size(); ++column) {
      CarvedRecord other = record;
      Value& value = other.values[column];
      if (value.kind == ValueKind::kInteger) {
        value.integer ^= 1;
      } else if (value.kind == ValueKind::kReal) {
        value.real = value.real == 0.0 ? (std::signbit(value.real) ? 0.0 : -0.0) : value.real * 2;
      } else if (value.kind == ValueKind::kNull) {
        value.kind = ValueKind::kInteger;
      } else {
        value.kind = value.kind == ValueKind::kText ? ValueKind::kBlob : ValueKind::kText;
      }
      EXPECT_FALSE(live.IsLive(table, other, alias)) << "row " << record.rowid << " column " << column;
      // So is a text or blob with any one byte changed, wherever it sits in a long value.
      const Value& original = record.values[column];
      for (std::size_t at = 0; at < original.bytes.size(); ++at) {
        std::string changed(original.bytes);
        changed[at] = static_cast<char>(changed[at] ^ 0x20);
        other = record;
        other.values[column].bytes = changed;
        EXPECT_FALSE(live.IsLive(table, other, alias)) << "row " << record.rowid << " column " << column << " byte " << at;
      }
    }
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  EXPECT_EQ(rows, 12);
  EXPECT_EQ(live.RowCount(), 13u);  // and the schema's own row
}

}  // namespace
}  // namespace sieve::sqlite
