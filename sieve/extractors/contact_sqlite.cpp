#include "sieve/extractors/contact_sqlite.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <limits>
#include <map>

#include "sieve/extractors/index_entry.h"
#include "sieve/reader/text.h"
#include "sieve/sqlite/carve_toolkit.h"

namespace sieve {
namespace {

using namespace sqlite;

constexpr const char* kPersonTable = "ABPerson";
constexpr const char* kMultiValueTable = "ABMultiValue";
constexpr std::array<const char*, kPersonTextCount> kPersonColumnNames = {
    "First", "Last", "Middle", "Organization", "Department", "Note", "Birthday", "JobTitle", "Prefix", "Suffix"};

bool IsInteger(const Value* value) { return value != nullptr && value->kind == ValueKind::kInteger; }

}  // namespace

void CContactSqlite::FindColumns() {
  const auto person = TableColumns(kPersonTable);
  havePeople_ = !person.empty();
  for (std::size_t i = 0; i < kPersonTextCount; ++i) columns_.person[i] = StoredColumnIndex(person, kPersonColumnNames[i]);
  columns_.nickname = StoredColumnIndex(person, "Nickname");
  columns_.creationDate = StoredColumnIndex(person, "CreationDate");
  columns_.modificationDate = StoredColumnIndex(person, "ModificationDate");
  columns_.personGuid = StoredColumnIndex(person, "guid");  // the iOS 5 table has none
  const auto multi = TableColumns(kMultiValueTable);
  columns_.recordId = StoredColumnIndex(multi, "record_id");
  columns_.property = StoredColumnIndex(multi, "property");
  columns_.identifier = StoredColumnIndex(multi, "identifier");
  columns_.label = StoredColumnIndex(multi, "label");
  columns_.value = StoredColumnIndex(multi, "value");
  columns_.guid = StoredColumnIndex(multi, "guid");  // the iOS 5 table has none
  haveMultiValues_ = columns_.recordId >= 0 && columns_.property >= 0 && columns_.value >= 0;
}

PersonTexts CContactSqlite::TextsOf(const CarvedRecord& record) const {
  PersonTexts texts;
  for (std::size_t i = 0; i < kPersonTextCount; ++i) {
    texts[i] = TextAt(record.values, columns_.person[i]);
  }
  return texts;
}

int CContactSqlite::Recover() {
  people_.clear();
  multiValues_.clear();
  if (!IsLoaded()) return kNotLoaded;
  if (!Searchable()) return kNotSearchable;
  FindColumns();
  livePersonCells_ = LiveCells(kPersonTable);
  livePeople_.clear();
  for (const LiveCell& cell : livePersonCells_) livePeople_.insert(cell.rowid);
  const int carved = scan();
  if (carved < 0) return carved;
  FindLostRowids();
  Link();
  return static_cast<int>(people_.size());
}

std::vector<RecordShape> CContactSqlite::Shapes() const {
  std::vector<RecordShape> shapes(2);
  // An empty shape finds nothing, so a table the file lacks costs no search.
  if (havePeople_) {
    if (auto person = ShapeForTable(kPersonTable)) shapes[kPersonShape] = *person;
  }
  if (haveMultiValues_) {
    if (auto multi = ShapeForTable(kMultiValueTable)) {
      // Without the person, the kind and the value a multi-value row is worth nothing.
      NarrowColumn(*multi, columns_.recordId, kInteger);
      NarrowColumn(*multi, columns_.property, kInteger);
      NarrowColumn(*multi, columns_.value, kText);
      shapes[kMultiValueShape] = *multi;
    }
  }
  return shapes;
}

// A person is named by the texts that name them; a multi-value by what it says of whom
// (the guid only in layouts that have one).
CSqliteDelete::ShapeTable CContactSqlite::TableOf(std::size_t shapeIndex) const {
  if (shapeIndex == kPersonShape) return {kPersonTable, {RowIdentity(columns_.person.begin(), columns_.person.end())}};
  RowIdentity multi;
  for (const int column : {columns_.recordId, columns_.property, columns_.identifier, columns_.label, columns_.value,
                           columns_.guid}) {
    if (column >= 0) multi.push_back(column);
  }
  return {kMultiValueTable, {multi}};
}

bool CContactSqlite::Accept(std::size_t shapeIndex, const CarvedRecord& record) const {
  if (shapeIndex == kPersonShape) {
    // A person is worth reporting only with something that names them.
    for (const int column : {columns_.person[kFirst], columns_.person[kLast], columns_.person[kMiddle],
                             columns_.person[kOrganization], columns_.person[kDepartment], columns_.nickname,
                             columns_.person[kJobTitle], columns_.person[kNote]}) {
      if (HasText(record.values, column)) return true;
    }
    return false;
  }
  const Value* recordId = ValueAt(record.values, columns_.recordId);
  const Value* property = ValueAt(record.values, columns_.property);
  const Value* value = ValueAt(record.values, columns_.value);
  return IsInteger(recordId) && recordId->integer > 0 && IsInteger(property) && property->integer > 0 &&
         value != nullptr && value->kind == ValueKind::kText && !value->bytes.empty();
}

void CContactSqlite::OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin) {
  if (shapeIndex == kPersonShape) {
    RecoveredPerson person;
    person.rowid = record.rowid;
    // A cell of an older page version says nothing of where it stood among the live cells.
    person.page = origin.olderVersion ? 0 : record.page;
    person.fileOffset = record.fileOffset;
    person.texts = TextsOf(record);
    if (HasText(record.values, columns_.nickname)) person.nickname = TextAt(record.values, columns_.nickname);
    person.creationDate = NumberAt(record.values, columns_.creationDate).value_or(0);
    person.modificationDate = NumberAt(record.values, columns_.modificationDate).value_or(0);
    if (HasText(record.values, columns_.personGuid)) person.guid = TextAt(record.values, columns_.personGuid);
    people_.push_back(std::move(person));
    return;
  }
  RecoveredMultiValue v;
  v.uid = record.rowid;
  v.recordId = IntegerAt(record.values, columns_.recordId).value_or(0);
  v.property = IntegerAt(record.values, columns_.property).value_or(0);
  v.identifier = IntegerAt(record.values, columns_.identifier).value_or(0);
  v.label = IntegerAt(record.values, columns_.label).value_or(-1);
  v.value = TextAt(record.values, columns_.value);
  v.guid = TextAt(record.values, columns_.guid);
  multiValues_.push_back(std::move(v));
}

