// Rebuilding the serial types of a freed cell that its freeblock header overwrote.
//
// Format facts relied on: a cell is [payload length varint][rowid varint, table cells only]
// [record: header length varint, one serial type varint per column, the values]. Text of n
// bytes has serial type 2n+13, a blob 2n+12; types 0, 8 and 9 take no bytes, 1-6 take 1, 2,
// 3, 4, 6 and 8 bytes, 7 (a real) 8. A freed cell becomes a freeblock of its own size unless
// it joins a neighbouring block (a fragment of fewer than 4 bytes between them joins too).
#include "sieve/sqlite/header_rebuild.h"

#include <algorithm>
#include <string>
#include <utility>

#include "sieve/reader/text.h"
#include "sieve/sqlite/btree_page.h"
#include "sieve/sqlite/record_carver.h"

namespace sieve::sqlite {

AssumableTypeList AssumableTypes(std::uint8_t kinds, bool rowidAlias) {
  AssumableTypeList list;
  const auto add = [&list](std::uint64_t type) { list.types[list.count++] = type; };
  if (rowidAlias) {
    add(0);
    return list;
  }
  if (kinds & kNull) add(0);
  if (kinds & kInteger) {
    for (const std::uint64_t type : {8u, 1u, 2u, 3u, 4u, 5u, 6u}) {
      if (type != 8 || !(kinds & kNull)) add(type);  // 8 and 0 both take no bytes
    }
  }
  if ((kinds & kReal) && !(kinds & kInteger)) add(7);  // same size as type 6
  return list;
}

bool OnlyTypeOfSize(std::uint8_t kinds, std::int64_t size) {
  int types = 0;
  if (size == 0) types = ((kinds & kNull) ? 1 : 0) + ((kinds & kInteger) ? 2 : 0);
  if (size > 0 && size != 8) types = (kinds & kInteger) ? 1 : 0;
  if (size == 8) types = ((kinds & kInteger) ? 1 : 0) + ((kinds & kReal) ? 1 : 0);
  return types == 1;
}

std::optional<std::uint64_t> VariableType(std::uint8_t kinds, bool text, std::uint64_t bytes,
                                          std::size_t varintBytes) {
  if (!(kinds & (text ? kText : kBlob)) || bytes > (std::uint64_t{1} << 40)) return std::nullopt;
  const std::uint64_t type = 2 * bytes + (text ? 13 : 12);
  const std::size_t length = type < 0x80 ? 1 : type < 0x4000 ? 2 : 3;
  if (length != varintBytes) return std::nullopt;
  return type;
}

namespace {
constexpr std::size_t kFreeblockHeader = 4;
constexpr int kNoVariable = -1;

std::size_t VarintBytes(std::uint64_t value) {
  std::size_t bytes = 1;
  for (; value >= 0x80 && bytes < 9; value >>= 7) ++bytes;
  return bytes;
}

// Serial types starting `typesAt` (< 4) bytes in leave room for one-byte varints only, but
// for an index cell's payload length, which takes what the header length (one byte) leaves.
bool PrefixFits(std::uint64_t cellSize, std::size_t typesAt, bool indexCell) {
  const std::size_t payloadBytes = indexCell ? typesAt - 1 : 1;
  const std::size_t rowidBytes = indexCell ? 0 : typesAt - 2;
  if (cellSize <= payloadBytes + rowidBytes) return false;
  return VarintBytes(cellSize - payloadBytes - rowidBytes) == payloadBytes;
}
// SQLite stores an integer in the fewest bytes that hold it (0 and 1 in none): a reading whose
// rebuilt integer would fit a shorter type took bytes that belong to a neighbour.
bool SmallestIntegerType(std::uint64_t type, const Value& value, bool zeroAndOneTyped = true) {
  if (type < 1 || type > 6 || value.kind != ValueKind::kInteger) return true;
  const std::int64_t v = value.integer;
  if (zeroAndOneTyped && (v == 0 || v == 1)) return false;
  const std::int64_t bits[] = {0, 8, 16, 24, 32, 48, 64};
  if (type == 1) return true;
  const std::int64_t shorter = bits[type - 1];
  const std::int64_t limit = std::int64_t{1} << (shorter - 1);
  return v < -limit || v >= limit;
}

// What a rebuilt reading must satisfy beyond decoding: its guessed integers are in their
// shortest form and its rebuilt text is well formed.
bool Plausible(const CarvedRecord& record, int lost, bool utf8) {
  for (std::size_t c = 0; c < static_cast<std::size_t>(lost) && c < record.values.size(); ++c) {
    const Value& value = record.values[c];
    if (c < record.serialTypes.size() && !SmallestIntegerType(record.serialTypes[c], value)) return false;
    if (value.kind == ValueKind::kText && utf8 && !value.truncated && !IsValidUtf8(value.bytes)) return false;
  }
  return true;
}
// C0 control characters in the rebuilt texts (a tab or line break only at the end, where a
// split that moved a neighbour's bytes into the text would put it): such a split mostly
// brings some.
std::size_t ControlCharacters(const CarvedRecord& record, TextEncoding encoding) {
  std::size_t count = 0;
  for (std::size_t c = 0; c < static_cast<std::size_t>(record.lostLeadingColumns) && c < record.values.size(); ++c) {
    const Value& value = record.values[c];
    if (value.kind != ValueKind::kText) continue;
    const std::string text = ValueText(value, encoding);
    count += static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char ch) {
      const auto u = static_cast<unsigned char>(ch);
      return u < 0x20 && u != '\t' && u != '\n' && u != '\r';
    }));
    count += !text.empty() && (text.back() == '\t' || text.back() == '\n' || text.back() == '\r');
  }
  return count;
}
// Bytes of the lost columns' values that are text or blob.
std::uint64_t RebuiltBytes(const CarvedRecord& record) {
  std::uint64_t bytes = 0;
  for (std::size_t c = 0; c < static_cast<std::size_t>(record.lostLeadingColumns) && c < record.serialTypes.size(); ++c) {
    if (record.serialTypes[c] >= 12) bytes += static_cast<std::uint64_t>(SerialTypeSize(record.serialTypes[c]));
  }
  return bytes;
}
}  // namespace

