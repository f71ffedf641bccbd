// Finds records of one shape in a free region, both intact cells and cells whose first
// bytes were overwritten by a freeblock header.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "sieve/sqlite/free_space.h"
#include "sieve/sqlite/header_rebuild.h"
#include "sieve/sqlite/paged_file.h"
#include "sieve/sqlite/record_shape.h"

namespace sieve::sqlite {

class RecordCarver {
 public:
  struct DamageReport {
    bool verified = false;  // the header length byte survived and agrees
    bool tight = false;     // the cell fills its freeblock but for a fragment of < 4 bytes
  };

  RecordCarver(const PagedFile& file, const RecordShape& shape);
  // The carver keeps a pointer to the file: a temporary would be gone before the first read.
  RecordCarver(PagedFile&& file, const RecordShape& shape) = delete;
  // Carves `file` from now on, the shape and the scratch memory staying: one carver serves
  // region after region, of the current file and of older page versions alike.
  void Rebind(const PagedFile& file);
  void Rebind(PagedFile&& file) = delete;

  // Whether a freed cell of the shape may start at `cell`: a freeblock header followed by
  // serial types the shape accepts. Its body may since have been overwritten; where it
  // starts, the freed cell before it ended.
  bool MayStartFreedCell(const std::uint8_t* cell, const std::uint8_t* end, std::size_t pageOffset) const;

  // The records of the region, in offset order. Every offset is tried, both as an intact
  // and as a damaged cell; candidates that `admit` refuses are dropped, and of the rest the
  // non-overlapping set that is most believable as a whole is kept (intact cells above
  // damaged ones, cells that adjoin each other above strays).
  std::vector<CarvedRecord> Carve(const FreeRegion& region,
                                  const std::function<bool(const CarvedRecord&)>& admit) const;

  // Carve for several shapes of the same file at once: element i of the result is what
  // carvers[i].Carve would give, `admit` being asked with i. The region's offsets are
  // scanned once, not once per shape; most are refused by every shape alike.
  static std::vector<std::vector<CarvedRecord>> CarveAll(std::span<const RecordCarver> carvers,
                                                         const FreeRegion& region,
                                                         const std::function<bool(std::size_t, const CarvedRecord&)>& admit);
  // The same into `records`, whose lists keep their memory from region to region.
  static void CarveAll(std::span<const RecordCarver> carvers, const FreeRegion& region,
                       const std::function<bool(std::size_t, const CarvedRecord&)>& admit,
                       std::vector<std::vector<CarvedRecord>>& records);

  // A whole table-leaf cell (payload length, rowid, record) starting at `cell`.
  std::optional<CarvedRecord> IntactCell(const std::uint8_t* cell, const std::uint8_t* end) const;

  // A cell whose first four bytes (payload length, rowid and possibly the header length and
  // the first serial type) became a freeblock header when it was freed. `pageOffset` is the
  // cell's offset within its page, used to check the header's next pointer. Lost serial types
  // of fixed-size kinds are assumed; a lost text or blob length is what the cell's size
  // leaves, the size being its block's. With `cellEnd`, only readings that end there are
  // taken: the cell shared a merged block and ends where the next record starts. With `only`
  // (a CarvedRecord::reading this gave), that reading alone is tried.
  std::optional<CarvedRecord> DamagedCell(const std::uint8_t* cell, const std::uint8_t* end,
                                          std::size_t pageOffset, DamageReport* report = nullptr,
                                          const std::uint8_t* cellEnd = nullptr, std::uint16_t only = 0) const;

  // A record Carve found, read again from its cell the way it was found: intact
  // (`damagedReading` 0) or damaged (its CarvedRecord::reading),
  // bound to end where it ended (`boundEnd`, a file offset or 0) and cut where a later cell
  // starts (`cutAt`, a file offset or 0). `end` bounds the reading as the region did.
  std::optional<CarvedRecord> ReadAgain(const std::uint8_t* cell, const std::uint8_t* end, std::size_t pageOffset,
                                        std::uint16_t damagedReading, std::size_t boundEnd,
                                        std::size_t cutAt) const;

