#include "sieve/sqlite/record_carver.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "sieve/reader/text.h"
#include "sieve/sqlite/btree_page.h"
#include "sieve/sqlite/header_rebuild.h"
#include "sieve/sqlite/overwritten_tail.h"
#include "sieve/sqlite/record_plausibility.h"

namespace sieve::sqlite {

std::uint8_t KindBit(ValueKind kind) {
  switch (kind) {
    case ValueKind::kNull: return kNull;
    case ValueKind::kInteger: return kInteger;
    case ValueKind::kReal: return kReal;
    case ValueKind::kText: return kText;
    case ValueKind::kBlob: return kBlob;
  }
  return 0;
}

namespace {

// The first cell bytes of a freed cell hold the next freeblock's offset and this block's
// size; stale copies of such headers stay behind when blocks merge.
bool LooksLikeFreeblockHeader(const std::uint8_t* p, std::size_t pageOffset,
                              std::uint32_t usableSize) {
  const std::uint32_t next = BigEndian16(p);
  const std::uint32_t size = BigEndian16(p + 2);
  if (size < 4 || pageOffset + size > usableSize) return false;
  return next == 0 || (next >= pageOffset + size && next + 4 <= usableSize);
}

// Payload length and rowid varints followed by a header length in the range the shape
// allows and within the bytes (IntactCell's first checks, without a call). The payload
// length's and the header length's one- and two-byte forms are read (longer ones always
// pass), and a rowid of any length; a cell too near the end of the bytes for those is
// tested on its one-byte forms alone. A varint that starts with 0x80 adds nothing, and
// SQLite never writes one in a cell's prefix.
bool MayStartIntactCell(const std::uint8_t* p, const std::uint8_t* end, std::size_t minColumns,
                        std::size_t maxHeader, bool indexCell, const std::uint8_t* firstTypes) {
  if (indexCell) {
    if (p[0] >= 0x80 || p[1] >= 0x80) return true;
    return p[0] != 0 && p[1] > minColumns && p[1] <= maxHeader && p[1] <= p[0];
  }
  // Two bytes of payload length, nine of rowid, two of header length, one of the first type.
  constexpr std::ptrdiff_t kReach = 14;
  if (end - p < kReach) {
    if (p[0] >= 0x80 || p[1] >= 0x80) return true;
    if (p[0] == 0 || end - p < 3) return false;
    const std::uint8_t header = p[2];
    return header >= 0x80 || (header > minColumns && header <= maxHeader && header <= p[0]);
  }
  std::uint32_t payload = p[0];
  std::size_t at = 1;
  if (p[0] >= 0x80) {
    if (p[1] >= 0x80) return true;
    if (p[0] == 0x80) return false;
    payload = (payload & 0x7f) << 7 | p[1];
    at = 2;
  }
  if (payload == 0 || p[at] == 0x80) return false;
  // The rowid's bytes with the high bit set, then its last (the ninth takes all eight bits).
  for (std::size_t more = 0; more < 8 && p[at] >= 0x80; ++more) ++at;
  const std::uint8_t* record = p + at + 1;
  std::size_t header = record[0];
  std::size_t headerBytes = 1;
  if (header >= 0x80) {
    if (record[1] >= 0x80) return true;
    header = (header & 0x7f) << 7 | record[1];
    headerBytes = 2;
  }
  // The serial types take a byte at least, for the columns a record must have, and nine at
  // most (maxHeader counts two bytes of header length); the first must suit the first column.
  const std::uint8_t firstType = record[headerBytes];
  return header >= headerBytes + minColumns && header <= maxHeader + headerBytes - 2 && header <= payload &&
         header <= static_cast<std::size_t>(end - record) &&
         (header == headerBytes || firstType >= 0x80 || firstTypes == nullptr || firstTypes[firstType] != 0);
}

// Whether the texts of the first `columns` values are whole UTF-8.
bool TextsValid(const std::vector<Value>& values, std::size_t columns, bool utf8) {
  if (!utf8) return true;
  for (std::size_t column = 0; column < columns && column < values.size(); ++column) {
    const Value& value = values[column];
    if (value.kind == ValueKind::kText && !value.truncated && !IsValidUtf8(value.bytes)) return false;
  }
  return true;
}

// One test per offset that both searches of Carve must pass, on the third byte in the common
// case: in text and zeroed bytes almost every offset fails it, and the two full tests cost
// several times as much. A superset of what MayStartIntactCell and LooksLikeFreeblockHeader
// accept, so it changes no result. Regions are mostly small: it must cost nothing to set up.
class OffsetPrefilter {
 public:
  OffsetPrefilter(std::size_t minColumns, std::size_t maxHeader, bool indexCell, std::uint32_t usableSize)
      : indexCell_(indexCell),
        firstHeader_(static_cast<std::uint32_t>(minColumns + 1)),
        headerSpan_(static_cast<std::uint32_t>(maxHeader > minColumns ? maxHeader - minColumns : 0)),
        maxSizeHigh_(usableSize >> 8) {
    wide_ = !indexCell && firstHeader_ + headerSpan_ <= 256;
    firstHeader8_ = Bytes{} + static_cast<std::uint8_t>(firstHeader_);
    headerSpan8_ = Bytes{} + static_cast<std::uint8_t>(headerSpan_);
    maxSizeHigh8_ = Bytes{} + static_cast<std::uint8_t>(std::min<std::uint32_t>(maxSizeHigh_, 255));
  }
  bool MayStart(const std::uint8_t* p, const std::uint8_t* end) const {
    // Index cells keep their header length one byte earlier; they are rare enough to test whole.
    if (indexCell_ || ((p[0] | p[1] | p[2]) & 0x80) || std::uint32_t{p[2]} - firstHeader_ < headerSpan_) return true;
    // A freeblock header's size: at least 4, at most the usable page size.
    return p[2] <= maxSizeHigh_ && end - p > 4 && (p[2] != 0 || p[3] >= 4);
  }
  // Bit i set for each of the sixteen offsets from p on that MayStart may accept, tested at
  // once (a superset: the region's end is left out of the test). Reads p[0..18].
  std::uint32_t SixteenMask(const std::uint8_t* p) const {
    if (!wide_) return 0xffff;
    Bytes a, b, c, d;
    std::memcpy(&a, p, 16);
    std::memcpy(&b, p + 1, 16);
    std::memcpy(&c, p + 2, 16);
    std::memcpy(&d, p + 3, 16);
    const Bytes high = (a | b | c) & 0x80;
    const Bytes header = reinterpret_cast<Bytes>(static_cast<Bytes>(c - firstHeader8_) < headerSpan8_);
    const Bytes size = reinterpret_cast<Bytes>(c <= maxSizeHigh8_) &
                       (reinterpret_cast<Bytes>(c != 0) | reinterpret_cast<Bytes>(d >= 4));
    // Every lane is 0 or has its top bit set; the multiply gathers the eight top bits of a
    // word into its top byte.
    const Bytes any = high | header | size;
    std::uint64_t halves[2];
    std::memcpy(halves, &any, 16);
    constexpr std::uint64_t kTops = 0x8080808080808080ull, kGather = 0x0002040810204081ull;
    return static_cast<std::uint32_t>(((halves[0] & kTops) * kGather) >> 56) |
           static_cast<std::uint32_t>(((halves[1] & kTops) * kGather) >> 56) << 8;
  }
  static constexpr std::size_t kWideReach = 19;  // bytes SixteenMask reads

