#include "sieve/sqlite/database_header.h"

#include <algorithm>
#include <cstring>

namespace sieve::sqlite {

namespace {
constexpr char kMagic[] = "SQLite format 3";  // followed by a NUL, 16 bytes in all
constexpr std::size_t kHeaderSize = 100;
constexpr std::uint32_t kMinUsableSize = 480;
}  // namespace

DatabaseHeader ReadDatabaseHeader(std::span<const std::uint8_t> file) {
  DatabaseHeader header;
  if (file.size() < kHeaderSize) return header;
  const std::uint8_t* h = file.data();
  if (std::memcmp(h, kMagic, sizeof kMagic) != 0) {
    header.status = GeometryStatus::kNotSqlite;
    return header;
  }
  const std::uint32_t rawSize = BigEndian16(h + 16);
  const std::uint32_t pageSize = rawSize == 1 ? 65536 : rawSize;
  if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0) {
    header.status = GeometryStatus::kBadPageSize;
    return header;
  }
  header.pageSize = pageSize;
  header.reservedBytes = h[20];
  if (pageSize - header.reservedBytes < kMinUsableSize) {
    header.status = GeometryStatus::kBadReservedSize;
    return header;
  }
  header.usableSize = pageSize - header.reservedBytes;
  const auto wholePages = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(file.size() / pageSize, UINT32_MAX));
  if (wholePages == 0) return header;  // status stays kTooShort

  header.headerPageCount = BigEndian32(h + 28);
  header.headerPageCountValid =
      header.headerPageCount != 0 && BigEndian32(h + 24) == BigEndian32(h + 92);
  header.pageCount = header.headerPageCountValid ? std::min(header.headerPageCount, wholePages)
                                                 : wholePages;
  header.firstFreelistTrunk = BigEndian32(h + 32);
  header.freelistPageCount = BigEndian32(h + 36);
  header.largestRootPage = BigEndian32(h + 52);
  header.schemaFormat = BigEndian32(h + 44);
  const std::uint32_t encoding = BigEndian32(h + 56);
  if (encoding == 2) header.encoding = TextEncoding::kUtf16le;
  if (encoding == 3) header.encoding = TextEncoding::kUtf16be;
  header.status = GeometryStatus::kOk;
  return header;
}

}  // namespace sieve::sqlite