  // Takes a record's lists back once it is done with, for the next damaged reading to fill:
  // a carve makes millions of records, each of which would otherwise need lists of its own.
  void Recycle(CarvedRecord& record) const {
    if (trial_.values.capacity() < record.values.capacity()) trial_.values.swap(record.values);
    if (trial_.serialTypes.capacity() < record.serialTypes.capacity()) trial_.serialTypes.swap(record.serialTypes);
  }

 private:
  struct Header {
    std::size_t count = 0;  // serial types read, assumed ones included
    int lost = 0;           // leading serial types assumed
    std::uint64_t sure = 0;  // bit per lost column whose value is still certain (its type rebuilt)
    const std::uint8_t* typesEnd = nullptr;
    std::uint64_t bodySize = 0;  // serial types themselves are kept in types_
  };
  bool AcceptType(std::size_t column, std::uint64_t serialType) const;
  bool ReadTypes(const std::uint8_t* p, const std::uint8_t* limit, std::size_t firstColumn,
                 std::size_t count, Header& header) const;
  bool ReadTypesUntil(const std::uint8_t* p, const std::uint8_t* headerEnd, std::size_t firstColumn,
                      Header& header) const;
  bool DecodeBody(const Header& header, const std::uint8_t* localEnd, bool overflow) const;
  // The length of the cell the serial types make, 0 if they cannot fit before `limit`.
  std::uint64_t CellLength(const Header& header, const std::uint8_t* cellStart, const std::uint8_t* recordStart,
                           const std::uint8_t* limit) const;
  // Build into `record`, whose lists keep their memory; false where Build gives nothing.
  bool BuildInto(const Header& header, const std::uint8_t* cellStart, const std::uint8_t* recordStart,
                 const std::uint8_t* limit, CarvedRecord& record) const;
  std::optional<CarvedRecord> Build(const Header& header, const std::uint8_t* cellStart,
                                    const std::uint8_t* recordStart, const std::uint8_t* limit) const;
  // Readings of a freed cell whose lost serial types (those in the cell's bytes [typesAt, 4))
  // include a text or blob: its length is what the cell's size (it fills [cell, cellEnd))
  // leaves after the other columns. In header_rebuild.cpp.
  void RebuildLostTypes(const std::uint8_t* cell, const std::uint8_t* cellEnd, std::size_t typesAt,
                        const std::function<void(std::optional<CarvedRecord>)>& consider) const;
  void RebuildFrom(std::size_t column, std::size_t lostBytes, int variable, Header& header,
                   const std::uint8_t* cell, const std::uint8_t* cellEnd, std::size_t typesAt,
                   const std::function<void(std::optional<CarvedRecord>)>& consider) const;

  const PagedFile* file_ = nullptr;
  const RecordShape& shape_;
  std::size_t minColumns_;
  std::uint64_t maxPayload_ = 0;  // no payload is longer than the file the page came from
  // Per column, the fixed-size serial types a lost one may be taken for: asked for at every
  // freeblock header tried, so made once.
  std::vector<AssumableTypeList> assumable_;
  // Per column, 128 entries: whether each one-byte serial type is accepted there (AcceptType
  // made once, as it is asked for every serial type tried; the search tests the first
  // column's before calling IntactCell).
  std::vector<std::uint8_t> smallTypes_;
  bool Accepts(std::size_t column, std::uint64_t serialType) const {
    if (serialType < 128 && column < shape_.columns.size()) return smallTypes_[column * 128 + serialType] != 0;
    return AcceptType(column, serialType);
  }
  mutable std::vector<std::uint64_t> types_;  // serial types of the candidate being checked
  mutable std::vector<Value> values_;         // its values, copied out only when it reads whole
  mutable CarvedRecord trial_;                // a damaged cell's reading being tried
  mutable CarvedRecord best_;                 // and the best of its readings so far
  // Set while ReadAgain reads a record the one way it was found on the same bytes: the
  // checks of its values passed then and would again, and they are most of a reading's cost.
  mutable bool checked_ = false;
};

}  // namespace sieve::sqlite
