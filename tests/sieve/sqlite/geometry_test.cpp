// Page size and page count as the engine reads them from a database header, including the
// values old writers and damaged files leave there.
#include <gtest/gtest.h>

#include <cstring>

#include "sieve/sqlite/btree_page.h"
#include "sieve/sqlite/sqlite_delete.h"
#include "sqlite_fixture.h"
#include "support/test_support.h"

namespace sieve::sqlite {
namespace {

using testing::PutBigEndian16;
using testing::PutBigEndian32;

// A header of an empty file of `pages` pages, with the page count valid at offset 28.
std::vector<std::uint8_t> SyntheticFile(std::uint32_t rawPageSize, std::uint32_t pageSize, std::uint32_t pages) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(pageSize) * pages, 0);
  std::memcpy(bytes.data(), "SQLite format 3", 16);
  PutBigEndian16(bytes, 16, rawPageSize);
  PutBigEndian32(bytes, 24, 7);
  PutBigEndian32(bytes, 28, pages);
  PutBigEndian32(bytes, 92, 7);
  bytes[100] = kLeafTablePage;  // an empty schema page
  PutBigEndian16(bytes, 105, pageSize == 65536 ? 0 : pageSize);
  return bytes;
}

TEST(Geometry, PageSizeField) {
  CSqliteDelete engine;
  engine.LoadBytes(SyntheticFile(0x8000, 32768, 2));
  EXPECT_EQ(engine.PageSize(), 32768u);
  EXPECT_EQ(engine.PageCount(), 2u);
  engine.LoadBytes(SyntheticFile(0x0001, 65536, 2));
  EXPECT_EQ(engine.PageSize(), 65536u);
  EXPECT_TRUE(engine.Searchable());

  for (const std::uint32_t bad : {0u, 256u, 1000u, 4097u}) {
    engine.LoadBytes(SyntheticFile(bad, 4096, 2));
    EXPECT_FALSE(engine.Searchable()) << bad;
    EXPECT_EQ(engine.Geometry(), GeometryStatus::kBadPageSize) << bad;
    EXPECT_EQ(engine.scan(), CSqliteDelete::kNotSearchable) << bad;
  }
  auto reserved = SyntheticFile(512, 512, 2);
  reserved[20] = 40;  // leaves 472 usable bytes, below the format's minimum
  engine.LoadBytes(reserved);
  EXPECT_EQ(engine.Geometry(), GeometryStatus::kBadReservedSize);
  reserved[20] = 32;
  engine.LoadBytes(reserved);
  EXPECT_EQ(engine.UsableSize(), 480u);

  auto foreign = SyntheticFile(4096, 4096, 2);
  foreign[0] = 'X';
  engine.LoadBytes(foreign);
  EXPECT_EQ(engine.Geometry(), GeometryStatus::kNotSqlite);
  engine.LoadBytes(std::vector<std::uint8_t>(99, 0));
  EXPECT_EQ(engine.Geometry(), GeometryStatus::kTooShort);
  EXPECT_EQ(engine.scan(), CSqliteDelete::kNotSearchable);
}

TEST(Geometry, PageCountFollowsTheChangeCounterRule) {
  CSqliteDelete engine;
  auto bytes = SyntheticFile(1024, 1024, 6);
  PutBigEndian32(bytes, 28, 4);  // the header's count, smaller than the file: believed
  engine.LoadBytes(bytes);
  EXPECT_EQ(engine.PageCount(), 4u);

  PutBigEndian32(bytes, 28, 0);  // old writers leave 0: the file length decides
  engine.LoadBytes(bytes);
  EXPECT_EQ(engine.PageCount(), 6u);

  PutBigEndian32(bytes, 28, 4);
  PutBigEndian32(bytes, 92, 6);  // counters disagree: the count is stale
  engine.LoadBytes(bytes);
  EXPECT_EQ(engine.PageCount(), 6u);

  PutBigEndian32(bytes, 92, 7);
  PutBigEndian32(bytes, 28, 1000);  // never more pages than the file holds
  engine.LoadBytes(bytes);
  EXPECT_EQ(engine.PageCount(), 6u);
  bytes.resize(6 * 1024 + 300);  // a partial last page is not a page
  engine.LoadBytes(bytes);
  EXPECT_EQ(engine.PageCount(), 6u);
  EXPECT_EQ(engine.FileLength(), 6u * 1024 + 300);
}

TEST(Geometry, LoadResults) {
  test::TempDir dir;
  CSqliteDelete engine;
  EXPECT_EQ(engine.scan(), CSqliteDelete::kNotLoaded);
  EXPECT_EQ(engine.Load(dir.Join("missing.db")), -1);
  EXPECT_EQ(engine.Load(dir.Path()), -1);  // a folder
  EXPECT_FALSE(engine.IsLoaded());

  const std::string path = dir.Join("one.db");
  {
    testing::WritableDb db(path);
    db.Exec("CREATE TABLE t(a)");
  }
  ASSERT_EQ(engine.Load(path), 0);
  EXPECT_TRUE(engine.Searchable());
  EXPECT_EQ(engine.Load(dir.Join("missing.db")), -1);
  EXPECT_FALSE(engine.IsLoaded());  // the failed load released the earlier file
  EXPECT_EQ(engine.FileLength(), 0u);
}

}  // namespace
}  // namespace sieve::sqlite