bool IntegersInShortestForm(const std::vector<std::uint64_t>& serialTypes, const std::vector<Value>& values,
                            bool zeroAndOneTyped) {
  for (std::size_t c = 0; c < serialTypes.size() && c < values.size(); ++c) {
    if (!SmallestIntegerType(serialTypes[c], values[c], zeroAndOneTyped)) return false;
  }
  return true;
}

void RecordCarver::RebuildLostTypes(const std::uint8_t* cell, const std::uint8_t* cellEnd, std::size_t typesAt,
                                    const std::function<void(std::optional<CarvedRecord>)>& consider) const {
  if (typesAt >= kFreeblockHeader || cellEnd - cell <= static_cast<std::ptrdiff_t>(kFreeblockHeader)) return;
  // Where two lost columns share the bytes, several splits may read. A split that gives a
  // text's bytes to a number makes that number's high bytes printable, one that gives a
  // number's bytes to the text mostly makes control characters (small numbers' high bytes
  // are 0x00 or 0xff): the reading with the fewest control characters, then the longest
  // rebuilt bytes, is taken.
  struct Best {
    std::optional<CarvedRecord> record;
    std::pair<std::size_t, std::uint64_t> rank{0, 0};
  } best;
  // Two captures, so that the std::function holding it needs no memory of its own.
  const auto collect = [this, &best](std::optional<CarvedRecord> record) {
    if (!record) return;
    const std::pair<std::size_t, std::uint64_t> rank{ControlCharacters(*record, file_->header.encoding),
                                                     UINT64_MAX - RebuiltBytes(*record)};
    if (!best.record || rank < best.rank) {
      best.rank = rank;
      best.record = std::move(record);
    }
  };
  Header header;
  RebuildFrom(0, kFreeblockHeader - typesAt, kNoVariable, header, cell, cellEnd, typesAt, collect);
  if (best.record) consider(std::move(best.record));
}

