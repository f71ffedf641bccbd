// Damaged and lying database files: every one gives a clear result and no read outside the
// file (run under AddressSanitizer to see the second half).
#include <gtest/gtest.h>

#include <random>

#include "sieve/sqlite/btree_page.h"
#include "sieve/sqlite/record_decoder.h"
#include "sieve/sqlite/carve_engine.h"
#include "sieve/sqlite/sqlite_delete.h"
#include "sqlite_fixture.h"
#include "support/test_support.h"

namespace sieve::sqlite {
namespace {

using testing::PutBigEndian16;
using testing::PutBigEndian32;

struct Everything : CSqliteDelete {
  int records = 0;
  std::vector<RecordShape> Shapes() const override {
    std::vector<RecordShape> shapes;
    if (auto people = ShapeForTable("people")) shapes.push_back(*people);
    RecordShape loose;
    loose.columns = {kAny, kAny, kAny};
    loose.minColumns = 1;
    shapes.push_back(loose);
    return shapes;
  }
  void OnRecord(std::size_t, const CarvedRecord& record, const RecordOrigin&) override {
    ++records;
    // Every reported value lies inside the file.
    const auto* begin = reinterpret_cast<const char*>(Bytes().data());
    for (const Value& v : record.values) {
      if (!v.bytes.empty()) {
        EXPECT_GE(v.bytes.data(), begin);
        EXPECT_LE(v.bytes.data() + v.bytes.size(), begin + Bytes().size());
      }
    }
    EXPECT_LE(record.fileOffset + record.length, Bytes().size());
  }
};

// Loads the bytes and runs everything the engine offers; the results must be clear.
void Exercise(const std::vector<std::uint8_t>& bytes, const std::string& what) {
  Everything engine;
  ASSERT_EQ(engine.LoadBytes(bytes), 0) << what;
  const int result = engine.scan();
  EXPECT_TRUE(result >= 0 || result == CSqliteDelete::kNotSearchable) << what;
  EXPECT_EQ(result >= 0, engine.Searchable()) << what;
  if (result >= 0) {
    EXPECT_EQ(result, engine.records) << what;
  }
  (void)engine.LiveRowids("people");
  std::size_t rows = 0;
  engine.ForEachLiveRow("people", [&](std::int64_t, const std::vector<Value>&) { ++rows; });
  (void)engine.TableColumns("people");
  // The schema-driven carve over the same bytes, with them as an older version of page 2 too.
  FileHistory history = MainFileHistory(bytes);
  if (bytes.size() >= 2048) history.older.push_back({2, VersionSource::Wal, 1, 0, true, std::span(bytes).subspan(1024, 1024)});
  const CarveResult carved = Carve(history, {}, [](const CarvedRow&) {});
  EXPECT_EQ(carved.status == CarveStatus::kOk, engine.Searchable()) << what;
}

std::vector<std::uint8_t> SampleDatabase(const test::TempDir& dir) {
  const std::string path = dir.Join("sample.db");
  {
    testing::WritableDb db(path);
    db.Exec("PRAGMA page_size=1024");
    db.Exec("PRAGMA secure_delete=OFF");
    testing::CreateSmallTable(db, 600);
    db.Exec("CREATE TABLE notes(id INTEGER PRIMARY KEY, body TEXT)");
    db.Exec("INSERT INTO notes(body) VALUES(printf('%.*c', 3000, 'n'))");
    db.Exec("DELETE FROM people WHERE id % 3 = 0 OR id BETWEEN 200 AND 400");
  }
  return testing::FileBytes(path);
}

// First page after page 1 whose b-tree header says `type`.
std::uint32_t FindPage(const std::vector<std::uint8_t>& bytes, std::uint8_t type) {
  for (std::uint32_t page = 2; page * 1024 <= bytes.size(); ++page) {
    if (bytes[(page - 1) * 1024] == type) return page;
  }
  return 0;
}

TEST(HostileFile, TruncatedAndZeroed) {
  test::TempDir dir;
  const auto good = SampleDatabase(dir);
  for (const std::size_t length : {std::size_t{0}, std::size_t{16}, std::size_t{99}, std::size_t{100},
                                   std::size_t{1023}, std::size_t{1024}, std::size_t{1025}, std::size_t{5000},
                                   good.size() / 2, good.size() - 1}) {
    Exercise(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)),
             "truncated to " + std::to_string(length));
  }
  auto zeroSize = good;
  PutBigEndian16(zeroSize, 16, 0);
  Exercise(zeroSize, "page size 0");
  auto zeroPages = good;
  std::fill(zeroPages.begin() + 1024, zeroPages.end(), 0);
  Exercise(zeroPages, "every page after the first zeroed");
  auto randomPage = good;
  std::mt19937 random(7);
  for (std::size_t i = 2048; i < 3072; ++i) randomPage[i] = static_cast<std::uint8_t>(random());
  Exercise(randomPage, "page 3 random");
}

