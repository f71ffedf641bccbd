#include "sieve/sqlite/overwritten_tail.h"

#include <algorithm>

#include "sieve/sqlite/record_plausibility.h"

namespace sieve::sqlite {

std::vector<CellSpan> SortedSpans(std::vector<CellSpan> spans) {
  std::sort(spans.begin(), spans.end(),
            [](const CellSpan& a, const CellSpan& b) { return a.end < b.end || (a.end == b.end && a.begin > b.begin); });
  for (std::size_t i = 0; i < spans.size(); ++i) {
    spans[i].lastBeginSameEnd = i > 0 && spans[i - 1].end == spans[i].end ? spans[i - 1].lastBeginSameEnd : spans[i].begin;
  }
  std::sort(spans.begin(), spans.end(), [](const CellSpan& a, const CellSpan& b) { return a.begin < b.begin; });
  return spans;
}

std::optional<std::size_t> LaterCellInside(const CellSpan& cell, std::span<const CellSpan> sorted) {
  auto it = std::upper_bound(sorted.begin(), sorted.end(), cell.begin,
                             [](std::size_t begin, const CellSpan& other) { return begin < other.begin; });
  for (; it != sorted.end() && it->begin < cell.end; ++it) {
    if (it->end > cell.end && it->lastBeginSameEnd < cell.end) return it->begin;
  }
  return std::nullopt;
}

namespace {

// A text cut at an arbitrary byte keeps only whole characters of its encoding.
std::string_view WholeCharacters(std::string_view text, TextEncoding encoding) {
  if (encoding == TextEncoding::kUtf8) return WholeUtf8Sequences(text);
  text = text.substr(0, text.size() & ~std::size_t{1});
  if (text.size() < 2) return text;
  const auto last = encoding == TextEncoding::kUtf16be ? static_cast<std::uint8_t>(text[text.size() - 2])
                                                       : static_cast<std::uint8_t>(text[text.size() - 1]);
  return last >= 0xD8 && last <= 0xDB ? text.substr(0, text.size() - 2) : text;  // a high surrogate alone
}

}  // namespace

bool CutOverwrittenTail(CarvedRecord& record, std::size_t cut, std::span<const std::uint8_t> file,
                        TextEncoding encoding, int rowidAliasColumn) {
  if (cut <= record.bodyOffset || cut > file.size()) return false;
  const std::uint8_t* p = file.data() + record.bodyOffset;
  const std::uint8_t* end = file.data() + std::min(cut, record.bodyOffset + record.localBodyBytes);
  bool known = false;
  const std::size_t count = std::min(record.serialTypes.size(), record.values.size());
  for (std::size_t column = 0; column < count; ++column) {
    Value cutValue;
    if (!DecodeValue(record.serialTypes[column], p, end, true, cutValue)) return false;
    Value& value = record.values[column];
    // The rowid alias holds the cell's rowid, and an assumed leading value was never read.
    if (static_cast<int>(column) == rowidAliasColumn ||
        (static_cast<int>(column) < record.lostLeadingColumns && value.kind == ValueKind::kNull)) {
      continue;
    }
    if (cutValue.kind == ValueKind::kText && cutValue.truncated) {
      cutValue.bytes = WholeCharacters(cutValue.bytes, encoding);
    }
    value = cutValue;
    known |= value.kind != ValueKind::kNull && !(value.truncated && value.bytes.empty());
  }
  record.length = cut - record.fileOffset;
  record.localBodyBytes = static_cast<std::size_t>(end - (file.data() + record.bodyOffset));
  record.truncated = false;
  return known;
}

}  // namespace sieve::sqlite