// A person whose cell lost its rowid is still named by its entry in the guid index; the
// rowid found there must be one that deleted multi-values name and no person has.
void CContactSqlite::FindLostRowids() {
  std::set<std::int64_t> known;
  for (const RecoveredPerson& person : people_) {
    if (person.rowid >= 0) known.insert(person.rowid);
  }
  std::set<std::int64_t> orphans;
  for (const RecoveredMultiValue& v : multiValues_) {
    if (known.count(v.recordId) == 0 && livePeople_.count(v.recordId) == 0) orphans.insert(v.recordId);
  }
  if (orphans.empty()) return;
  std::vector<std::size_t> lost;
  std::vector<std::set<std::int64_t>> indexed;
  for (std::size_t i = 0; i < people_.size(); ++i) {
    if (people_[i].rowid >= 0 || people_[i].guid.empty() || orphans.empty()) continue;
    lost.push_back(i);
    indexed.push_back(RowidsIndexedUnder(Bytes(), people_[i].guid,
                                         [&](std::int64_t rowid) { return orphans.count(rowid) != 0; }));
  }
  const std::vector<std::int64_t> assigned = AssignLostRowids(indexed, orphans);
  for (std::size_t k = 0; k < lost.size(); ++k) {
    if (assigned[k] < 0) continue;
    people_[lost[k]].rowid = assigned[k];
    orphans.erase(assigned[k]);
  }
  PlaceLostRowids(orphans);
}

// A person whose index entry is gone too is placed by where its cell lies: a leaf page is
// filled from its end in rowid order (rows are added with growing rowids, and a rebuilt page
// keeps their order), so a freed cell lies between the cells of the rows before and after it.
// Only a page whose cells keep that order is read so, and only one orphan rowid between the
// two is taken.
void CContactSqlite::PlaceLostRowids(std::set<std::int64_t>& orphans) {
  for (RecoveredPerson& person : people_) {
    if (person.rowid >= 0 || orphans.empty()) continue;
    std::vector<std::pair<std::size_t, std::int64_t>> cells;  // file offset, rowid
    for (const LiveCell& cell : livePersonCells_) {
      if (cell.page == person.page) cells.emplace_back(cell.fileOffset, cell.rowid);
    }
    for (const RecoveredPerson& other : people_) {
      if (other.rowid >= 0 && other.page == person.page) cells.emplace_back(other.fileOffset, other.rowid);
    }
    std::sort(cells.begin(), cells.end(), std::greater<>());
    bool ordered = true;
    for (std::size_t i = 1; i < cells.size(); ++i) ordered = ordered && cells[i - 1].second < cells[i].second;
    if (!ordered) continue;
    std::int64_t after = std::numeric_limits<std::int64_t>::min();
    std::int64_t before = std::numeric_limits<std::int64_t>::max();
    for (const auto& [offset, rowid] : cells) {
      if (offset > person.fileOffset) after = rowid;
      if (offset < person.fileOffset) {
        before = rowid;
        break;
      }
    }
    const auto first = orphans.upper_bound(after);
    const auto last = orphans.lower_bound(before);
    if (first == last || std::next(first) != last) continue;
    person.rowid = *first;
    orphans.erase(first);
  }
}

void CContactSqlite::Link() {
  std::map<std::int64_t, std::size_t> personByRowid;
  for (std::size_t i = 0; i < people_.size(); ++i) {
    if (people_[i].rowid >= 0) personByRowid.emplace(people_[i].rowid, i);
  }
  std::map<std::int64_t, std::size_t> notFoundByRecordId;
  // Older copies of one multi-value (moved before it was deleted) differ only in what was
  // overwritten; a person shows each value once.
  std::set<std::tuple<std::int64_t, std::int64_t, std::string>> linked;
  for (RecoveredMultiValue& v : multiValues_) {
    if (!linked.emplace(v.recordId, v.property, v.value).second) continue;
    if (auto it = personByRowid.find(v.recordId); it != personByRowid.end()) {
      people_[it->second].values.push_back(std::move(v));
      continue;
    }
    auto [it, added] = notFoundByRecordId.emplace(v.recordId, people_.size());
    if (added) {
      RecoveredPerson nameless;
      nameless.found = false;
      nameless.rowid = v.recordId;
      people_.push_back(std::move(nameless));
    }
    people_[it->second].values.push_back(std::move(v));
  }
  multiValues_.clear();
}

}  // namespace sieve
