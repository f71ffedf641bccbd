// Deleted rows carved from databases that SQLite itself wrote, measured against what was
// deleted: how many come back (recall) and how many reports are genuine (precision).
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>

#include "sieve/sqlite/main_file_history.h"
#include "sieve/sqlite/overwritten_tail.h"
#include "sieve/sqlite/record_carver.h"
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

std::set<int> Ids(const std::string& path, const std::string& sql) {
  WritableDb db(path);
  std::set<int> ids;
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db.Handle(), sql.c_str(), -1, &q, nullptr);
  while (sqlite3_step(q) == SQLITE_ROW) ids.insert(sqlite3_column_int(q, 0));
  sqlite3_finalize(q);
  return ids;
}

// A database of this layout holding people [firstId, firstId + rows), then `then` run on it.
std::string PeopleDb(const test::TempDir& dir, int pageSize, const std::string& autoVacuum, int rows,
                     const std::string& then, int firstId = 1) {
  const std::string path = dir.Join("people.db");
  WritableDb db(path);
  db.Exec("PRAGMA page_size=" + std::to_string(pageSize) + "; PRAGMA auto_vacuum=" + autoVacuum +
          "; PRAGMA secure_delete=OFF");
  CreateSmallTable(db, rows, firstId);
  db.Exec(then);
  return path;
}

// The rows of [firstId, firstId + rows) that are not live any more.
std::set<int> Gone(const std::set<int>& live, int rows, int firstId = 1) {
  std::set<int> gone;
  for (int id = firstId; id < firstId + rows; ++id) {
    if (!live.count(id)) gone.insert(id);
  }
  return gone;
}

