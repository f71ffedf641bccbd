#include "sieve/sqlite/rollback_journal.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <optional>

#include "sieve/sqlite/record_decoder.h"

namespace sieve::sqlite {

namespace {

constexpr std::array<std::uint8_t, 8> kMagic = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
constexpr std::size_t kHeaderSize = 28;

bool PowerOfTwoIn(std::uint32_t value, std::uint32_t low, std::uint32_t high) {
  return value >= low && value <= high && (value & (value - 1)) == 0;
}

bool HasMagic(std::span<const std::uint8_t> bytes, std::size_t at) {
  return at <= bytes.size() && bytes.size() - at >= kHeaderSize &&
         std::memcmp(bytes.data() + at, kMagic.data(), kMagic.size()) == 0;
}

// The checksum without its nonce: the page's bytes every 200 from the end, offset 0 excluded.
std::uint32_t PageSum(const std::uint8_t* page, std::uint32_t pageSize) {
  std::uint32_t sum = 0;
  for (std::uint32_t i = pageSize - 200; i > 0 && i < pageSize; i -= 200) sum += page[i];
  return sum;
}

struct RecordView {
  std::uint32_t page;
  std::uint32_t nonce;  // stored checksum minus the page sum
  std::span<const std::uint8_t> bytes;
};

std::optional<RecordView> RecordAt(std::span<const std::uint8_t> journal, std::size_t at, std::uint32_t pageSize) {
  if (at > journal.size() || journal.size() - at < std::size_t{pageSize} + 8) return std::nullopt;
  const std::uint8_t* r = journal.data() + at;
  return RecordView{BigEndian32(r), BigEndian32(r + 4 + pageSize) - PageSum(r + 4, pageSize),
                    journal.subspan(at + 4, pageSize)};
}

// Records of an earlier, larger transaction stay behind a persisted journal's newer ones, each
// transaction's under its own nonce. A run counts when at least two records agree on one.
void ReadStaleRecords(std::span<const std::uint8_t> journal, std::size_t at, std::uint32_t pageSize,
                      RollbackJournal& out) {
  const std::size_t recordSize = std::size_t{pageSize} + 8;
  for (;;) {
    const auto first = RecordAt(journal, at, pageSize);
    const auto second = RecordAt(journal, at + recordSize, pageSize);
    if (!first || !second || first->page == 0 || second->page == 0 || first->nonce != second->nonce) return;
    for (;; at += recordSize) {
      const auto record = RecordAt(journal, at, pageSize);
      if (!record || record->page == 0 || record->nonce != first->nonce) break;
      out.records.push_back({record->page, true, record->bytes});
    }
  }
}

// Behind a zeroed header the sector size and nonce are gone: the records start at the first
// sector size (512 up) where consecutive records agree on one nonce (or one record fits).
void ReadBehindZeroedHeader(std::span<const std::uint8_t> journal, RollbackJournal& out) {
  const std::size_t recordSize = std::size_t{out.pageSize} + 8;
  for (std::uint32_t sector = 512; sector <= 65536; sector *= 2) {
    const auto first = RecordAt(journal, sector, out.pageSize);
    if (!first || first->page == 0) continue;
    const auto second = RecordAt(journal, sector + recordSize, out.pageSize);
    if (second && second->page != 0 && second->nonce != first->nonce) continue;
    std::size_t at = sector;
    for (;; at += recordSize) {
      const auto record = RecordAt(journal, at, out.pageSize);
      if (!record || record->page == 0 || record->nonce != first->nonce) break;
      out.records.push_back({record->page, false, record->bytes});
    }
    ReadStaleRecords(journal, at, out.pageSize, out);
    return;
  }
}

}  // namespace

const char* JournalStatusText(JournalStatus status) {
  switch (status) {
    case JournalStatus::kOk: return "ok";
    case JournalStatus::kEmpty: return "the journal holds no records";
    case JournalStatus::kTruncated: return "the journal is shorter than its 28-byte header";
    case JournalStatus::kNotJournal: return "not a rollback journal (wrong magic number)";
    case JournalStatus::kBadGeometry: return "rollback journal with an invalid page or sector size";
  }
  return "?";
}

RollbackJournal ParseRollbackJournal(std::span<const std::uint8_t> journal, std::uint32_t databasePageSize) {
  RollbackJournal out;
  if (journal.empty()) return out;
  if (journal.size() < kHeaderSize) {
    out.status = JournalStatus::kTruncated;
    return out;
  }
  const bool zeroMagic = std::all_of(journal.begin(), journal.begin() + 8, [](std::uint8_t b) { return b == 0; });
  const bool fullyZeroed = std::all_of(journal.begin(), journal.begin() + kHeaderSize, [](std::uint8_t b) { return b == 0; });
  if (!HasMagic(journal, 0) && !zeroMagic) {
    out.status = JournalStatus::kNotJournal;
    return out;
  }
  out.zeroedHeader = zeroMagic;
  if (fullyZeroed) {
    out.pageSize = databasePageSize;
    if (PowerOfTwoIn(databasePageSize, 512, 65536)) ReadBehindZeroedHeader(journal, out);
    out.status = out.records.empty() ? JournalStatus::kEmpty : JournalStatus::kOk;
    if (!out.records.empty()) out.warnings.push_back("rollback journal header is zeroed (committed); records read behind it");
    return out;
  }

  // A journal not yet synced has the rest of its header but not its magic.
  out.hot = !zeroMagic;
  bool playing = out.hot;
  std::size_t at = 0;
  std::size_t tail = 0;  // just past the last record read, where older transactions' records may follow
  for (bool first = true; first || HasMagic(journal, at); first = false) {
    const std::uint8_t* h = journal.data() + at;
    const std::uint32_t recordCount = BigEndian32(h + 8);
    const std::uint32_t nonce = BigEndian32(h + 12);
    const std::uint32_t sector = BigEndian32(h + 20);
    const std::uint32_t pageSize = BigEndian32(h + 24);
    if (!PowerOfTwoIn(sector, 32, 65536) || !PowerOfTwoIn(pageSize, 512, 65536) ||
        (!first && pageSize != out.pageSize)) {
      if (first) {
        out.status = JournalStatus::kBadGeometry;
        return out;
      }
      out.warnings.push_back("rollback journal segment at byte " + std::to_string(at) + " has a bad header; ignored");
      break;
    }
    if (first) {
      out.pageSize = pageSize;
      out.initialPages = BigEndian32(h + 16);
    }
    const std::size_t recordSize = std::size_t{pageSize} + 8;
    const std::size_t start = at + sector;
    const std::size_t fits = start <= journal.size() ? (journal.size() - start) / recordSize : 0;
    const bool countFromSize = recordCount == 0 || recordCount == 0xffffffff;
    playing = playing && recordCount != 0;
    const std::size_t wanted = countFromSize ? fits : recordCount;
    std::size_t read = 0;
    bool stop = false;
    for (; read < wanted; ++read) {
      const auto record = RecordAt(journal, start + read * recordSize, pageSize);
      if (!record) {
        out.warnings.push_back("rollback journal ends inside record " + std::to_string(read + 1) + " of " +
                               std::to_string(wanted));
        stop = true;
        break;
      }
      // Checksums guard records SQLite would play back; the first bad one ends the journal.
      if (record->page == 0 || record->nonce != nonce) {
        if (!countFromSize) {
          out.warnings.push_back("rollback journal record " + std::to_string(read + 1) + " fails its checksum; " +
                                 "the journal ends there");
        }
        stop = true;
        break;
      }
      out.records.push_back({record->page, true, record->bytes});
      if (playing) out.playedBack = out.records.size();
    }
    tail = start + read * recordSize;
    if (stop) break;
    at = (tail + sector - 1) / sector * sector;
  }
  ReadStaleRecords(journal, tail, out.pageSize, out);
  out.status = JournalStatus::kOk;
  return out;
}

}  // namespace sieve::sqlite
