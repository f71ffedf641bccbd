#include "sieve/extractors/contact_sqlite.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <limits>
#include <map>

#include "sieve/extractors/index_entry.h"
#include "sieve/reader/text.h"

namespace sieve {
namespace {

using sqlite::Value;
using sqlite::ValueKind;

constexpr const char* kPersonTable = "ABPerson";
constexpr const char* kMultiValueTable = "ABMultiValue";
constexpr std::array<const char*, kPersonTextCount> kPersonColumnNames = {
    "First", "Last", "Middle", "Organization", "Department", "Note", "Birthday", "JobTitle", "Prefix", "Suffix"};

// Index of a column among the columns a record stores; -1 when the table has none of that name.
int StoredIndex(const std::vector<sqlite::TableColumn>& columns, std::string_view name) {
  const std::string wanted = ToLowerAscii(name);
  int stored = 0;
  for (const sqlite::TableColumn& column : columns) {
    if (!column.stored) continue;
    if (ToLowerAscii(column.name) == wanted) return stored;
    ++stored;
  }
  return -1;
}

const Value* At(const std::vector<Value>& values, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= values.size()) return nullptr;
  return &values[static_cast<std::size_t>(index)];
}

bool IsInteger(const Value* value) { return value != nullptr && value->kind == ValueKind::kInteger; }

std::int64_t IntegerOr(const Value* value, std::int64_t fallback) {
  return IsInteger(value) ? value->integer : fallback;
}

double NumberOr(const Value* value, double fallback) {
  if (IsInteger(value)) return static_cast<double>(value->integer);
  return value != nullptr && value->kind == ValueKind::kReal ? value->real : fallback;
}

}  // namespace

void CContactSqlite::FindColumns() {
  const auto person = TableColumns(kPersonTable);
  havePeople_ = !person.empty();
  for (std::size_t i = 0; i < kPersonTextCount; ++i) columns_.person[i] = StoredIndex(person, kPersonColumnNames[i]);
  columns_.nickname = StoredIndex(person, "Nickname");
  columns_.creationDate = StoredIndex(person, "CreationDate");
  columns_.modificationDate = StoredIndex(person, "ModificationDate");
  columns_.personGuid = StoredIndex(person, "guid");  // the iOS 5 table has none
  const auto multi = TableColumns(kMultiValueTable);
  columns_.recordId = StoredIndex(multi, "record_id");
  columns_.property = StoredIndex(multi, "property");
  columns_.identifier = StoredIndex(multi, "identifier");
  columns_.label = StoredIndex(multi, "label");
  columns_.value = StoredIndex(multi, "value");
  columns_.guid = StoredIndex(multi, "guid");  // the iOS 5 table has none
  haveMultiValues_ = columns_.recordId >= 0 && columns_.property >= 0 && columns_.value >= 0;
}

PersonTexts CContactSqlite::TextsOf(const CarvedRecord& record) const {
  PersonTexts texts;
  for (std::size_t i = 0; i < kPersonTextCount; ++i) {
    if (const Value* v = At(record.values, columns_.person[i])) texts[i] = Text(*v);
  }
  return texts;
}

CContactSqlite::MultiValueKey CContactSqlite::KeyOf(const RecoveredMultiValue& v) const {
  return {v.recordId, v.property, v.identifier, v.label, v.value, v.guid};
}

void CContactSqlite::CollectLiveRows() {
  livePersonCells_ = LiveCells(kPersonTable);
  livePeople_.clear();
  for (const LiveCell& cell : livePersonCells_) livePeople_.insert(cell.rowid);
  ForEachLiveRow(kPersonTable, [&](std::int64_t, const std::vector<Value>& values) {
    CarvedRecord row;
    row.values = values;
    livePersonTexts_.insert(TextsOf(row));
  });
  ForEachLiveRow(kMultiValueTable, [&](std::int64_t, const std::vector<Value>& values) {
    RecoveredMultiValue v;
    v.recordId = IntegerOr(At(values, columns_.recordId), 0);
    v.property = IntegerOr(At(values, columns_.property), 0);
    v.identifier = IntegerOr(At(values, columns_.identifier), 0);
    v.label = IntegerOr(At(values, columns_.label), -1);
    if (const Value* text = At(values, columns_.value)) v.value = Text(*text);
    if (const Value* guid = At(values, columns_.guid)) v.guid = Text(*guid);
    liveMultiValues_.insert(KeyOf(v));
  });
}

