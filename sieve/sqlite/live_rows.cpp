#include "sieve/sqlite/live_rows.h"

#include <algorithm>
#include <cstring>

#include "sieve/sqlite/btree_walk.h"

namespace sieve::sqlite {

namespace {

// A multiply-xorshift mix over 8-byte words: the fingerprints cover every live row and every
// carved record, so a byte-at-a-time hash would cost more than the carving.
constexpr std::uint64_t kMul = 0x9e3779b97f4a7c15ull;

inline std::uint64_t Step(std::uint64_t h, std::uint64_t word) {
  h = (h ^ word) * kMul;
  return h ^ (h >> 32);
}

std::uint64_t Mix(std::uint64_t h, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  // Long texts in four lanes of their own, joined at the end: each step waits for the
  // multiply before it, and one lane left the machine idle most of the time.
  if (size >= 32) {
    std::uint64_t lanes[4] = {h, h ^ 0x3c6ef372fe94f82bull, h ^ 0xa54ff53a5f1d36f1ull, h ^ 0x510e527fade682d1ull};
    for (; size >= 32; p += 32, size -= 32) {
      std::uint64_t words[4];
      std::memcpy(words, p, 32);
      for (int lane = 0; lane < 4; ++lane) lanes[lane] = Step(lanes[lane], words[lane]);
    }
    h = Step(Step(Step(lanes[0], lanes[1]), lanes[2]), lanes[3]);
  }
  for (; size >= 8; p += 8, size -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    h = Step(h, word);
  }
  // The last bytes a byte at a time: a copy of a size not known here is a library call.
  std::uint64_t tail = 0;
  for (std::size_t i = 0; i < size; ++i) tail |= std::uint64_t{p[i]} << (8 * i);
  return Step(h, tail ^ (std::uint64_t{size} << 56));
}

std::uint64_t MixValue(std::uint64_t h, const Value& value) {
  h = Step(h, static_cast<std::uint64_t>(value.kind) | (value.truncated ? 0x100u : 0u));
  switch (value.kind) {
    case ValueKind::kNull: return h;
    case ValueKind::kInteger: return Step(h, static_cast<std::uint64_t>(value.integer));
    case ValueKind::kReal: {
      std::uint64_t bits;
      std::memcpy(&bits, &value.real, 8);
      return Step(h, bits);
    }
    case ValueKind::kText:
    case ValueKind::kBlob: return Mix(Step(h, value.bytes.size()), value.bytes.data(), value.bytes.size());
  }
  return h;
}

// Each value is hashed on its own and the row combines the values' hashes, so the several
// fingerprints of one live row hash its texts once.
std::uint64_t ValueHash(const Value& value) { return MixValue(0x452821e638d01377ull, value); }

template <typename HashOfColumn>
std::uint64_t CombineRow(std::size_t columns, int skipColumn, bool skipFirst, const std::int64_t* rowid,
                         const HashOfColumn& hashOf) {
  std::uint64_t h = rowid ? Step(0x243f6a8885a308d3ull, static_cast<std::uint64_t>(*rowid)) : 0x13198a2e03707344ull;
  for (std::size_t column = skipFirst ? 1 : 0; column < columns; ++column) {
    if (static_cast<int>(column) == skipColumn) continue;
    h = Step(h, hashOf(column));
  }
  return h;
}

// The hashes of a row's first `columns` values, a missing one hashed as NULL.
void ValueHashes(const std::vector<Value>& values, std::size_t columns, std::vector<std::uint64_t>& out) {
  const std::uint64_t null = ValueHash(Value{});
  out.assign(columns, null);
  for (std::size_t column = 0; column < columns && column < values.size(); ++column) out[column] = ValueHash(values[column]);
}

// DecodeRecord (nothing cut) and ValueHashes in one pass over a record's bytes, each value
// hashed where it lies: the live rows are most of a file, and decoding them into values first
// cost as much as the hashing. False when DecodeRecord would fail; `count` is the number of
// values it would give.
bool HashRecordInPlace(const std::uint8_t* p, const std::uint8_t* end, std::size_t columns,
                       std::vector<std::uint64_t>& out, std::size_t& count) {
  out.assign(columns, ValueHash(Value{}));
  count = 0;
  constexpr std::uint64_t kSeed = 0x452821e638d01377ull;
  return ForEachField(p, end, [&](std::uint64_t t, const std::uint8_t*& body) {
    const std::int64_t size = SerialTypeSize(t);
    if (size < 0 || static_cast<std::uint64_t>(size) > static_cast<std::uint64_t>(end - body)) return false;
    std::uint64_t h;
    if (t == 0) {
      h = Step(kSeed, static_cast<std::uint64_t>(ValueKind::kNull));
    } else if (t == 7) {
      std::uint64_t bits = 0;
      for (int i = 0; i < 8; ++i) bits = bits << 8 | body[i];
      h = Step(Step(kSeed, static_cast<std::uint64_t>(ValueKind::kReal)), bits);
    } else if (t <= 9) {
      const std::int64_t integer = t >= 8 ? static_cast<std::int64_t>(t - 8) : SignedBigEndian(body, t);
      h = Step(Step(kSeed, static_cast<std::uint64_t>(ValueKind::kInteger)), static_cast<std::uint64_t>(integer));
    } else {
      const ValueKind kind = (t & 1) ? ValueKind::kText : ValueKind::kBlob;
      const auto length = static_cast<std::uint64_t>(size);
      h = Mix(Step(Step(kSeed, static_cast<std::uint64_t>(kind)), length), body, length);
    }
    if (count < columns) out[count] = h;
    ++count;
    body += size;
    return true;
  });
}

}  // namespace

std::uint64_t RowFingerprint(const std::vector<Value>& values, std::size_t columns, int skipColumn,
                             bool skipFirst, const std::int64_t* rowid) {
  const Value null;
  return CombineRow(columns, skipColumn, skipFirst, rowid,
                    [&](std::size_t column) { return ValueHash(column < values.size() ? values[column] : null); });
}

namespace {

// The forms of a row's fingerprint, one per way a carved copy may have kept it.
enum class Form : std::uint64_t { kWithRowid = 1, kWithoutRowid, kWithoutFirst, kCut, kCutWithoutFirst };

std::uint64_t Joined(std::uint64_t fingerprint, Form form, std::size_t table) {
  return Step(Step(fingerprint, static_cast<std::uint64_t>(form)), table);
}

}  // namespace

LiveRows LiveRows::Build(const PagedFile& file, const std::vector<TableShape>& tables, const SetAside* setAside) {
  LiveRows live;
  live.tables_.resize(tables.size());
  for (std::size_t index = 0; index < tables.size(); ++index) {
    live.tables_[index].indexCells = tables[index].shape.indexCell;
    live.tables_[index].setAside = setAside != nullptr && index != 0;
  }
  if (!file.Searchable()) return live;
  std::vector<std::uint8_t> payload;
  std::vector<Value> values;
  std::vector<std::uint64_t> hashes;
  for (std::size_t index = 0; index < tables.size(); ++index) {
    const TableShape& table = tables[index];
    if (table.rootPage == 0 || !file.HasPage(table.rootPage)) continue;
    const bool aside = live.tables_[index].setAside;
    const auto insert = [&](std::uint64_t fingerprint, Form form) {
      const std::uint64_t key = Joined(fingerprint, form, index);
      if (aside) {
        (*setAside)(key);
      } else {
        live.keys_.Insert(key);
      }
    };
    const std::size_t columns = table.shape.columns.size();
    const int alias = table.shape.rowidAliasColumn;
    const bool indexCells = table.shape.indexCell;
    std::vector<bool> seen(file.header.pageCount + 1u, false);
    BtreeVisitor visitor;
    visitor.onPayloadCell = [&](std::uint32_t page, const BtreePageHeader& header, const CellInfo& cell) {
      if (indexCells ? header.type == kLeafTablePage : header.type != kLeafTablePage) return;
      const std::uint8_t* local = file.Page(page).data() + cell.payloadOffset;
      std::size_t count = 0;
      if (cell.overflowPage == 0 && cell.localSize == cell.payloadSize) {
        // Nearly every row: hashed in place, not copied out or decoded first.
        if (!HashRecordInPlace(local, local + cell.localSize, columns, hashes, count)) return;
      } else {
        const bool complete = ReadPayload(file, page, cell, file.bytes.size(), payload);
        if (!DecodeRecord(payload.data(), payload.data() + payload.size(), values, !complete)) return;
        ValueHashes(values, columns, hashes);
        count = values.size();
      }
      if (alias >= 0 && static_cast<std::size_t>(alias) < count && static_cast<std::size_t>(alias) < columns) {
        Value rowid;
        rowid.kind = ValueKind::kInteger;
        rowid.integer = cell.rowid;
        hashes[static_cast<std::size_t>(alias)] = ValueHash(rowid);
      }
      ++live.rows_;
      const auto hashOf = [&](std::size_t column) { return hashes[column]; };
      if (!indexCells) insert(CombineRow(columns, -1, false, &cell.rowid, hashOf), Form::kWithRowid);
      insert(CombineRow(columns, alias, false, nullptr, hashOf), Form::kWithoutRowid);
      insert(CombineRow(columns, alias, true, nullptr, hashOf), Form::kWithoutFirst);
      if (cell.overflowPage == 0) return;
      // What a carver sees of this row should a stale copy of its cell lie in free space.
      if (!DecodeRecord(local, local + cell.localSize, values, true)) return;
      ValueHashes(values, columns, hashes);
      insert(CombineRow(columns, alias, false, nullptr, hashOf), Form::kCut);
      insert(CombineRow(columns, alias, true, nullptr, hashOf), Form::kCutWithoutFirst);
    };
    WalkBtree(file, table.rootPage, seen, visitor);
  }
  return live;
}

std::optional<std::uint64_t> LiveRows::Key(std::size_t table, const CarvedRecord& record, int alias) const {
  if (table >= tables_.size()) return std::nullopt;
  return KeysOf(table, tables_[table].indexCells, record, alias).live;
}

LiveRows::RecordKeys LiveRows::KeysOf(std::size_t table, bool indexCells, const CarvedRecord& record, int alias) {
  const std::size_t columns = record.values.size();
  // Most records have few columns: their hashes stay on the stack.
  constexpr std::size_t kOnStack = 32;
  std::uint64_t onStack[kOnStack];
  std::vector<std::uint64_t> onHeap;
  std::uint64_t* hashes = onStack;
  if (columns > kOnStack) {
    onHeap.resize(columns);
    hashes = onHeap.data();
  }
  for (std::size_t column = 0; column < columns; ++column) hashes[column] = ValueHash(record.values[column]);
  const auto hashOf = [hashes](std::size_t column) { return hashes[column]; };
  RecordKeys keys;
  keys.merge = CombineRow(columns, alias, true, nullptr, hashOf);
  const bool lostFirst = record.lostLeadingColumns > 0;
  if (record.truncated) {
    keys.live = Joined(lostFirst ? keys.merge : CombineRow(columns, alias, false, nullptr, hashOf),
                       lostFirst ? Form::kCutWithoutFirst : Form::kCut, table);
  } else if (lostFirst) {
    keys.live = Joined(keys.merge, Form::kWithoutFirst, table);
  } else if (record.rowid >= 0 && !indexCells) {
    keys.live = Joined(CombineRow(columns, -1, false, &record.rowid, hashOf), Form::kWithRowid, table);
  } else {
    keys.live = Joined(CombineRow(columns, alias, false, nullptr, hashOf), Form::kWithoutRowid, table);
  }
  return keys;
}

}  // namespace sieve::sqlite
