#include "sieve/sqlite/overflow_chains.h"

#include <algorithm>

#include "sieve/sqlite/record_plausibility.h"

namespace sieve::sqlite {

ChainState ReadFreedChain(const PagedFile& file, const CarvedRecord& record, std::span<const std::uint8_t> local,
                          const std::function<bool(std::uint32_t)>& mayHold, std::vector<std::uint8_t>& body) {
  body.clear();
  if (local.size() < 4 || record.bodySize < local.size() - 4 || !file.Searchable()) return ChainState::kReused;
  const std::size_t localBytes = local.size() - 4;
  body.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(record.bodySize, file.bytes.size())));
  body.assign(local.begin(), local.begin() + static_cast<std::ptrdiff_t>(localBytes));
  const std::size_t perPage = file.header.usableSize - 4;
  std::uint32_t page = BigEndian32(local.data() + localBytes);
  // Each step adds perPage bytes (or ends the body), so the loop runs at most
  // bodySize / perPage + 1 times whatever the page numbers say.
  while (body.size() < record.bodySize) {
    if (!file.HasPage(page) || page == 1 || !mayHold(page)) return ChainState::kReused;
    const auto bytes = file.Page(page);
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(perPage, record.bodySize - body.size()));
    body.insert(body.end(), bytes.begin() + 4, bytes.begin() + 4 + static_cast<std::ptrdiff_t>(take));
    page = BigEndian32(bytes.data());
  }
  return ChainState::kComplete;
}

bool DecodeCompletedBody(const std::vector<std::uint8_t>& body, CarvedRecord& record, const RecordShape& shape,
                         TextEncoding encoding) {
  const std::uint8_t* p = body.data();
  const std::uint8_t* end = body.data() + body.size();
  std::vector<Value> values = record.values;
  for (std::size_t column = 0; column < record.serialTypes.size() && column < values.size(); ++column) {
    Value value;
    if (!DecodeValue(record.serialTypes[column], p, end, false, value) || !TextWellFormed(value, encoding)) return false;
    if (value.kind == ValueKind::kText && encoding == TextEncoding::kUtf8 && !shape.allowNulInText &&
        value.bytes.find('\0') != std::string_view::npos) {
      return false;
    }
    if (static_cast<int>(column) < record.lostLeadingColumns) continue;
    if (static_cast<int>(column) == shape.rowidAliasColumn && values[column].kind == ValueKind::kInteger) continue;
    values[column] = value;
  }
  record.values = std::move(values);
  record.truncated = false;
  return true;
}

}  // namespace sieve::sqlite
