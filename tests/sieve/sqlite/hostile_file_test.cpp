// Damaged and lying database files: every one gives a clear result and no read outside the
// file (run under AddressSanitizer to see the second half).
#include <gtest/gtest.h>

#include <functional>

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
  (void)engine.TableColumns("people");
  engine.ForEachLiveRow("people", [](std::int64_t, const std::vector<Value>&) {});
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

// Each damage on its own copy of the sample. Random bytes are the fuzz targets' part
// (fuzz/sqlite_pages, fuzz/carve_engine); cut files, a bad page size, a lying page count, cell
// pointers and counts past the page, cyclic freelists, chains and children out of range the
// hostile campaign's (tools/mkhostile, on every category's database). Here: the lies inside a
// page that neither tells.
TEST(HostileFile, DamagedCopiesGiveClearResults) {
  test::TempDir dir;
  const auto good = SampleDatabase(dir);
  const std::uint32_t leaf = FindPage(good, kLeafTablePage);
  ASSERT_NE(leaf, 0u);
  const std::size_t leafAt = (leaf - 1) * 1024;
  const auto pages = static_cast<std::uint32_t>(good.size() / 1024);
  using Bytes = std::vector<std::uint8_t>;
  const std::pair<const char*, std::function<void(Bytes&)>> damages[] = {
      {"every page after the first zeroed", [](Bytes& b) { std::fill(b.begin() + 1024, b.end(), 0); }},
      {"lying cell and record header", [&](Bytes& b) {  // payload length and header lie
         std::fill_n(b.begin() + leafAt + b[leafAt + 8] * 256 + b[leafAt + 9], 12, 0xFF);
       }},
      {"content start and freeblock out of place", [&](Bytes& b) {
         PutBigEndian16(b, leafAt + 5, 2);     // content "starts" inside the pointer array
         PutBigEndian16(b, leafAt + 1, 1000);  // freeblock near the end, running past it
         PutBigEndian16(b, leafAt + 1000, 1000);
         PutBigEndian16(b, leafAt + 1002, 200);
       }},
      {"freeblock chain cycle", [&](Bytes& b) {
         PutBigEndian16(b, leafAt + 1, 600);
         PutBigEndian16(b, leafAt + 600, 600);  // points at itself
         PutBigEndian16(b, leafAt + 602, 8);
       }},
      {"freelist leaves past the file and a live page among them", [&](Bytes& b) {
         std::size_t trunkAt = (pages - 1) * 1024;
         PutBigEndian32(b, 32, pages);
         PutBigEndian32(b, trunkAt, 0);
         PutBigEndian32(b, trunkAt + 4, 4);
         for (const std::uint32_t page : {0u, 1u, 0x7FFFFFFFu, leaf}) PutBigEndian32(b, trunkAt += 4, page);
       }},
      {"schema page scrambled", [](Bytes& b) { for (std::size_t i = 100; i < 1024; ++i) b[i] ^= 0x5A; }},
  };
  for (const auto& [what, damage] : damages) {
    Bytes bytes = good;
    damage(bytes);
    Exercise(bytes, what);
  }
  // Cut where the header or the first page ends.
  for (const int length : {0, 99, 100, 1023, 1025}) {
    Exercise(Bytes(good.begin(), good.begin() + length), "cut at " + std::to_string(length));
  }
}

}  // namespace
}  // namespace sieve::sqlite
