// Column lists from CREATE TABLE texts of the kinds Apple and app databases hold.
#include <gtest/gtest.h>

#include "sieve/sqlite/record_shape.h"
#include "sieve/sqlite/table_definition.h"
#include "sieve/sqlite/table_shapes.h"

namespace sieve::sqlite {
namespace {

std::vector<std::string> Names(const TableDefinition& t) {
  std::vector<std::string> names;
  for (const auto& c : t.columns) names.push_back(c.name);
  return names;
}

TEST(TableDefinition, ColumnsTypesAndRowidAlias) {
  const auto coreData = ParseCreateTable(
      "CREATE TABLE ZCALLRECORD ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, ZDATE TIMESTAMP, "
      "ZADDRESS VARCHAR, ZNAME VARCHAR(40) NOT NULL DEFAULT 'x, y', ZDATA BLOB )");
  ASSERT_TRUE(coreData);
  EXPECT_EQ(Names(*coreData), (std::vector<std::string>{"Z_PK", "Z_ENT", "ZDATE", "ZADDRESS", "ZNAME", "ZDATA"}));
  EXPECT_TRUE(coreData->columns[0].rowidAlias);
  EXPECT_FALSE(coreData->columns[1].rowidAlias);
  EXPECT_EQ(coreData->columns[4].declaredType, "VARCHAR(40)");

  // Quoted names, comments, a table-level key, a type of two words, a virtual generated column.
  const auto quoted = ParseCreateTable(
      "create table \"my \"\"t\"\" \" (\n"
      "  [ROWID x] integer, -- the key\n"
      "  `when` double precision /* seconds */,\n"
      "  'label' text COLLATE NOCASE,\n"
      "  twice INTEGER AS (\"ROWID x\" * 2) VIRTUAL,\n"
      "  PRIMARY KEY ([ROWID x])\n"
      ")");
  ASSERT_TRUE(quoted);
  EXPECT_EQ(Names(*quoted), (std::vector<std::string>{"ROWID x", "when", "label", "twice"}));
  EXPECT_TRUE(quoted->columns[0].rowidAlias);
  EXPECT_EQ(quoted->columns[1].declaredType, "double precision");
  EXPECT_TRUE(quoted->columns[2].stored);
  EXPECT_FALSE(quoted->columns[3].stored);

  // Not aliases: DESC key, INT instead of INTEGER, WITHOUT ROWID, composite key.
  EXPECT_FALSE(ParseCreateTable("CREATE TABLE a(id INTEGER PRIMARY KEY DESC, v)")->columns[0].rowidAlias);
  EXPECT_FALSE(ParseCreateTable("CREATE TABLE a(id INT PRIMARY KEY, v)")->columns[0].rowidAlias);
  const auto withoutRowid = ParseCreateTable("CREATE TABLE a(id INTEGER PRIMARY KEY, v) WITHOUT ROWID");
  EXPECT_TRUE(withoutRowid->withoutRowid);
  EXPECT_FALSE(withoutRowid->columns[0].rowidAlias);
  EXPECT_FALSE(ParseCreateTable("CREATE TABLE a(x INTEGER, y INTEGER, PRIMARY KEY(x, y))")->columns[0].rowidAlias);

  // A WITHOUT ROWID record holds the key columns first, in key order.
  const auto keyed = ParseCreateTable("CREATE TABLE k(a TEXT, b INT, c BLOB, PRIMARY KEY(c, a DESC)) WITHOUT ROWID");
  ASSERT_TRUE(keyed);
  EXPECT_EQ(keyed->primaryKey, (std::vector<std::string>{"c", "a"}));
  const TableShape shape = ShapeOfDefinition("k", *keyed);
  EXPECT_EQ(shape.columnNames, (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_TRUE(shape.shape.indexCell);
  EXPECT_EQ(shape.shape.rowidAliasColumn, -1);

  EXPECT_FALSE(ParseCreateTable("CREATE TABLE a AS SELECT 1"));
  EXPECT_FALSE(ParseCreateTable("CREATE VIRTUAL TABLE f USING fts4(body)"));
  EXPECT_FALSE(ParseCreateTable("CREATE TABLE broken(a, b"));
  EXPECT_FALSE(ParseCreateTable(""));
}

TEST(TableDefinition, KindsFollowAffinity) {
  EXPECT_EQ(KindsForDeclaredType("INTEGER"), kNull | kInteger);
  EXPECT_EQ(KindsForDeclaredType("unsigned big int"), kNull | kInteger);
  EXPECT_EQ(KindsForDeclaredType("VARCHAR(255)"), kNull | kText);
  EXPECT_EQ(KindsForDeclaredType("BLOB"), kAny);
  EXPECT_EQ(KindsForDeclaredType(""), kAny);
  EXPECT_EQ(KindsForDeclaredType("DOUBLE"), kNull | kReal | kInteger);
  EXPECT_EQ(KindsForDeclaredType("TIMESTAMP"), kNull | kInteger | kReal | kText);
  // "POINT" contains "INT": affinity rules are applied in their order.
  EXPECT_EQ(KindsForDeclaredType("FLOATING POINT"), kNull | kInteger);
}

}  // namespace
}  // namespace sieve::sqlite