// One page of `size` bytes as a whole file, for the carver's reading of single cells.
PagedFile OnePage(const std::vector<std::uint8_t>& page, TextEncoding encoding = TextEncoding::kUtf8) {
  PagedFile file;
  file.bytes = page;
  file.header.status = GeometryStatus::kOk;
  file.header.pageSize = file.header.usableSize = static_cast<std::uint32_t>(page.size());
  file.header.pageCount = 1;
  file.header.encoding = encoding;
  file.header.schemaFormat = 4;
  return file;
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
    const std::string path =
        PeopleDb(dir, s.pageSize, s.autoVacuum, 3000, std::string("DELETE FROM people WHERE ") + s.deletion, s.firstId);
    const std::set<int> live = Ids(path, "SELECT id FROM people");
    const std::set<int> deleted = Gone(live, 3000, s.firstId);
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

// People rows deleted beside big messages rows that fill whole pages and overflow (whose cut
// records tools/mkcarve's "overflow" case measures): still found, and nothing else read as one.
TEST(Carving, OverflowingRowsAndTwoShapes) {
  test::TempDir dir;
  const std::string path = PeopleDb(dir, 4096, "NONE", 500,
      "CREATE TABLE messages(ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE, text TEXT, date INTEGER, "
      "is_from_me INTEGER);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) INSERT INTO messages"
      "(guid, text, date, is_from_me) SELECT 'guid-' || i, printf('%.*c', 40 + (i * 37) % 7000, char(97 + i % 26)), "
      "600000000 + i, i % 2 FROM n;"
      "DELETE FROM messages WHERE ROWID % 4 = 1; DELETE FROM people WHERE id % 5 = 0");
  TestCarver carver;
  ASSERT_EQ(carver.Load(path), 0);
  ASSERT_GE(carver.scan(), 0);
  const std::set<int> deletedPeople = Gone(Ids(path, "SELECT id FROM people"), 500);
  ASSERT_EQ(deletedPeople.size(), 100u);
  const std::set<int> survivingPeople = Survivors(carver.Bytes(), deletedPeople, PersonKey);
  const Measure people = MeasureCarve(carver, 0, survivingPeople, GenuinePerson);
  std::printf("  people beside them: deleted %zu, surviving %zu, recall %.3f, precision %.3f\n",
              deletedPeople.size(), survivingPeople.size(), people.recall, people.precision);
  EXPECT_GE(people.recall, 0.9);
  EXPECT_GE(people.precision, 0.95);
  std::size_t messages = 0, genuineMessages = 0;  // a message must be a deleted one, by its guid
  for (const auto& row : carver.found) {
    int id = -1;
    if (row.shape == 0) {
      EXPECT_GE(GenuinePerson(row), 0) << row.texts[1];
    } else if (++messages; std::sscanf(row.texts[1].c_str(), "guid-%d", &id) == 1 && id % 4 == 1) {
      ++genuineMessages;
    }
  }
  std::printf("  messages: %zu reported, %zu of them deleted ones\n", messages, genuineMessages);
  EXPECT_GT(genuineMessages, 50u);
  EXPECT_GE(genuineMessages, messages * 95 / 100);
  // Both shapes carved in one scan of each region give what each carved alone gives.
  const FileHistory history = MainFileHistory(std::vector<std::uint8_t>(carver.Bytes().begin(), carver.Bytes().end()));
  const RecordShape shapes[] = {*carver.ShapeForTable("people"), *carver.ShapeForTable("messages")};
  const std::vector<RecordCarver> both = {RecordCarver(history.current, shapes[0]), RecordCarver(history.current, shapes[1])};
  std::size_t compared = 0;
  carver.ForEachFreeRegion([&](const FreeRegion& region) {
    const auto together = RecordCarver::CarveAll(both, region, [](std::size_t, const CarvedRecord&) { return true; });
    for (std::size_t s = 0; s < both.size(); ++s) {
      const std::vector<CarvedRecord> alone = both[s].Carve(region, {});
      ASSERT_EQ(together[s].size(), alone.size()) << "shape " << s << " at " << region.fileOffset;
      for (std::size_t i = 0; i < alone.size(); ++i) {
        EXPECT_EQ(together[s][i].fileOffset, alone[i].fileOffset);
        EXPECT_EQ(together[s][i].length, alone[i].length);
        EXPECT_EQ(together[s][i].serialTypes, alone[i].serialTypes);
        EXPECT_EQ(together[s][i].cutAt, alone[i].cutAt);
      }
      compared += alone.size();
    }
  });
  EXPECT_GT(compared, 100u);
}

TEST(Carving, LiveRowsSchemaAndRegions) {
  test::TempDir dir;
  const std::string path = PeopleDb(dir, 1024, "NONE", 2000,
                                    "CREATE INDEX people_age ON people(age); DELETE FROM people WHERE id BETWEEN 300 AND 1700");
  const std::set<int> live = Ids(path, "SELECT id FROM people");
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

// Page 1 (the file header and the schema) is never free space, even to shapes that take anything.
TEST(Carving, OnePageDatabaseYieldsNothing) {
  test::TempDir dir;
  WritableDb(dir.Join("one.db")).Exec("PRAGMA user_version=7");
  struct Everything : CSqliteDelete {
    int records = 0;
    std::vector<RecordShape> Shapes() const override {
      std::vector<RecordShape> shapes(2);
      shapes[0].columns = {kAny};
      shapes[1].columns = {kAny, kAny, kAny};
      return shapes;
    }
    void OnRecord(std::size_t, const CarvedRecord&, const RecordOrigin&) override { ++records; }
  } engine;
  ASSERT_EQ(engine.Load(dir.Join("one.db")), 0);
  EXPECT_EQ(engine.PageCount(), 1u);
  EXPECT_EQ(engine.scan(), 0);
  EXPECT_EQ(engine.records, 0);
}

// Rows of small rowids in a table without a rowid alias: the freeblock header covers the
// payload length, the rowid, the header length and column 0's serial type. A number's type
// has to be assumed (its value is not reported); a text's length is what the freeblock's
// size leaves after the other columns, so it comes back exactly. The later columns always do.
TEST(Carving, LostLeadingSerialType) {
  struct Case {
    const char* table;
    const char* first;  // column 0's value for row i, as SQL
    std::function<std::string(int)> expected;  // its bytes; none: an assumed number, not reported
  };
  const std::string name29(29, 'x'), bytes8 = "abcdefgh";
  const Case cases[] = {
      {"CREATE TABLE plain(amount INTEGER, label TEXT)", "i * 1000", {}},
      {"CREATE TABLE plain(name TEXT, label TEXT)", "'name ' || substr('xxxxxxxxxxxxxxxxxxxxxxxxxxxxx', 1, i % 29)",
       [&](int i) { return "name " + name29.substr(0, static_cast<std::size_t>(i % 29)); }},
      // A column that holds text or blob alike: the length comes back, the kind is read as text.
      {"CREATE TABLE plain(data BLOB, label TEXT)", "CAST(substr('abcdefgh', 1, i % 7 + 1) AS BLOB)",
       [&](int i) { return bytes8.substr(0, static_cast<std::size_t>(i % 7 + 1)); }},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    const std::string path = dir.Join("plain.db");
    WritableDb(path).Exec("PRAGMA secure_delete=OFF;" + std::string(c.table) +
                          "; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100) "
                          "INSERT INTO plain SELECT " + c.first + ", 'label number ' || i FROM n;"
                          "DELETE FROM plain WHERE rowid % 2 = 1");
    struct Plain : CSqliteDelete {
      std::map<std::string, CarvedRecord> byLabel;
      std::vector<RecordShape> Shapes() const override { return {*ShapeForTable("plain")}; }
      void OnRecord(std::size_t, const CarvedRecord& record, const RecordOrigin&) override {
        byLabel[Text(record.values[1])] = record;
      }
    } carver;
    ASSERT_EQ(carver.Load(path), 0);
    ASSERT_GE(carver.scan(), 0);
    for (int i = 1; i <= 100; i += 2) {
      const auto found = carver.byLabel.find("label number " + std::to_string(i));
      ASSERT_NE(found, carver.byLabel.end()) << c.table << " " << i;
      const CarvedRecord& record = found->second;
      EXPECT_EQ(record.lostLeadingColumns, 1) << c.table << " " << i;
      EXPECT_EQ(record.rowid, -1);
      if (!c.expected) {
        EXPECT_EQ(record.values[0].kind, ValueKind::kNull) << c.table;
      } else {
        EXPECT_EQ(record.values[0].bytes, c.expected(i)) << c.table << " " << i;
      }
    }
    EXPECT_EQ(carver.byLabel.size(), 50u) << c.table;
  }
}

// Cells found without their prefix (a freeblock header over their first four bytes): a true
// record comes back; bytes that only parse as one are refused because their values cannot
// be what SQLite stored, or because too little of them was checked to believe them.
TEST(Carving, DamagedCellPlausibility) {
  using B = std::string;
  const B real15("\x3F\xF8\0\0\0\0\0\0", 8);  // 1.5
  struct Case {
    const char* name;
    TextEncoding encoding;
    B types, body;   // the record after the overwritten cell prefix (its header length lost too)
    std::size_t slack;  // freeblock bytes past the record: >= 4 when it merged with a neighbour
    bool found;
  };
  const Case cases[] = {
      {"true record", TextEncoding::kUtf8, "\x13\x01\x07\x15", B("abc\x2A") + real15 + "note", 0, true},
      {"broken UTF-8", TextEncoding::kUtf8, "\x13\x01\x07\x15", B("abc\x2A") + real15 + "n\xC3(e", 0, false},
      {"text read as a real", TextEncoding::kUtf8, "\x13\x01\x07\x15", B("abc\x2A") + "v000001-" + "note", 0, false},
      {"lone value, tight", TextEncoding::kUtf8, B("\x13\0\0\0", 4), "abc", 0, true},
      {"lone value, merged block", TextEncoding::kUtf8, B("\x13\0\0\0", 4), "abc", 8, false},
      {"zero in a one-byte integer", TextEncoding::kUtf8, "\x13\x01\x07\x15", B("abc\0", 4) + real15 + "note", 0, false},
      {"UTF-16 record", TextEncoding::kUtf16le, B("\x15\x01\0\x15", 4), B("a\0b\0\x2An\0o\0", 9), 0, true},
      {"UTF-16 odd length", TextEncoding::kUtf16le, B("\x13\x01\0\x15", 4), B("a\0b\x2An\0o\0", 8), 0, false},
      {"UTF-16 a byte off", TextEncoding::kUtf16le, B("\x15\x01\0\x15", 4), B("\0a\0b\x2An\0o\0", 9), 0, false},
      {"UTF-16 lone surrogate", TextEncoding::kUtf16le, B("\x15\x01\0\x15", 4), B("a\0b\0\x2A\0\xD8\x41\0", 9), 0, false},
      {"integer in more bytes than it needs", TextEncoding::kUtf8, "\x13\x04\x07\x15", B("abc\0\0\0\x2A", 7) + real15 + "note", 0, false},
      // Column 0 (text) lost with the cell prefix: only a block the record fills fixes its length.
      {"lost text type, tight", TextEncoding::kUtf8, "\x08\x07\x15", real15 + "note", 0, true},
      {"lost text type, merged block", TextEncoding::kUtf8, "\x08\x07\x15", real15 + "note", 8, false},
  };
  RecordShape shape;
  shape.columns = {kNull | kText, kNull | kInteger, kNull | kInteger | kReal, kNull | kText};
  for (const Case& c : cases) {
    std::vector<std::uint8_t> page(512, 0);
    const std::size_t at = 200;
    const B record = c.types + c.body;
    const std::size_t size = 4 + record.size() + c.slack;
    page[at + 3] = static_cast<std::uint8_t>(size);  // freeblock header: no next block, its size
    std::copy(record.begin(), record.end(), page.begin() + at + 4);
    const PagedFile file = OnePage(page, c.encoding);  // the carver keeps a pointer to it
    const RecordCarver carver(file, shape);
    const auto found = carver.DamagedCell(page.data() + at, page.data() + at + size, at);
    EXPECT_EQ(found.has_value(), c.found) << c.name;
    if (!found || !c.found) continue;
    EXPECT_EQ(found->length, 4 + record.size()) << c.name;
    const auto first = static_cast<std::size_t>(found->lostLeadingColumns);  // the column of types[0]
    EXPECT_EQ(B(found->values[first].bytes), c.body.substr(0, SerialTypeSize(std::uint8_t(c.types[0])))) << c.name;
  }
}

// A later cell starting inside a carved cell and reaching past it wrote over the cell's
// tail; one ending where a record starting at the cell's end does is that record read early.
// The cell's values are cut where the later cell starts.
TEST(Carving, OverwrittenTail) {
  struct SpanCase {
    const char* name;
    std::vector<CellSpan> others;
    std::optional<std::size_t> later;
  };
  const SpanCase spans[] = {
      {"reaches past the end", {{150, 260}}, 150},
      {"wholly inside", {{150, 190}}, std::nullopt},
      {"the next record read early", {{196, 240}, {200, 240}}, std::nullopt},
      {"earliest of two", {{180, 300}, {120, 210}}, 120},
  };
  for (const SpanCase& c : spans) {
    EXPECT_EQ(LaterCellInside({100, 200}, SortedSpans(c.others)), c.later) << c.name;
  }

  const std::string real15("\x3F\xF8\0\0\0\0\0\0", 8);  // 1.5
  const std::string cell = std::string("\x15\x07\x05\x13\x01\x07\x15", 7) + "abc\x2A" + real15 + "note";
  std::vector<std::uint8_t> page(64, 0);
  std::copy(cell.begin(), cell.end(), page.begin());
  const PagedFile file = OnePage(page);
  RecordShape shape;
  shape.columns = {kNull | kText, kNull | kInteger, kNull | kReal, kNull | kText};
  const std::size_t body = 7;
  struct CutCase {
    const char* name;
    std::size_t cut;
    bool kept;
    std::string label;  // column 0 after the cut
    bool numbersKept;
  };
  const CutCase cuts[] = {
      {"inside the header", body - 1, false, "", false},
      {"at the first value", body, false, "", false},
      {"inside the text", body + 2, true, "ab", false},
      {"after the numbers", body + 12, true, "abc", true},
  };
  for (const CutCase& c : cuts) {
    auto record = RecordCarver(file, shape).IntactCell(page.data(), page.data() + page.size());
    ASSERT_TRUE(record) << c.name;
    ASSERT_EQ(record->values[3].bytes, "note");
    EXPECT_EQ(CutOverwrittenTail(*record, c.cut, file.bytes, TextEncoding::kUtf8, -1), c.kept) << c.name;
    const auto again = RecordCarver(file, shape).ReadAgain(page.data(), page.data() + page.size(), 0, 0, 0, c.cut);
    EXPECT_EQ(again.has_value(), c.kept) << c.name;
    if (!c.kept) continue;
    EXPECT_EQ(record->values[0].bytes, c.label) << c.name;
    EXPECT_EQ(again->values[0].bytes, c.label) << c.name;
    EXPECT_EQ(record->values[1].kind == ValueKind::kInteger && record->values[2].kind == ValueKind::kReal,
              c.numbersKept) << c.name;
    EXPECT_TRUE(record->values[3].truncated && record->values[3].bytes.empty()) << c.name;
  }
}

// Freed cells of a block that merged with its neighbours: the block's size is no longer a
// cell's, so a lost text length is rebuilt from where the next record starts. That record may
// be intact (freed after the one before it, it joined that block and kept its prefix), keep a
// stale freeblock header, or have lost its tail to a later cell (its start still shows).
TEST(Carving, MergedBlockCellsEndAtTheNextRecord) {
  using B = std::string;
  // A table cell (one-byte payload length and rowid) of (text, small integer, text).
  const auto cell = [](int rowid, const B& a, int n, const B& c) {
    const B record = B{4, static_cast<char>(13 + 2 * a.size()), 1, static_cast<char>(13 + 2 * c.size())} + a +
                     static_cast<char>(n) + c;
    return B{static_cast<char>(record.size()), static_cast<char>(rowid)} + record;
  };
  const auto freed = [](B bytes, std::size_t size) {  // a freeblock header over the first four bytes
    bytes.replace(0, 4, B{0, 0, static_cast<char>(size >> 8), static_cast<char>(size)});
    return bytes;
  };
  const B first = cell(5, "first row text", 7, "its note");
  const B second = cell(6, "second one", 9, "another note here");
  struct Case {
    const char* name;
    B next;  // the bytes after the first cell, up to the block's end
    std::vector<B> texts;
  };
  const Case cases[] = {
      {"next cell intact", second, {"first row text", "second one"}},
      {"next cell freed first", freed(second, second.size()), {"first row text", "second one"}},
      {"next cell's tail reused", freed(second, second.size()).substr(0, 8), {"first row text"}},
  };
  RecordShape shape;
  shape.columns = {kText, kInteger, kText};
  for (const Case& c : cases) {
    std::vector<std::uint8_t> page(512, 0);
    const std::size_t at = 300;
    const B block = freed(first, first.size() + c.next.size()) + c.next;
    std::copy(block.begin(), block.end(), page.begin() + at);
    const PagedFile file = OnePage(page);
    const RecordCarver carver(file, shape);
    std::vector<B> texts;
    for (const CarvedRecord& record : carver.Carve({1, RegionKind::kFreeblock, at, block.size()}, {})) {
      texts.push_back(B(record.values[0].bytes));
      // Read again at output, the cell is bound to end where it was found to.
      const auto again = carver.ReadAgain(page.data() + record.fileOffset, page.data() + at + block.size(),
                                          record.fileOffset, record.reading, record.boundEnd, record.cutAt);
      EXPECT_TRUE(again && again->values[0].bytes == record.values[0].bytes) << c.name;
    }
    EXPECT_EQ(texts, c.texts) << c.name;
  }
}

// Reading a record again skips the checks its values passed when it was found; a search
// after it checks again: a text with a NUL in it is still no row, intact or freed.
TEST(Carving, ReadingAgainLeavesTheChecksOn) {
  using B = std::string;
  const auto cell = [](const B& text) {
    const B record = B{3, static_cast<char>(13 + 2 * text.size()), 1} + text + static_cast<char>(7);
    return B{static_cast<char>(record.size()), 5} + record;
  };
  RecordShape shape;
  shape.columns = {kText, kInteger};
  std::vector<std::uint8_t> page(512, 0);
  const B good = cell("a good row of text");
  B freed = cell(B("a bad row\0 of text", 19));
  freed.replace(0, 4, B{0, 0, 0, static_cast<char>(freed.size())});
  const B bad = cell(B("text with a \0 in it", 20));
  std::copy(good.begin(), good.end(), page.begin() + 100);
  std::copy(freed.begin(), freed.end(), page.begin() + 200);
  std::copy(bad.begin(), bad.end(), page.begin() + 300);
  const PagedFile file = OnePage(page);
  const RecordCarver carver(file, shape);
  const auto search = [&] {
    std::vector<B> texts;
    for (const std::size_t at : {100u, 200u, 300u}) {
      for (const CarvedRecord& record : carver.Carve({1, RegionKind::kFreeblock, at, 40}, {})) {
        texts.push_back(B(record.values[0].bytes));
      }
    }
    return texts;
  };
  ASSERT_EQ(search(), std::vector<B>{"a good row of text"});
  const auto again = carver.ReadAgain(page.data() + 100, page.data() + 140, 100, 0, 0, 0);
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(search(), std::vector<B>{"a good row of text"});
}

// A freed cell that fills its block, its header length byte still there, is all the block
// holds: record-like bytes inside its values are not rows of their own, however well they
// fit together.
TEST(Carving, ACellFillingItsFreeblockHidesNoOtherRecord) {
  using B = std::string;
  const auto record = [](const B& a, int n, const B& c) {
    return B{4, static_cast<char>(13 + 2 * a.size()), 1, static_cast<char>(13 + 2 * c.size())} + a +
           static_cast<char>(n) + c;
  };
  const B inner = [&] {
    const B one = record("inner text", 3, "tail");
    return B{static_cast<char>(one.size()), 9} + one;
  }();
  // A three-byte rowid: the freeblock header takes the payload length and the rowid only
  // (both lost).
  const B body = record("outer row", 7, inner + inner);
  B block = B{static_cast<char>(body.size()), static_cast<char>(0x81), static_cast<char>(0x80), 1} + body;
  block.replace(0, 4, B{0, 0, 0, static_cast<char>(block.size())});
  std::vector<std::uint8_t> page(512, 0);
  const std::size_t at = 300;
  std::copy(block.begin(), block.end(), page.begin() + at);
  const PagedFile file = OnePage(page);
  RecordShape shape;
  shape.columns = {kText, kInteger, kText};
  const RecordCarver carver(file, shape);
  FreeRegion region{1, RegionKind::kFreeblock, at, block.size(), true};
  const auto found = carver.Carve(region, {});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].values[0].bytes, "outer row");
}

}  // namespace
}  // namespace sieve::sqlite
