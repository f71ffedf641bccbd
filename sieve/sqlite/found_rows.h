// The records a carve has kept, held small: where each was read (to be read again when the
// rows are written) and what merging later copies needs (key, rowid, first column, sources),
// not the values. A carve of a large file keeps millions of records; holding their values
// until the end would take memory in proportion to the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "sieve/sqlite/carve_engine.h"

namespace sieve::sqlite {

struct FoundRow {
  // What reading the row out needs comes first (up to kReadOutBytes): a carve that sets its
  // rows aside writes that part only, once they are merged.
  std::int64_t rowid = -1;        // -1 while no copy kept it
  std::uint64_t cell = 0;         // where the reading starts in its view's bytes
  std::uint32_t view = 0;         // 0: the current file; i + 1: history.older[i]
  std::uint32_t limit = 0;        // bytes from `cell` the reading was bounded by
  std::uint32_t cutAt = 0;        // bytes from `cell` to where a later cell cut its tail, 0 for none
  std::uint32_t page = 0;         // the page the carver was given (1 for an older version)
  std::uint32_t table = 0;
  CarveSource source = CarveSource::Freelist;
  std::uint16_t reading = 0;      // CarvedRecord::reading: how a damaged cell was read
  bool damaged = false;           // read as a cell whose first bytes a freeblock header overwrote
  bool firstLost = false;
  bool endsAtLimit = false;       // a freed cell of a merged block, read to end exactly at `limit`
  std::uint8_t alsoInCount = 0;
  CarveSource alsoIn[5] = {};     // other sources, in the order they were found
  // What only merging needs.
  std::uint32_t nextSameKey = 0;  // the row found before with the same key, + 1; 0 for none
  std::uint32_t patches = 0;      // index of its value patches + 1; 0 for none
  std::uint64_t key = 0;          // fingerprint of the values a damaged copy keeps too
  std::uint64_t firstValue = 0;   // fingerprint of the first column as reported
};
inline constexpr std::size_t kReadOutBytes = offsetof(FoundRow, alsoIn) + sizeof(FoundRow::alsoIn);
static_assert(kReadOutBytes <= offsetof(FoundRow, nextSameKey));

// A record as merging it with its other copies needs it: the row it would add, and the
// order and live-row key it was found with (for a carve that sets its records aside).
struct FoundCopy {
  FoundRow row;                 // nextSameKey, patches and alsoIn not yet set
  std::uint64_t liveKey = 0;    // LiveRows::Key, when hasLiveKey
  std::uint32_t order = 0;      // the how-manieth record kept
  bool hasLiveKey = false;
  bool hasValues = false;
};

class FoundRows {
 public:
  using Patches = std::vector<std::pair<std::size_t, CarvedValue>>;
  // A column's value of the copy being kept (asked for only when it patches the row).
  using ValueOf = std::function<CarvedValue(std::size_t column)>;

  // Merges the copy into the row it is another copy of, or adds it as a new row (true).
  // Copies merge when they agree on what both kept (table, rowid, first column): the first
  // found stays where it is read from, later ones add their source, the rowid and the first
  // column when it lacked them.
  bool Keep(const FoundCopy& copy, int rowidAliasColumn, const ValueOf& valueOf);

  // The newest row with this key (+ 1), 0 for none; follow FoundRow::nextSameKey for older ones.
  std::uint32_t Newest(std::uint64_t key) const;
  // Room for `rows` rows in all without growing.
  void Reserve(std::size_t rows);
  // Adds the row (its nextSameKey is set here) and gives its index.
  std::uint32_t Add(FoundRow row);
  FoundRow& operator[](std::uint32_t index) { return rows_[index]; }
  const FoundRow& operator[](std::uint32_t index) const { return rows_[index]; }
  std::uint32_t size() const { return static_cast<std::uint32_t>(rows_.size()); }

  // A value a later copy supplied (the rowid alias, a lost first column): kept in order.
  void Patch(std::uint32_t index, std::size_t column, CarvedValue value);
  const Patches* PatchesOf(const FoundRow& row) const { return row.patches == 0 ? nullptr : &patches_[row.patches - 1]; }

  // Bytes held per row, the key table's share (two to four slots) included; the list may
  // hold up to twice that while it doubles.
  static constexpr std::size_t kBytesPerRow = sizeof(FoundRow) + 4 * sizeof(std::uint32_t);

 private:
  void Grow();
  void Rehash(std::size_t slots);

  std::vector<FoundRow> rows_;
  // Open addressing: the newest row (+ 1) per key, 0 for an empty slot; a power of two in
  // size, at most half full.
  std::vector<std::uint32_t> slots_;
  std::vector<Patches> patches_;
};

void ApplyPatches(const FoundRows::Patches* patches, std::vector<CarvedValue>& values);

// Equal values give equal fingerprints (text and blob bytes, numbers, truncation).
std::uint64_t ValueFingerprint(const CarvedValue& value);
// The same of a value given by its parts, so that bytes reported as they are need no copy.
std::uint64_t ValueFingerprint(ValueKind kind, bool truncated, std::int64_t integer, double real, std::string_view bytes);

}  // namespace sieve::sqlite
