// Deleted people of the address book and their deleted multi-values (phone numbers,
// e-mails, web pages), carved from the free space of the address-book file.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sieve/sqlite/sqlite_delete.h"

namespace sieve {

struct RecoveredMultiValue {
  std::int64_t uid = -1;  // -1 when the cell's rowid was overwritten
  std::int64_t recordId = 0;
  std::int64_t property = 0;
  std::int64_t identifier = 0;
  std::int64_t label = -1;  // row id into ABMultiValueLabel; -1 for none
  std::string value;
  std::string guid;  // "" in layouts without the column
};

// The ABPerson texts, in column order.
enum PersonText { kFirst, kLast, kMiddle, kOrganization, kDepartment, kNote, kBirthday, kJobTitle, kPrefix, kSuffix };
inline constexpr std::size_t kPersonTextCount = 10;
using PersonTexts = std::array<std::string, kPersonTextCount>;

struct RecoveredPerson {
  // The ABPerson row; false for the multi-values of a person whose row was not found.
  bool found = true;
  std::int64_t rowid = -1;  // the person's rowid (for a person not found: the record_id named)
  PersonTexts texts;
  std::string nickname;
  double creationDate = 0;  // seconds since 2001; 0 when the cell holds none
  double modificationDate = 0;
  std::string guid;  // "" in layouts without the column
  std::vector<RecoveredMultiValue> values;
  std::uint32_t page = 0;  // where the cell was found in the file (0: in an older page version)
  std::size_t fileOffset = 0;
};

class CContactSqlite : public CSqliteDelete {
 public:
  // Carves both tables and links them: each multi-value goes to the recovered person whose
  // rowid it names; the rest are grouped by the record_id they name into people not found.
  // Candidates whose rowid is live, and rows identical to a live row, are left out.
  // Returns the number of people, or kNotLoaded / kNotSearchable.
  int Recover();
  const std::vector<RecoveredPerson>& People() const { return people_; }

 protected:
  std::vector<RecordShape> Shapes() const override;
  ShapeTable TableOf(std::size_t shapeIndex) const override;
  bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const override;
  void OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin) override;

 private:
  enum Shape : std::size_t { kPersonShape, kMultiValueShape };
  struct Columns {
    std::array<int, kPersonTextCount> person{};
    int nickname = -1, personGuid = -1, creationDate = -1, modificationDate = -1;
    int recordId = -1, property = -1, identifier = -1, label = -1, value = -1, guid = -1;
  };
  void FindColumns();
  PersonTexts TextsOf(const CarvedRecord& record) const;
  void FindLostRowids();
  void PlaceLostRowids(std::set<std::int64_t>& orphans);
  void Link();

  Columns columns_;
  bool havePeople_ = false;
  bool haveMultiValues_ = false;
  std::set<std::int64_t> livePeople_;
  std::vector<LiveCell> livePersonCells_;

  std::vector<RecoveredPerson> people_;
  std::vector<RecoveredMultiValue> multiValues_;
};

}  // namespace sieve
