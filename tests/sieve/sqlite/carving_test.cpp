// Deleted rows carved from databases that SQLite itself wrote, measured against what was
// deleted: how many come back (recall) and how many reports are genuine (precision).
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <span>
#include <string>

#include "sieve/sqlite/sqlite_delete.h"
#include "sqlite_fixture.h"
#include "support/test_support.h"

namespace sieve::sqlite {
namespace {

using testing::CreateSmallTable;
using testing::SmallRowName;
using testing::WritableDb;

// Carves "people" rows (shape 0) and, when the table exists, "messages" rows (shape 1),
// leaving out every row that is still live.
class TestCarver : public CSqliteDelete {
 public:
  struct Found {
    std::size_t shape;
    std::int64_t rowid;
    std::vector<std::string> texts;
    std::vector<Value> values;
    bool truncated;
  };
  std::vector<Found> found;
  bool skipLive = true;

  int scan() override {
    found.clear();
    live_.clear();
    for (const char* table : {"people", "messages"}) {
      live_.push_back({LiveRowids(table), {}});
      ForEachLiveRow(table, [&](std::int64_t, const std::vector<Value>& values) {
        if (values.size() > 1) live_.back().keys.insert(Text(values[1]));
      });
    }
    return CSqliteDelete::scan();
  }

 protected:
  std::vector<RecordShape> Shapes() const override {
    std::vector<RecordShape> shapes;
    for (const char* table : {"people", "messages"}) {
      if (auto shape = ShapeForTable(table)) shapes.push_back(*shape);
    }
    return shapes;
  }
  void OnRecord(std::size_t shape, const CarvedRecord& record, const RecordOrigin&) override {
    const std::string key = Text(record.values[1]);
    if (skipLive && (live_[shape].rowids.count(record.rowid) || live_[shape].keys.count(key))) return;
    Found f{shape, record.rowid, {}, record.values, record.truncated};
    for (const Value& v : record.values) f.texts.push_back(Text(v));
    found.push_back(std::move(f));
  }