int CContactSqlite::Recover() {
  people_.clear();
  multiValues_.clear();
  seenMultiValues_.clear();
  seenPeople_.clear();
  if (!IsLoaded()) return kNotLoaded;
  if (!Searchable()) return kNotSearchable;
  FindColumns();
  CollectLiveRows();
  const int carved = scan();
  if (carved < 0) return carved;
  DropRowidlessCopies();
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
      multi->columns[static_cast<std::size_t>(columns_.recordId)] = sqlite::kInteger;
      multi->columns[static_cast<std::size_t>(columns_.property)] = sqlite::kInteger;
      multi->columns[static_cast<std::size_t>(columns_.value)] = sqlite::kText;
      shapes[kMultiValueShape] = *multi;
    }
  }
  return shapes;
}

bool CContactSqlite::Accept(std::size_t shapeIndex, const CarvedRecord& record) const {
  if (shapeIndex == kPersonShape) {
    if (record.rowid >= 0 && livePeople_.count(record.rowid) != 0) return false;
    // A person is worth reporting only with something that names them.
    for (const int column : {columns_.person[kFirst], columns_.person[kLast], columns_.person[kMiddle],
                             columns_.person[kOrganization], columns_.person[kDepartment], columns_.nickname,
                             columns_.person[kJobTitle], columns_.person[kNote]}) {
      const Value* v = At(record.values, column);
      if (v != nullptr && v->kind == ValueKind::kText && !v->bytes.empty()) return true;
    }
    return false;
  }
  const Value* recordId = At(record.values, columns_.recordId);
  const Value* property = At(record.values, columns_.property);
  const Value* value = At(record.values, columns_.value);
  return IsInteger(recordId) && recordId->integer > 0 && IsInteger(property) && property->integer > 0 &&
         value != nullptr && value->kind == ValueKind::kText && !value->bytes.empty();
}

void CContactSqlite::OnRecord(std::size_t shapeIndex, const CarvedRecord& record) {
  if (shapeIndex == kPersonShape) {
    RecoveredPerson person;
    person.rowid = record.rowid;
    person.page = record.page;
    person.fileOffset = record.fileOffset;
    person.texts = TextsOf(record);
    if (const Value* nickname = At(record.values, columns_.nickname); nickname != nullptr && nickname->kind == ValueKind::kText) {
      person.nickname = Text(*nickname);
    }
    person.creationDate = NumberOr(At(record.values, columns_.creationDate), 0);
    person.modificationDate = NumberOr(At(record.values, columns_.modificationDate), 0);
    if (const Value* guid = At(record.values, columns_.personGuid); guid != nullptr && guid->kind == ValueKind::kText) {
      person.guid = Text(*guid);
    }
    if (livePersonTexts_.count(person.texts) != 0) return;  // an older copy of a live row
    if (!seenPeople_.insert({person.rowid, person.texts}).second) return;
    people_.push_back(std::move(person));
    return;
  }
  RecoveredMultiValue v;
  v.uid = record.rowid;
  v.recordId = IntegerOr(At(record.values, columns_.recordId), 0);
  v.property = IntegerOr(At(record.values, columns_.property), 0);
  v.identifier = IntegerOr(At(record.values, columns_.identifier), 0);
  v.label = IntegerOr(At(record.values, columns_.label), -1);
  v.value = Text(*At(record.values, columns_.value));
  if (const Value* guid = At(record.values, columns_.guid)) v.guid = Text(*guid);
  const MultiValueKey key = KeyOf(v);
  if (liveMultiValues_.count(key) != 0 || !seenMultiValues_.insert(key).second) return;
  multiValues_.push_back(std::move(v));
}

// A cell whose first bytes were overwritten is often a second copy of a row found whole
// elsewhere (the row was moved before it was deleted): only the copy with its rowid stays.
void CContactSqlite::DropRowidlessCopies() {
  std::set<PersonTexts> withRowid;
  for (const RecoveredPerson& person : people_) {
    if (person.rowid >= 0) withRowid.insert(person.texts);
  }
  std::set<PersonTexts> rowidless;
  people_.erase(std::remove_if(people_.begin(), people_.end(),
                               [&](const RecoveredPerson& person) {
                                 return person.rowid < 0 &&
                                        (withRowid.count(person.texts) != 0 || !rowidless.insert(person.texts).second);
                               }),
                people_.end());
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