// Assigns the lost columns from `column` on, `lostBytes` bytes of serial types still to
// cover; at most one of them (`variable`) is a text or blob.
void RecordCarver::RebuildFrom(std::size_t column, std::size_t lostBytes, int variable, Header& header,
                               const std::uint8_t* cell, const std::uint8_t* cellEnd, std::size_t typesAt,
                               const std::function<void(std::optional<CarvedRecord>)>& consider) const {
  const std::size_t columns = shape_.columns.size();
  if (lostBytes == 0) {
    // Fixed-size guesses alone are the plain damaged-cell reading's job.
    if (variable == kNoVariable && typesAt + 1 == kFreeblockHeader) return;
    Header full = header;
    full.lost = static_cast<int>(column);
    if (!ReadTypes(cell + kFreeblockHeader, cellEnd, column, columns - column, full)) return;
    // The cell is taken to fill [cell, cellEnd) exactly: its own freeblock, or the bytes up
    // to the next record of a block that merged with its neighbours.
    const std::uint64_t cellSize = static_cast<std::uint64_t>(cellEnd - cell);
    const std::uint64_t before = static_cast<std::uint64_t>(full.typesEnd - cell) + full.bodySize;
    if (!PrefixFits(cellSize, typesAt, shape_.indexCell) || cellSize < before) return;
    const bool utf8 = file_->header.encoding == TextEncoding::kUtf8;
    if (variable == kNoVariable) {
      auto record = before == cellSize ? Build(full, cell, cell + typesAt - 1, cellEnd) : std::nullopt;
      if (record && Plausible(*record, full.lost, utf8)) consider(std::move(record));
      return;
    }
    const auto v = static_cast<std::size_t>(variable);
    const std::uint64_t bytes = cellSize - before;
    const std::size_t varintBytes = types_[v];  // the varint length held there until now
    for (const bool text : {true, false}) {
      const std::optional<std::uint64_t> type = VariableType(shape_.columns[v], text, bytes, varintBytes);
      if (!type || !AcceptType(v, *type)) continue;
      types_[v] = *type;
      Header trial = full;
      trial.bodySize += bytes;
      auto record = Build(trial, cell, cell + typesAt - 1, cellEnd);
      types_[v] = varintBytes;
      if (record && record->length == cellSize && Plausible(*record, full.lost, utf8)) consider(std::move(record));
    }
    return;
  }
  if (column >= columns) return;
  const std::uint8_t kinds = shape_.columns[column];
  const bool alias = static_cast<int>(column) == shape_.rowidAliasColumn;
  const AssumableTypeList& assumable = assumable_[column];
  for (const std::uint64_t type : assumable.Span()) {
    types_[column] = type;
    const std::int64_t size = SerialTypeSize(type);
    const std::uint64_t sure = header.sure;
    header.bodySize += static_cast<std::uint64_t>(size);
    if (column < 64 && !alias && OnlyTypeOfSize(kinds, size)) header.sure |= std::uint64_t{1} << column;
    RebuildFrom(column + 1, lostBytes - 1, variable, header, cell, cellEnd, typesAt, consider);
    header.bodySize -= static_cast<std::uint64_t>(size);
    header.sure = sure;
  }
  if (variable != kNoVariable || alias || !(kinds & (kText | kBlob))) return;
  for (std::size_t varintBytes = 1; varintBytes <= lostBytes; ++varintBytes) {
    types_[column] = varintBytes;  // the length is settled once the cell's other columns are read
    const std::uint64_t sure = header.sure;
    if (column < 64) header.sure |= std::uint64_t{1} << column;
    RebuildFrom(column + 1, lostBytes - varintBytes, static_cast<int>(column), header, cell, cellEnd, typesAt, consider);
    header.sure = sure;
  }
}

}  // namespace sieve::sqlite