 private:
  struct Live {
    std::set<std::int64_t> rowids;
    std::set<std::string> keys;  // column 1, to recognise live copies whose rowid was lost
  };
  std::vector<Live> live_;
};

// The people id a carved row belongs to, or -1 when its values are not all that row's.
int GenuinePerson(const TestCarver::Found& row) {
  int id = -1;
  if (row.shape != 0 || std::sscanf(row.texts[1].c_str(), "person-%d-", &id) != 1) return -1;
  if (row.texts[1] != SmallRowName(id) || (row.rowid >= 0 && row.rowid != id)) return -1;
  if (row.values[2].kind != ValueKind::kInteger || row.values[2].integer != id % 97) return -1;
  if (row.values[3].kind != ValueKind::kReal || row.values[3].real != id + 0.25) return -1;
  return id;
}

struct Measure {
  double recall = 1;
  double precision = 1;
};

// Over the records of one shape.
template <typename Genuine>
Measure MeasureCarve(const TestCarver& carver, std::size_t shape, const std::set<int>& deleted, Genuine genuineId) {
  std::set<int> recovered;
  std::size_t genuine = 0;
  std::size_t reported = 0;
  for (const auto& row : carver.found) {
    if (row.shape != shape) continue;
    ++reported;
    const int id = genuineId(row);
    if (id >= 0 && deleted.count(id)) {
      ++genuine;
      recovered.insert(id);
    }
  }
  Measure m;
  if (!deleted.empty()) m.recall = double(recovered.size()) / double(deleted.size());
  if (reported != 0) m.precision = double(genuine) / double(reported);
  return m;
}

// The ids whose key bytes are still somewhere in the file: rows not overwritten since.
template <typename Key>
std::set<int> Survivors(std::span<const std::uint8_t> file, const std::set<int>& ids, Key key) {
  const std::string_view all(reinterpret_cast<const char*>(file.data()), file.size());
  std::set<int> found;
  for (const int id : ids) {
    if (all.find(key(id)) != std::string_view::npos) found.insert(id);
  }
  return found;
}

// The name and the one-byte age that follows it (ages 0 and 1 take no byte at all).
std::string PersonKey(int id) {
  const int age = id % 97;
  return age > 1 ? SmallRowName(id) + static_cast<char>(age) : SmallRowName(id);
}

std::set<int> Ids(WritableDb& db, const std::string& sql) {
  std::set<int> ids;
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db.Handle(), sql.c_str(), -1, &q, nullptr);
  while (sqlite3_step(q) == SQLITE_ROW) ids.insert(sqlite3_column_int(q, 0));
  sqlite3_finalize(q);
  return ids;
}

void Configure(WritableDb& db, int pageSize, const std::string& autoVacuum) {
  db.Exec("PRAGMA page_size=" + std::to_string(pageSize));
  db.Exec("PRAGMA auto_vacuum=" + autoVacuum);
  db.Exec("PRAGMA secure_delete=OFF");
}

TEST(Carving, RecallAndPrecisionAcrossLayouts) {
  struct Scenario {
    int pageSize;
    const char* autoVacuum;
    int firstId;  // ids from 16384 up take three varint bytes: the header length survives
    const char* deletion;
    double minRawRecall;  // of all deleted rows; full auto-vacuum truncates freed pages away
  };
  const Scenario scenarios[] = {
      {4096, "NONE", 1, "id % 3 = 0", 0.9},
      {4096, "NONE", 1, "id BETWEEN 1000 AND 1999", 0.9},
      {4096, "NONE", 20000, "id % 7 < 3", 0.9},
      {1024, "NONE", 1, "id % 3 = 0", 0.9},
      {1024, "NONE", 20000, "id BETWEEN 20100 AND 22900", 0.9},
      {4096, "INCREMENTAL", 1, "id % 3 = 0", 0.9},
      {4096, "INCREMENTAL", 1, "id BETWEEN 1000 AND 1999", 0.9},
      {1024, "FULL", 1, "id % 3 = 0", 0.9},
      {4096, "FULL", 1, "id BETWEEN 1000 AND 1999", 0.0},
  };
  for (const Scenario& s : scenarios) {
    const std::string name = std::to_string(s.pageSize) + "/" + s.autoVacuum + "/" + s.deletion;
    test::TempDir dir;
    const std::string path = dir.Join("people.db");
    std::set<int> deleted;
    std::set<int> live;
    {
      WritableDb db(path);
      Configure(db, s.pageSize, s.autoVacuum);
      CreateSmallTable(db, 3000, s.firstId);
      deleted = Ids(db, std::string("SELECT id FROM people WHERE ") + s.deletion);
      db.Exec(std::string("DELETE FROM people WHERE ") + s.deletion);
      live = Ids(db, "SELECT id FROM people");
    }
    TestCarver carver;
    ASSERT_EQ(carver.Load(path), 0);
    ASSERT_GE(carver.scan(), 0);
    const Measure raw = MeasureCarve(carver, 0, deleted, GenuinePerson);
    const std::set<int> surviving = Survivors(carver.Bytes(), deleted, PersonKey);
    const Measure m = MeasureCarve(carver, 0, surviving, GenuinePerson);
    std::printf("  %-42s deleted %4zu surviving %4zu  recall %.3f (of all %.3f)  precision %.3f\n", name.c_str(),
                deleted.size(), surviving.size(), m.recall, raw.recall, m.precision);
    EXPECT_GE(m.recall, 0.9) << name;
    EXPECT_GE(raw.recall, s.minRawRecall) << name;
    EXPECT_GE(m.precision, 0.95) << name;
    // Rows that are still live never come back as deleted ones.
    for (const auto& row : carver.found) EXPECT_EQ(live.count(GenuinePerson(row)), 0u) << name;
  }
}

TEST(Carving, OverflowingRowsAndTwoShapes) {
  test::TempDir dir;
  const std::string path = dir.Join("two.db");
  std::set<int> deleted;
  std::set<int> deletedPeople;
  const auto body = [](int id) { return std::string(static_cast<std::size_t>(40 + (id * 37) % 7000), static_cast<char>('a' + id % 26)); };
  {
    WritableDb db(path);
    Configure(db, 4096, "NONE");
    CreateSmallTable(db, 500);
    db.Exec("CREATE TABLE messages(ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE, text TEXT, date INTEGER, is_from_me INTEGER)");
    db.Exec("BEGIN");
    for (int id = 1; id <= 400; ++id) {
      db.Exec("INSERT INTO messages(guid, text, date, is_from_me) VALUES('guid-" + std::to_string(id) + "', '" +
              body(id) + "', " + std::to_string(600000000 + id) + ", " + std::to_string(id % 2) + ")");
    }
    db.Exec("COMMIT");
    deleted = Ids(db, "SELECT ROWID FROM messages WHERE ROWID % 4 = 1");
    db.Exec("DELETE FROM messages WHERE ROWID % 4 = 1");
    deletedPeople = Ids(db, "SELECT id FROM people WHERE id % 5 = 0");
    db.Exec("DELETE FROM people WHERE id % 5 = 0");
  }
  TestCarver carver;
  ASSERT_EQ(carver.Load(path), 0);
  ASSERT_GE(carver.scan(), 0);
  std::size_t truncated = 0;
  const auto genuineMessage = [&](const TestCarver::Found& row) {
    int id = -1;
    if (row.shape != 1 || std::sscanf(row.texts[1].c_str(), "guid-%d", &id) != 1) return -1;
    if (row.texts[1] != "guid-" + std::to_string(id)) return -1;
    // A text that went on to overflow pages is cut at the end of the part on the page, and
    // the values after it are lost.
    if (row.truncated ? !row.values[3].truncated : row.values[3].integer != 600000000 + id) return -1;
    const std::string expected = body(id);
    const std::string& text = row.texts[2];
    if (row.truncated ? expected.compare(0, text.size(), text) != 0 || text.size() >= expected.size()
                      : text != expected) {
      return -1;
    }
    truncated += row.truncated;
    return id;
  };
  // Big rows fill whole pages; when one is deleted SQLite merges pages and writes live rows
  // over it. Recall is measured over the rows whose bytes are still in the file.
  const std::set<int> surviving = Survivors(carver.Bytes(), deleted, [&](int id) {
    return "guid-" + std::to_string(id) + body(id).substr(0, 8);
  });
  const Measure m = MeasureCarve(carver, 1, surviving, genuineMessage);
  std::printf("  messages: deleted %zu, surviving %zu, recall %.3f, precision %.3f (%zu cut at the page)\n",
              deleted.size(), surviving.size(), m.recall, m.precision, truncated);
  EXPECT_GE(surviving.size(), deleted.size() / 2);
  EXPECT_GE(m.recall, 0.9);
  EXPECT_GE(m.precision, 0.95);
  EXPECT_GT(truncated, 10u);
  const std::set<int> survivingPeople = Survivors(carver.Bytes(), deletedPeople, PersonKey);
  const Measure people = MeasureCarve(carver, 0, survivingPeople, GenuinePerson);
  std::printf("  people beside them: deleted %zu, surviving %zu, recall %.3f, precision %.3f\n",
              deletedPeople.size(), survivingPeople.size(), people.recall, people.precision);
  EXPECT_GE(people.recall, 0.9);
  EXPECT_GE(people.precision, 0.95);
  for (const auto& row : carver.found) {
    if (row.shape == 0) {
      EXPECT_GE(GenuinePerson(row), 0) << row.texts[1];
    }
  }
}

TEST(Carving, HeaderPageCountOfOldWriters) {
  test::TempDir dir;
  const std::string path = dir.Join("old.db");
  {
    WritableDb db(path);
    Configure(db, 1024, "NONE");
    CreateSmallTable(db, 800);
    db.Exec("DELETE FROM people WHERE id % 4 = 0");
  }
  TestCarver reference;
  ASSERT_EQ(reference.Load(path), 0);
  const int expected = reference.scan();
  ASSERT_GT(expected, 150);

  auto bytes = testing::FileBytes(path);
  testing::PutBigEndian32(bytes, 28, 0);  // as iOS 4 and 5 wrote it
  TestCarver old;
  old.LoadBytes(bytes);
  EXPECT_EQ(old.PageCount(), reference.PageCount());
  EXPECT_EQ(old.scan(), expected);

  testing::PutBigEndian32(bytes, 28, 2);  // stale count: counters at 24 and 92 disagree
  testing::PutBigEndian32(bytes, 92, 12345);
  TestCarver stale;
  stale.LoadBytes(bytes);
  EXPECT_EQ(stale.PageCount(), bytes.size() / 1024);
  EXPECT_EQ(stale.scan(), expected);
}

TEST(Carving, LiveRowsSchemaAndRegions) {
  test::TempDir dir;
  const std::string path = dir.Join("live.db");
  std::set<int> live;
  {
    WritableDb db(path);
    Configure(db, 1024, "NONE");
    CreateSmallTable(db, 2000);
    db.Exec("CREATE INDEX people_age ON people(age)");
    db.Exec("DELETE FROM people WHERE id BETWEEN 300 AND 1700");
    live = Ids(db, "SELECT id FROM people");
  }
  TestCarver carver;
  ASSERT_EQ(carver.Load(path), 0);
  const auto rowids = carver.LiveRowids("PEOPLE");
  EXPECT_EQ(std::set<int>(rowids.begin(), rowids.end()), live);
  std::size_t rows = 0;
  carver.ForEachLiveRow("people", [&](std::int64_t rowid, const std::vector<Value>& values) {
    ++rows;
    EXPECT_EQ(values[0].integer, rowid);  // the alias column carries the rowid
    EXPECT_EQ(carver.Text(values[1]), SmallRowName(static_cast<int>(rowid)));
  });
  EXPECT_EQ(rows, live.size());
  EXPECT_TRUE(carver.LiveRowids("nothing").empty());
  EXPECT_EQ(carver.TableRootPage("nothing"), 0u);
  EXPECT_GT(carver.TableRootPage("people"), 1u);
  const auto columns = carver.TableColumns("people");
  ASSERT_EQ(columns.size(), 4u);
  EXPECT_TRUE(columns[0].rowidAlias);
  EXPECT_EQ(columns[3].declaredType, "REAL");

  // Every region lies inside one page's usable bytes; a mass delete leaves freelist pages.
  std::set<RegionKind> kinds;
  carver.ForEachFreeRegion([&](const FreeRegion& region) {
    kinds.insert(region.kind);
    const std::size_t pageStart = std::size_t{region.page - 1} * carver.PageSize();
    EXPECT_GE(region.fileOffset, pageStart);
    EXPECT_LE(region.fileOffset + region.length, pageStart + carver.UsableSize());
  });
  EXPECT_TRUE(kinds.count(RegionKind::kFreelistLeaf));
  EXPECT_TRUE(kinds.count(RegionKind::kUnallocated));

  // Without the live filter, stale copies of live rows may appear; with it, none.
  ASSERT_GE(carver.scan(), 0);
  for (const auto& row : carver.found) EXPECT_EQ(live.count(GenuinePerson(row)), 0u);
}

TEST(Carving, OnePageDatabaseYieldsNothing) {
  test::TempDir dir;
  const std::string path = dir.Join("one.db");
  {
    WritableDb db(path);
    db.Exec("PRAGMA user_version=7");
  }
  struct Everything : CSqliteDelete {
    int records = 0;
    std::vector<RecordShape> Shapes() const override {
      RecordShape one;
      one.columns = {kAny};
      RecordShape three;
      three.columns = {kAny, kAny, kAny};
      return {one, three};
    }
    void OnRecord(std::size_t, const CarvedRecord&, const RecordOrigin&) override { ++records; }
  } engine;
  ASSERT_EQ(engine.Load(path), 0);
  EXPECT_EQ(engine.PageCount(), 1u);
  EXPECT_EQ(engine.scan(), 0);
  EXPECT_EQ(engine.records, 0);
}

// Rows of small rowids in a table without a rowid alias: the freeblock header covers the
// payload length, the rowid, the header length and column 0's serial type, which has to be
// assumed. The later columns still come back exactly.
TEST(Carving, LostLeadingSerialType) {
  test::TempDir dir;
  const std::string path = dir.Join("plain.db");
  {
    WritableDb db(path);
    Configure(db, 4096, "NONE");
    db.Exec("CREATE TABLE plain(amount INTEGER, label TEXT)");
    for (int i = 1; i <= 100; ++i) {
      db.Exec("INSERT INTO plain VALUES(" + std::to_string(i * 1000) + ", 'label number " + std::to_string(i) + "')");
    }
    db.Exec("DELETE FROM plain WHERE rowid % 2 = 1");
  }
  struct Plain : CSqliteDelete {
    std::map<std::string, CarvedRecord> byLabel;
    std::vector<RecordShape> Shapes() const override { return {*ShapeForTable("plain")}; }
    void OnRecord(std::size_t, const CarvedRecord& record, const RecordOrigin&) override { byLabel[Text(record.values[1])] = record; }
  } carver;
  ASSERT_EQ(carver.Load(path), 0);
  ASSERT_GE(carver.scan(), 0);
  for (int i = 1; i <= 100; i += 2) {
    const auto found = carver.byLabel.find("label number " + std::to_string(i));
    ASSERT_NE(found, carver.byLabel.end()) << i;
    EXPECT_EQ(found->second.lostLeadingColumns, 1) << i;
    EXPECT_EQ(found->second.rowid, -1);
    EXPECT_EQ(found->second.values[0].kind, ValueKind::kNull);  // assumed, so not reported
  }
  EXPECT_EQ(carver.byLabel.size(), 50u);
}

}  // namespace
}  // namespace sieve::sqlite