 private:
  // The byte-wide test holds the same bounds in 8 bits (header lengths below 256 only), in
  // every lane, made once for all the region's offsets.
  using Bytes = std::uint8_t __attribute__((vector_size(16)));
  bool wide_ = false;
  Bytes firstHeader8_{}, headerSpan8_{}, maxSizeHigh8_{};
  bool indexCell_;
  std::uint32_t firstHeader_;  // header length bytes in [firstHeader_, firstHeader_ + headerSpan_)
  std::uint32_t headerSpan_;
  std::uint32_t maxSizeHigh_;
};

constexpr std::size_t kFreeblockHeaderSize = 4;
// Payload length (<= 3 bytes for any payload a page can hold locally), rowid (<= 9) and
// header length (<= 2): the serial types start at most this far into the cell.
constexpr std::size_t kMaxTypesOffset = 14;

// Which reading of a damaged cell won, so that it can be made again alone: where its serial
// types start (low four bits), how the lost header was filled in, and which assumed type.
// Codes that collide only let more readings be tried again, which still picks the same one.
enum class Filled : std::uint16_t { kRebuilt = 1, kAssumed, kShapeCount, kLengthByte };

std::uint16_t ReadingCode(std::size_t typesOffset, Filled filled, std::size_t index) {
  return static_cast<std::uint16_t>(typesOffset | static_cast<std::size_t>(filled) << 4 | index << 7);
}

}  // namespace


RecordCarver::RecordCarver(const PagedFile& file, const RecordShape& shape)
    : shape_(shape),
      minColumns_(shape.minColumns == 0 || shape.minColumns > shape.columns.size()
                      ? shape.columns.size()
                      : shape.minColumns),
      types_(shape.columns.size()) {
  assumable_.reserve(shape.columns.size());
  for (std::size_t column = 0; column < shape.columns.size(); ++column) {
    assumable_.push_back(AssumableTypes(shape.columns[column], static_cast<int>(column) == shape.rowidAliasColumn));
  }
  smallTypes_.resize(shape.columns.size() * 128);
  for (std::size_t column = 0; column < shape.columns.size(); ++column) {
    for (std::uint64_t type = 0; type < 128; ++type) smallTypes_[column * 128 + type] = AcceptType(column, type) ? 1 : 0;
  }
  Rebind(file);
}

void RecordCarver::Rebind(const PagedFile& file) {
  file_ = &file;
  maxPayload_ = std::max<std::uint64_t>(file.bytes.size(), std::uint64_t{file.header.pageSize} * file.header.pageCount);
}

bool RecordCarver::AcceptType(std::size_t column, std::uint64_t serialType) const {
  if (column >= shape_.columns.size()) return false;
  if (static_cast<int>(column) == shape_.rowidAliasColumn) return serialType == 0;
  // The kind's bit straight from the type: this runs for every serial type tried.
  static constexpr std::uint8_t kFixedKinds[12] = {kNull,    kInteger, kInteger, kInteger, kInteger, kInteger,
                                                   kInteger, kReal,    kInteger, kInteger, 0,        0};
  const std::uint8_t kind = serialType < 12 ? kFixedKinds[serialType] : std::uint8_t{(serialType & 1) ? kText : kBlob};
  if (!(shape_.columns[column] & kind)) return false;
  if (column < shape_.maxBytes.size() && shape_.maxBytes[column] != 0 &&
      SerialTypeSize(serialType) > shape_.maxBytes[column]) {
    return false;
  }
  return true;
}

bool RecordCarver::ReadTypes(const std::uint8_t* p, const std::uint8_t* limit,
                             std::size_t firstColumn, std::size_t count, Header& header) const {
  for (std::size_t column = firstColumn; column < firstColumn + count; ++column) {
    const Varint type = ReadVarint(p, limit);
    if (type.length == 0 || !Accepts(column, type.value)) return false;
    types_[column] = type.value;
    header.bodySize += static_cast<std::uint64_t>(SerialTypeSize(type.value));
    p += type.length;
  }
  header.count = firstColumn + count;
  header.typesEnd = p;
  return true;
}

bool RecordCarver::ReadTypesUntil(const std::uint8_t* p, const std::uint8_t* headerEnd,
                                  std::size_t firstColumn, Header& header) const {
  std::size_t column = firstColumn;
  while (p < headerEnd) {
    const Varint type = ReadVarint(p, headerEnd);
    if (type.length == 0 || !Accepts(column, type.value)) return false;
    types_[column++] = type.value;
    header.bodySize += static_cast<std::uint64_t>(SerialTypeSize(type.value));
    p += type.length;
  }
  if (column < minColumns_) return false;
  header.count = column;
  header.typesEnd = p;
  return true;
}

// The values into values_ (Null where lost and unsure, or missing); false when one does not
// decode or the record says nothing. Most readings tried fail here, before any allocation.
bool RecordCarver::DecodeBody(const Header& header, const std::uint8_t* localEnd, bool overflow) const {
  values_.assign(shape_.columns.size(), Value{});
  const std::uint8_t* body = header.typesEnd;
  bool saysSomething = false;
  const bool utf8 = file_->header.encoding == TextEncoding::kUtf8;
  for (std::size_t column = 0; column < header.count; ++column) {
    Value& value = values_[column];
    if (!DecodeValue(types_[column], body, localEnd, overflow, value)) return false;
    // UTF-8 text with a NUL in it is nearly always zeroed or foreign bytes, not a row.
    if (value.kind == ValueKind::kText && utf8 && !shape_.allowNulInText && !checked_ &&
        value.bytes.find('\0') != std::string_view::npos) {
      return false;
    }
    // An assumed type from the shape's short list fixes the value's length, so its bytes are
    // the value; a type guessed only by size is not.
    const bool sure = column < 64 && ((header.sure >> column) & 1) != 0;
    if (static_cast<int>(column) < header.lost && !sure && shape_.firstColumnTypes.empty()) {
      value = Value{};
      continue;
    }
    saysSomething |= value.kind != ValueKind::kNull && static_cast<int>(column) != shape_.rowidAliasColumn;
  }
  // A record of nothing but NULLs carries no data and is most often a run of zero bytes.
  return saysSomething;
}

std::uint64_t RecordCarver::CellLength(const Header& header, const std::uint8_t* cellStart,
                                       const std::uint8_t* recordStart, const std::uint8_t* limit) const {
  const auto headerLength = static_cast<std::uint64_t>(header.typesEnd - recordStart);
  const std::uint64_t payload = headerLength + header.bodySize;
  const std::uint32_t local = LocalPayloadSize(payload, file_->header.usableSize, !shape_.indexCell);
  if (local < headerLength) return 0;
  const std::uint64_t cellLength =
      static_cast<std::uint64_t>(recordStart - cellStart) + local + (local < payload ? 4 : 0);
  return cellLength > static_cast<std::uint64_t>(limit - cellStart) ? 0 : cellLength;
}

std::optional<CarvedRecord> RecordCarver::Build(const Header& header, const std::uint8_t* cellStart,
                                                const std::uint8_t* recordStart,
                                                const std::uint8_t* limit) const {
  // In the lists of records given back (Recycle), when there are some.
  CarvedRecord record;
  record.values.swap(trial_.values);
  record.serialTypes.swap(trial_.serialTypes);
  if (!BuildInto(header, cellStart, recordStart, limit, record)) {
    Recycle(record);
    return std::nullopt;
  }
  return record;
}

bool RecordCarver::BuildInto(const Header& header, const std::uint8_t* cellStart, const std::uint8_t* recordStart,
                             const std::uint8_t* limit, CarvedRecord& record) const {
  const std::uint64_t cellLength = CellLength(header, cellStart, recordStart, limit);
  if (cellLength == 0) return false;
  const auto headerLength = static_cast<std::uint64_t>(header.typesEnd - recordStart);
  const std::uint64_t payload = headerLength + header.bodySize;
  const std::uint32_t local = LocalPayloadSize(payload, file_->header.usableSize, !shape_.indexCell);
  const bool overflow = local < payload;
  if (!DecodeBody(header, recordStart + local, overflow)) return false;

  // The record starts afresh but keeps its lists' memory.
  std::vector<Value> values = std::move(record.values);
  std::vector<std::uint64_t> serialTypes = std::move(record.serialTypes);
  record = CarvedRecord{};
  record.values = std::move(values);
  record.serialTypes = std::move(serialTypes);
  record.fileOffset = static_cast<std::size_t>(cellStart - file_->bytes.data());
  record.length = static_cast<std::size_t>(cellLength);
  record.lostLeadingColumns = header.lost;
  record.truncated = overflow;
  // The values go to the record and its old list becomes the next reading's scratch.
  record.values.swap(values_);
  record.serialTypes.assign(types_.begin(), types_.begin() + static_cast<std::ptrdiff_t>(header.count));
  record.bodyOffset = static_cast<std::size_t>(header.typesEnd - file_->bytes.data());
  record.localBodyBytes = static_cast<std::size_t>(recordStart + local - header.typesEnd);
  record.bodySize = header.bodySize;
  return true;
}

std::optional<CarvedRecord> RecordCarver::IntactCell(const std::uint8_t* cell,
                                                     const std::uint8_t* end) const {
  const std::size_t columns = shape_.columns.size();
  if (columns == 0) return std::nullopt;
  // SQLite writes every varint in its shortest form: a first byte of 0x80 adds nothing, and
  // reading one takes the last byte of the cell before for this one's start.
  const Varint payload = ReadVarint(cell, end);
  if (payload.length == 0 || payload.value == 0 || payload.value > maxPayload_ || cell[0] == 0x80) {
    return std::nullopt;
  }
  const Varint rowid = shape_.indexCell ? Varint{0, 0} : ReadVarint(cell + payload.length, end);
  if (!shape_.indexCell && (rowid.length == 0 || cell[payload.length] == 0x80)) return std::nullopt;
  const std::uint8_t* record = cell + payload.length + rowid.length;
  const Varint headerLength = ReadVarint(record, end);
  if (headerLength.length == 0) return std::nullopt;
  const std::uint64_t h = headerLength.value;
  if (h < headerLength.length + minColumns_ || h > headerLength.length + 9 * columns ||
      h > payload.value || h > static_cast<std::uint64_t>(end - record)) {
    return std::nullopt;
  }
  Header header;
  if (!ReadTypesUntil(record + headerLength.length, record + h, 0, header)) return std::nullopt;
  if (h + header.bodySize != payload.value) return std::nullopt;
  auto built = Build(header, cell, record, end);
  if (!built) return std::nullopt;
  if (shape_.indexCell) return built;
  built->rowid = static_cast<std::int64_t>(rowid.value);
  if (shape_.rowidAliasColumn >= 0 && static_cast<std::size_t>(shape_.rowidAliasColumn) < header.count) {
    Value& alias = built->values[static_cast<std::size_t>(shape_.rowidAliasColumn)];
    alias.kind = ValueKind::kInteger;
    alias.integer = built->rowid;
  }
  return built;
}

bool RecordCarver::MayStartFreedCell(const std::uint8_t* cell, const std::uint8_t* end, std::size_t pageOffset) const {
  const std::size_t columns = shape_.columns.size();
  if (end - cell <= static_cast<std::ptrdiff_t>(kFreeblockHeaderSize) ||
      !LooksLikeFreeblockHeader(cell, pageOffset, file_->header.usableSize)) {
    return false;
  }
  // The types after the header belong to the first, second or third column, as the lost
  // prefix took one, two or three of them with it.
  for (std::size_t first = 0; first < std::min<std::size_t>(columns, 3); ++first) {
    Header header;
    if (ReadTypes(cell + kFreeblockHeaderSize, end, first, columns - first, header) && header.bodySize > 0) return true;
  }
  return false;
}

std::optional<CarvedRecord> RecordCarver::DamagedCell(const std::uint8_t* cell,
                                                      const std::uint8_t* end,
                                                      std::size_t pageOffset,
                                                      DamageReport* report,
                                                      const std::uint8_t* cellEnd, std::uint16_t only) const {
  const std::size_t columns = shape_.columns.size();
  if (columns == 0 || end - cell < static_cast<std::ptrdiff_t>(kFreeblockHeaderSize + 1) ||
      !LooksLikeFreeblockHeader(cell, pageOffset, file_->header.usableSize)) {
    return std::nullopt;
  }
  // The cell cannot have reached past the block its header describes.
  const std::uint8_t* limit = std::min(end, cell + BigEndian16(cell + 2));
  const std::uint8_t* known = cell + kFreeblockHeaderSize;
  if (cellEnd && (cellEnd > limit || cellEnd <= known)) return std::nullopt;

  const bool utf8 = file_->header.encoding == TextEncoding::kUtf8;
  // The best reading so far is kept in the carver, not in a local optional record, whose
  // storage the compiler clears at every call (this runs at millions of offsets).
  CarvedRecord& best = best_;
  bool haveBest = false;
  DamageReport bestReport;
  int bestScore = -1;
  std::uint16_t reading = 0;  // the reading being tried
  // The readings' ranks in one fixed sequence (by where the serial types start, then how the
  // lost header is filled in): of the readings with the best score the first in it wins.
  // Readings whose header length byte survived are tried first, as they mostly win and
  // then spare the dearer guesses that could not beat them; with the tie going by rank the
  // choice is the same in any order of trying.
  int rank = 0;
  int bestRank = 0;
  const auto beats = [&](int points) { return points > bestScore || (points == bestScore && rank < bestRank); };
  // Given `only`, the readings other than it are left untried: the one that won among all
  // still wins among fewer, so the record is the same.
  const auto tried = [&](std::size_t typesOffset, Filled filled, std::size_t index) {
    reading = ReadingCode(typesOffset, filled, index);
    rank = static_cast<int>(typesOffset * 16 + (static_cast<std::size_t>(filled) - 1) * 4 + std::min<std::size_t>(index, 3));
    return only == 0 || only == reading;
  };
  const auto score = [&](std::size_t length, bool verified, int lost) {
    const std::size_t slack = cellEnd ? 0 : static_cast<std::size_t>(limit - cell) - length;
    return (slack == 0 ? 8 : slack < 4 ? 6 : 0) + (verified ? 4 : 0) + (lost == 0 ? 1 : 0);
  };
  // The reading being tried and the best so far trade places when it wins, so neither gives
  // up its lists' memory for the next reading; the carver keeps the one tried from call to call.
  CarvedRecord& trial = trial_;
  const auto consider = [&](CarvedRecord* candidate, bool verified) {
    if (!candidate) return;
    if (!checked_ && (!DamagedValuesPlausible(*candidate, file_->header.encoding) ||
                      !IntegersInShortestForm(candidate->serialTypes, candidate->values, file_->header.schemaFormat >= 4))) {
      return;
    }
    // A freed cell that merged with nothing fills its block exactly, or up to a fragment of
    // fewer than 4 bytes that was absorbed with it.
    if (cellEnd && candidate->length != static_cast<std::size_t>(cellEnd - cell)) return;
    const std::size_t slack = cellEnd ? 0 : static_cast<std::size_t>(limit - cell) - candidate->length;
    const bool tight = slack < 4;
    if (!verified && !tight && !SaysEnoughUnchecked(*candidate, shape_)) return;
    if (!tight && LostTypeGuessed(*candidate, shape_)) return;
    int points = score(candidate->length, verified, candidate->lostLeadingColumns);
    // Values read from a wrong offset mostly make broken UTF-8 of the texts; checking them
    // is the dearest part, left out when it could not change the choice.
    if (!beats(points + 2)) return;
    // DamagedValuesPlausible checked the texts from the first kept serial type on (and the
    // values past the serial types are NULL): only the lost columns' texts are left.
    if (checked_ || TextsValid(candidate->values, static_cast<std::size_t>(candidate->lostLeadingColumns), utf8)) points += 2;
    if (beats(points)) {
      bestScore = points;
      bestRank = rank;
      std::swap(best, *candidate);
      haveBest = true;
      best.reading = reading;
      bestReport = {verified, tight};
    }
  };

  // A reading's length is known from its serial types: one that cannot end where the cell
  // must, or cannot beat the best so far, is not decoded (consider would refuse it).
  const auto build = [&](const Header& header, const std::uint8_t* recordStart, bool verified) {
    const std::uint64_t length = CellLength(header, cell, recordStart, limit);
    if (length == 0 || (cellEnd && length != static_cast<std::uint64_t>(cellEnd - cell)) ||
        !beats(score(static_cast<std::size_t>(length), verified, header.lost) + 2)) {
      return;
    }
    if (BuildInto(header, cell, recordStart, limit, trial)) consider(&trial, verified);
  };
  // The most any reading can score that the length byte does not check: the guesses at the
  // lost header are passed over when a checked reading already scores above them.
  const int uncheckedMost = 8 + 1 + 2;

  // An index cell has no rowid: its serial types may start two bytes in.
  // A reading's code holds where its serial types start: given `only`, that offset alone.
  const std::size_t firstOffset = only != 0 ? (only & 15u) : shape_.indexCell ? 2 : 3;
  const std::size_t lastOffset = only != 0 ? (only & 15u) : kMaxTypesOffset;
  // Header length still readable just before the serial types: it must agree. Each known
  // byte may be a one-byte length or the first of a two-byte one, as its high bit says (a
  // length in any other form would not read as that many bytes), the types right after it.
  // The serial types take a byte at least and nine at most each, one per column read: the
  // header lengths a one-byte length may give, tested first as most bytes fail it.
  const std::uint64_t fewestTypes = std::max<std::size_t>(minColumns_, 1);
  const std::uint64_t mostTypeBytes = 9 * columns;
  const std::uint8_t* firstRecord = cell + std::max<std::size_t>(kFreeblockHeaderSize, firstOffset >= 2 ? firstOffset - 2 : 0);
  for (const std::uint8_t* record = firstRecord; record < limit && record < cell + lastOffset; ++record) {
    std::size_t lengthBytes = 1;
    std::uint64_t h = record[0];
    if (h < 0x80) {
      if (h - 1 - fewestTypes > mostTypeBytes - fewestTypes) continue;
    } else {
      if (record + 1 >= limit || record[1] >= 0x80) continue;
      lengthBytes = 2;
      h = (h & 0x7f) << 7 | record[1];
    }
    const std::uint8_t* types = record + lengthBytes;
    const auto offset = static_cast<std::size_t>(types - cell);
    if (types >= limit || offset < firstOffset || offset > lastOffset || h < lengthBytes + fewestTypes ||
        h > lengthBytes + mostTypeBytes || h > static_cast<std::uint64_t>(limit - record) ||
        !tried(offset, Filled::kLengthByte, lengthBytes)) {
      continue;
    }
    Header header;
    if (ReadTypesUntil(types, record + h, 0, header)) build(header, record, true);
  }
  for (std::size_t offset = firstOffset; offset <= lastOffset && bestScore <= uncheckedMost; ++offset) {
    const std::uint8_t* types = cell + offset;
    if (types >= limit) break;
    if (types < known) {
      if (tried(offset, Filled::kRebuilt, 0) && beats(8 + 2)) {
        RebuildLostTypes(cell, cellEnd ? cellEnd : limit, offset,
                         [&](std::optional<CarvedRecord> candidate) { consider(candidate ? &*candidate : nullptr, false); });
      }
      if (offset + 1 < kFreeblockHeaderSize) continue;
      // Payload length, rowid and header length took one byte each: the first serial type
      // was overwritten too.
      const auto column0 = static_cast<std::size_t>(0);
      const AssumableTypeList& ownTypes = assumable_[column0];
      const std::span<const std::uint64_t> assumable =
          shape_.firstColumnTypes.empty() ? ownTypes.Span() : std::span<const std::uint64_t>(shape_.firstColumnTypes);
      // The serial types after the lost one are the same whichever type is assumed: read once.
      Header rest;
      rest.lost = 1;
      int restRead = -1;  // not yet, then 0 or 1
      for (std::size_t index = 0; index < assumable.size(); ++index) {
        if (!tried(offset, Filled::kAssumed, index)) continue;
        if (restRead < 0) restRead = ReadTypes(known, limit, 1, columns - 1, rest) ? 1 : 0;
        if (restRead == 0) break;
        const std::uint64_t assumed = assumable[index];
        Header header = rest;
        types_[0] = assumed;
        header.bodySize += static_cast<std::uint64_t>(SerialTypeSize(assumed));
        build(header, types - 1, false);
      }
      continue;
    }
    // Header length lost (it sat just before the first known byte): take the shape's
    // column count.
    if (types == known && tried(offset, Filled::kShapeCount, 0)) {
      Header header;
      if (ReadTypes(types, limit, 0, columns, header)) build(header, types - 1, false);
    }
    // A wide table's header length takes two bytes, the first of them lost: the serial
    // types of every column must give a length whose low seven bits are the second byte.
    if (types == known + 1 && *known < 0x80 && tried(offset, Filled::kShapeCount, 1)) {
      Header header;
      if (ReadTypes(types, limit, 0, columns, header)) {
        const auto length = static_cast<std::uint64_t>(header.typesEnd - (types - 2));
        if (length >= 0x80 && length < 0x4000 && (length & 0x7f) == *known) {
          build(header, types - 2, false);
        }
      }
    }
  }
  if (!haveBest) return std::nullopt;
  best.damaged = true;
  if (cellEnd) best.boundEnd = static_cast<std::size_t>(cellEnd - file_->bytes.data());
  if (report) *report = bestReport;
  return std::move(best);
}

std::optional<CarvedRecord> RecordCarver::ReadAgain(const std::uint8_t* cell, const std::uint8_t* end,
                                                    std::size_t pageOffset, std::uint16_t damagedReading,
                                                    std::size_t boundEnd, std::size_t cutAt) const {
  const std::uint8_t* cellEnd = boundEnd == 0 ? nullptr : file_->bytes.data() + boundEnd;
  // A reading's code names that one reading, but for a rebuilt header's (the checks pick among
  // the headers it could have had, so they run again for it) and for an assumed type's when
  // the list of types is too long for the code to tell them apart.
  const auto filled = static_cast<Filled>((damagedReading >> 4) & 7u);
  const std::size_t assumable = shape_.firstColumnTypes.empty() ? (assumable_.empty() ? 0 : assumable_[0].Span().size())
                                                                 : shape_.firstColumnTypes.size();
  const bool oneReading = damagedReading == 0 || filled == Filled::kLengthByte || filled == Filled::kShapeCount ||
                          (filled == Filled::kAssumed && assumable <= (std::size_t{1} << 9));
  struct Checked {
    bool& flag;
    ~Checked() { flag = false; }
  } unset{checked_};
  checked_ = oneReading;
  auto record = damagedReading != 0 ? DamagedCell(cell, end, pageOffset, nullptr, cellEnd, damagedReading)
                                    : IntactCell(cell, end);
  checked_ = false;
  if (record && cutAt != 0) {
    if (!CutOverwrittenTail(*record, cutAt, file_->bytes, file_->header.encoding, shape_.rowidAliasColumn)) {
      return std::nullopt;
    }
    record->cutAt = cutAt;
  }
  return record;
}

namespace {

struct Candidate {
  CarvedRecord record;
  int weight = 0;
  std::size_t begin = 0;
  std::size_t end = 0;
};

// How much a candidate is to be believed on its own: an intact cell passed the payload
// length check; a damaged one is stronger when its header length could still be checked or
// it fills its freeblock exactly.
constexpr int kIntactWeight = 100;

int DamagedWeight(const CarvedRecord& record, const RecordCarver::DamageReport& report) {
  return (report.verified ? 60 : 20) + (report.tight ? 25 : 0) - 5 * record.lostLeadingColumns;
}

// CarveAll's working lists, kept per thread from region to region: most regions are small,
// and a dozen new lists for each would cost more than searching it.
struct CarveScratch {
  std::vector<std::vector<Candidate>> candidates;  // per shape
  std::vector<OffsetPrefilter> prefilters;  // per shape
  std::vector<std::size_t> maxHeaders;       // per shape
  std::vector<std::size_t> headers, starts, forward, begins, ends, previous, chosen;
  std::vector<long> best;
  std::vector<CellSpan> spans;
};

// Not inlined: the compiler would otherwise look up the thread's copy again at each use
// (a call into the dynamic loader, in a shared library), not once per region.
[[gnu::noinline]] CarveScratch& ThreadScratch() {
  thread_local CarveScratch scratch;
  return scratch;
}

// Freed cells lie side by side, as they were allocated: a candidate that starts where
// another ends, or ends where another starts (or at the region's edge), is more likely real.
void AddAdjacency(std::vector<Candidate>& candidates, std::size_t regionBegin, std::size_t regionEnd,
                  CarveScratch& scratch) {
  if (candidates.empty()) return;
  // Sorted lists, not hash sets: most regions hold a few candidates, and a set's nodes cost
  // an allocation each.
  std::vector<std::size_t>& begins = scratch.begins;
  std::vector<std::size_t>& ends = scratch.ends;
  begins.clear();
  ends.clear();
  for (const Candidate& c : candidates) {
    begins.push_back(c.begin);
    ends.push_back(c.end);
  }
  std::sort(begins.begin(), begins.end());
  std::sort(ends.begin(), ends.end());
  for (Candidate& c : candidates) {
    if (c.begin == regionBegin || std::binary_search(ends.begin(), ends.end(), c.begin)) c.weight += 15;
    if (c.end == regionEnd || std::binary_search(begins.begin(), begins.end(), c.end)) c.weight += 15;
  }
}

// Freed cells of a block that merged with its neighbours: the block's size is no longer any
// one cell's, but each cell ends where the next record begins (the last one at the region's
// end). Going backwards, a cell found this way is the next record of the one before it.
constexpr int kNextRecordsTried = 4;

// `headers`: the region's offsets that look like a freeblock header, in increasing order (the
// forward search found them already; only they can start a freed cell).
void AddMergedBlockCells(const RecordCarver& carver, const PagedFile& file, const std::uint8_t* begin,
                         const std::uint8_t* end, std::size_t pageStart, std::vector<Candidate>& candidates,
                         const std::vector<std::size_t>& headers, CarveScratch& scratch,
                         const std::function<void(std::optional<CarvedRecord>, int)>& add) {
  if (headers.empty()) return;  // most regions: nothing to try
  std::vector<std::size_t>& starts = scratch.starts;
  starts.clear();
  for (const Candidate& c : candidates) starts.push_back(c.begin);
  starts.push_back(static_cast<std::size_t>(end - file.bytes.data()));
  for (const std::size_t at : headers) {
    if (carver.MayStartFreedCell(file.bytes.data() + at, end, at - pageStart)) starts.push_back(at);
  }
  // A freed cell whose body a later cell took keeps only its header: four bytes that end a
  // record before them too.
  const std::size_t regionBegin = static_cast<std::size_t>(begin - file.bytes.data());
  for (std::size_t i = 0, known = starts.size(); i < known; ++i) {
    const std::size_t remnant = starts[i] - kFreeblockHeaderSize;
    if (starts[i] >= regionBegin + kFreeblockHeaderSize &&
        LooksLikeFreeblockHeader(file.bytes.data() + remnant, remnant - pageStart, file.header.usableSize)) {
      starts.push_back(remnant);
    }
  }
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  // The forward search's damaged readings. One that fills its block to the end, where a next
  // record would start, is what DamagedCell bound to that end gives too (scored and checked
  // alike, as neither leaves slack; the best of all readings is the best of those ending
  // there), so it is marked as bound there instead of read again: a second candidate of the
  // same span and weight would only be the one of the two left unchosen.
  std::vector<std::size_t>& forward = scratch.forward;
  forward.clear();
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (candidates[i].record.damaged) forward.push_back(i);
  }
  const auto forwardEndingAt = [&](std::size_t begin, std::size_t end) -> Candidate* {
    for (const std::size_t i : forward) {
      if (candidates[i].begin == begin && candidates[i].end == end) return &candidates[i];
    }
    return nullptr;
  };
  for (auto header = headers.rbegin(); header != headers.rend(); ++header) {
    const std::size_t at = *header;
    const std::uint8_t* p = file.bytes.data() + at;
    bool found = false;
    auto next = std::upper_bound(starts.begin(), starts.end(), at + kFreeblockHeaderSize);
    for (int tried = 0; next != starts.end() && tried < kNextRecordsTried; ++next, ++tried) {
      const std::size_t blockEnd = std::min(static_cast<std::size_t>(end - file.bytes.data()), at + BigEndian16(p + 2));
      if (Candidate* same = *next == blockEnd ? forwardEndingAt(at, *next) : nullptr) {
        same->record.boundEnd = *next;
        found = true;
        continue;
      }
      RecordCarver::DamageReport report;
      auto damaged = carver.DamagedCell(p, end, at - pageStart, &report, file.bytes.data() + *next);
      if (!damaged) continue;
      const int weight = DamagedWeight(*damaged, report);
      add(std::move(damaged), weight);
      found = true;
    }
    if (found) starts.insert(std::lower_bound(starts.begin(), starts.end(), at), at);
  }
}

// The set of non-overlapping candidates with the greatest total weight, in offset order,
// into scratch.chosen.
void ChooseNonOverlapping(std::vector<Candidate>& candidates, CarveScratch& scratch) {
  std::vector<std::size_t>& chosen = scratch.chosen;
  chosen.clear();
  if (candidates.empty()) return;
  std::sort(candidates.begin(), candidates.end(),
            [](const Candidate& a, const Candidate& b) { return a.end < b.end || (a.end == b.end && a.begin < b.begin); });
  const std::size_t n = candidates.size();
  std::vector<long>& best = scratch.best;
  best.assign(n + 1, 0);
  std::vector<std::size_t>& previous = scratch.previous;  // 1-based index of the last candidate ending before this one
  previous.assign(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const auto it = std::upper_bound(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(i),
                                     candidates[i].begin,
                                     [](std::size_t begin, const Candidate& c) { return begin < c.end; });
    previous[i] = static_cast<std::size_t>(it - candidates.begin());
    best[i + 1] = std::max(best[i], best[previous[i]] + candidates[i].weight);
  }
  for (std::size_t i = n; i > 0;) {
    if (best[i] == best[i - 1]) {
      --i;
    } else {
      chosen.push_back(i - 1);
      i = previous[i - 1];
    }
  }
  std::reverse(chosen.begin(), chosen.end());
}

}  // namespace