TEST(HostileFile, LyingStructures) {
  test::TempDir dir;
  const auto good = SampleDatabase(dir);
  const std::uint32_t leaf = FindPage(good, kLeafTablePage);
  const std::uint32_t interior = FindPage(good, kInteriorTablePage);
  ASSERT_NE(leaf, 0u);
  ASSERT_NE(interior, 0u);
  const std::size_t leafAt = (leaf - 1) * 1024;
  const std::size_t interiorAt = (interior - 1) * 1024;

  auto pointers = good;
  for (std::size_t i = 0; i < 4; ++i) PutBigEndian16(pointers, leafAt + 8 + 2 * i, 0xFFFF - i);
  PutBigEndian16(pointers, leafAt + 3, 0xFFFF);  // more cells than the page can point to
  Exercise(pointers, "cell pointers past the page");

  auto record = good;
  const std::size_t cell = leafAt + good[leafAt + 8] * 256u + good[leafAt + 9];
  for (std::size_t i = 0; i < 12; ++i) record[cell + i] = 0xFF;  // payload length and header lie
  Exercise(record, "lying cell and record header");

  auto content = good;
  PutBigEndian16(content, leafAt + 5, 2);  // content "starts" inside the pointer array
  PutBigEndian16(content, leafAt + 1, 1000);  // freeblock near the end, running past it
  PutBigEndian16(content, leafAt + 1000, 1000);
  PutBigEndian16(content, leafAt + 1002, 200);
  Exercise(content, "content start and freeblock out of place");

  auto freeblockLoop = good;
  PutBigEndian16(freeblockLoop, leafAt + 1, 600);
  PutBigEndian16(freeblockLoop, leafAt + 600, 600);  // points at itself
  PutBigEndian16(freeblockLoop, leafAt + 602, 8);
  Exercise(freeblockLoop, "freeblock chain cycle");

  auto treeLoop = good;
  PutBigEndian32(treeLoop, interiorAt + 8, interior);  // right child is the page itself
  PutBigEndian32(treeLoop, interiorAt + 1024 - 4, 1);  // and a cell may point at page 1
  Exercise(treeLoop, "b-tree cycle");

  auto freelist = good;
  const std::uint32_t pages = static_cast<std::uint32_t>(good.size() / 1024);
  PutBigEndian32(freelist, 32, pages);
  const std::size_t trunkAt = (pages - 1) * 1024;
  PutBigEndian32(freelist, trunkAt, pages);            // next trunk: itself
  PutBigEndian32(freelist, trunkAt + 4, 0xFFFFFFFF);   // more leaves than fit
  PutBigEndian32(freelist, trunkAt + 8, 0);
  PutBigEndian32(freelist, trunkAt + 12, 1);
  PutBigEndian32(freelist, trunkAt + 16, 0x7FFFFFFF);
  PutBigEndian32(freelist, trunkAt + 20, leaf);        // a live page claimed as free
  Exercise(freelist, "cyclic freelist with wild leaves");

  auto schema = good;
  for (std::size_t i = 100; i < 1024; ++i) schema[i] ^= 0x5A;
  Exercise(schema, "schema page scrambled");
}

TEST(HostileFile, RandomMutations) {
  test::TempDir dir;
  const auto good = SampleDatabase(dir);
  std::mt19937 random(2024);
  for (int round = 0; round < 150; ++round) {
    auto bytes = good;
    const int flips = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
    if (round % 10 == 0) bytes.resize(random() % bytes.size());
    Exercise(bytes, "mutation round " + std::to_string(round));
  }
}

}  // namespace
}  // namespace sieve::sqlite