std::vector<CarvedRecord> RecordCarver::Carve(
    const FreeRegion& region, const std::function<bool(const CarvedRecord&)>& admit) const {
  auto records = CarveAll(std::span<const RecordCarver>(this, 1), region,
                          [&admit](std::size_t, const CarvedRecord& record) { return !admit || admit(record); });
  return std::move(records[0]);
}

std::vector<std::vector<CarvedRecord>> RecordCarver::CarveAll(
    std::span<const RecordCarver> carvers, const FreeRegion& region,
    const std::function<bool(std::size_t, const CarvedRecord&)>& admit) {
  std::vector<std::vector<CarvedRecord>> records;
  CarveAll(carvers, region, admit, records);
  return records;
}

void RecordCarver::CarveAll(std::span<const RecordCarver> carvers, const FreeRegion& region,
                            const std::function<bool(std::size_t, const CarvedRecord&)>& admit,
                            std::vector<std::vector<CarvedRecord>>& records) {
  records.resize(carvers.size());
  for (std::vector<CarvedRecord>& list : records) list.clear();
  if (carvers.empty()) return;
  const PagedFile& file = *carvers[0].file_;
  if (region.fileOffset > file.bytes.size() || region.length > file.bytes.size() - region.fileOffset) {
    return;
  }
  const std::uint8_t* begin = file.bytes.data() + region.fileOffset;
  const std::uint8_t* end = begin + region.length;
  const std::size_t pageStart = file.PageOffset(region.page);
  const std::uint32_t usable = file.header.usableSize;
  // Each shape's own search; the offsets are scanned once for all, with a prefilter that
  // admits what any shape's admits (the freeblock-header test is the same for all).
  CarveScratch& scratch = ThreadScratch();
  std::vector<OffsetPrefilter>& prefilters = scratch.prefilters;
  std::vector<std::size_t>& maxHeaders = scratch.maxHeaders;
  prefilters.clear();
  maxHeaders.clear();
  if (scratch.candidates.size() < carvers.size()) scratch.candidates.resize(carvers.size());
  std::size_t minColumns = SIZE_MAX;
  std::size_t maxHeader = 0;
  bool indexCell = false;
  for (std::size_t index = 0; index < carvers.size(); ++index) {
    const RecordCarver& carver = carvers[index];
    const std::size_t own = 2 + 9 * carver.shape_.columns.size();
    prefilters.push_back(OffsetPrefilter(carver.minColumns_, own, carver.shape_.indexCell, usable));
    maxHeaders.push_back(own);
    scratch.candidates[index].clear();
    minColumns = std::min(minColumns, carver.minColumns_);
    maxHeader = std::max(maxHeader, own);
    indexCell = indexCell || carver.shape_.indexCell;
  }
  const OffsetPrefilter any(minColumns, maxHeader, indexCell, usable);
  const auto add = [&](std::size_t index, std::optional<CarvedRecord> record, int weight) {
    if (!record) return;
    record->page = region.page;
    record->region = region.kind;
    if (!admit(index, *record)) return;
    const std::size_t at = record->fileOffset;
    const std::size_t length = record->length;
    scratch.candidates[index].push_back({std::move(*record), weight, at, at + length});
  };
  std::vector<std::size_t>& headers = scratch.headers;  // offsets that look like a freeblock header, increasing
  headers.clear();
  // A b-tree page's freeblock holds, behind its 4-byte header, the bytes of the cells freed
  // into it as they were written (SQLite allocates from a block's far end and shrinks it).
  // When one freed cell fills the block, its header length byte agreeing, the block's other
  // offsets lie inside that cell's record: no other record starts there.
  const bool oneFreeblock = region.oneFreeblock;
  bool filledByOne = false;
  const auto visit = [&](const std::uint8_t* p) {
    if (!any.MayStart(p, end)) return;
    const std::size_t at = static_cast<std::size_t>(p - file.bytes.data());
    // Every shape's prefilter admits a freeblock header: the list is the same for all.
    const bool header = end - p > 4 && LooksLikeFreeblockHeader(p, at - pageStart, usable);
    if (header) headers.push_back(at);
    for (std::size_t index = 0; index < carvers.size(); ++index) {
      const RecordCarver& carver = carvers[index];
      if (carvers.size() > 1 && !prefilters[index].MayStart(p, end)) continue;
      // Most offsets fail these cheap tests; the full checks run only where they pass.
      if (MayStartIntactCell(p, end, carver.minColumns_, maxHeaders[index], carver.shape_.indexCell,
                             carver.smallTypes_.empty() ? nullptr : carver.smallTypes_.data())) {
        add(index, carver.IntactCell(p, end), kIntactWeight);
      }
      if (!header) continue;
      DamageReport report;
      auto damaged = carver.DamagedCell(p, end, at - pageStart, &report);
      if (damaged) {
        const int weight = DamagedWeight(*damaged, report);
        filledByOne = filledByOne || (oneFreeblock && p == begin && report.verified && report.tight);
        add(index, std::move(damaged), weight);
      }
    }
  };
  // Sixteen offsets are tested at once and only those the test lets through are visited,
  // in increasing order; the last few, one by one.
  const std::uint8_t* p = begin;
  std::uint32_t skipFirst = 0;
  if (oneFreeblock && end - begin >= 3) {
    visit(begin);
    skipFirst = 1;
    if (filledByOne) {
      p = end;
      skipFirst = 0;
    }
  }
  for (; end - p >= static_cast<std::ptrdiff_t>(OffsetPrefilter::kWideReach); p += 16) {
    for (std::uint32_t mask = any.SixteenMask(p) & ~skipFirst; mask != 0; mask &= mask - 1) {
      visit(p + __builtin_ctz(mask));
    }
    skipFirst = 0;
  }
  for (p += skipFirst; end - p >= 3; ++p) visit(p);
  for (std::size_t index = 0; index < carvers.size(); ++index) {
    const RecordCarver& carver = carvers[index];
    std::vector<Candidate>& candidates = scratch.candidates[index];
    if (candidates.empty() && headers.empty()) continue;  // most regions of most shapes
    AddMergedBlockCells(carver, file, begin, end, pageStart, candidates, headers, scratch,
                        [&](std::optional<CarvedRecord> record, int weight) { add(index, std::move(record), weight); });
    AddAdjacency(candidates, region.fileOffset, region.fileOffset + region.length, scratch);
    ChooseNonOverlapping(candidates, scratch);
    std::vector<CellSpan>& spans = scratch.spans;
    spans.clear();
    for (const Candidate& c : candidates) spans.push_back({c.begin, c.end});
    spans = SortedSpans(std::move(spans));
    for (const std::size_t chosenIndex : scratch.chosen) {
      CarvedRecord& record = candidates[chosenIndex].record;
      const auto later = LaterCellInside({candidates[chosenIndex].begin, candidates[chosenIndex].end}, spans);
      if (later) {
        if (!CutOverwrittenTail(record, *later, file.bytes, file.header.encoding, carver.shape_.rowidAliasColumn)) {
          continue;
        }
        record.cutAt = *later;
      }
      records[index].push_back(std::move(record));
    }
  }
}

}  // namespace sieve::sqlite
