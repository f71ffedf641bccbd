#include "sieve/sqlite/wal_log.h"

#include <algorithm>
#include <cstddef>

#include "sieve/sqlite/record_decoder.h"

namespace sieve::sqlite {

namespace {

constexpr std::uint32_t kMagicLittle = 0x377f0682;
constexpr std::uint32_t kMagicBig = 0x377f0683;
constexpr std::uint32_t kVersion = 3007000;
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kFrameHeaderSize = 24;

struct Checksum {
  std::uint32_t s0 = 0;
  std::uint32_t s1 = 0;
  bool operator==(const Checksum&) const = default;
};

std::uint32_t LittleEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

// SQLite's log checksum: 32-bit word pairs, each sum feeding the other. `size` is a multiple of 8
// (24 header bytes, 8 frame-header bytes, a page of 512..65536).
void Accumulate(Checksum& sum, bool bigEndian, const std::uint8_t* p, std::size_t size) {
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    const std::uint32_t x0 = bigEndian ? BigEndian32(p + i) : LittleEndian32(p + i);
    const std::uint32_t x1 = bigEndian ? BigEndian32(p + i + 4) : LittleEndian32(p + i + 4);
    sum.s0 += x0 + sum.s1;
    sum.s1 += x1 + sum.s0;
  }
}

Checksum Stored(const std::uint8_t* p) { return {BigEndian32(p), BigEndian32(p + 4)}; }

// Whether the frame at `frame` (header + page) continues the chain that ended at `previous`.
bool Continues(Checksum previous, bool bigEndian, const std::uint8_t* frame, std::uint32_t pageSize) {
  Accumulate(previous, bigEndian, frame, 8);
  Accumulate(previous, bigEndian, frame + kFrameHeaderSize, pageSize);
  return previous == Stored(frame + 16);
}

}  // namespace

const char* WalStatusText(WalStatus status) {
  switch (status) {
    case WalStatus::kOk: return "ok";
    case WalStatus::kTruncated: return "the log is shorter than its 32-byte header";
    case WalStatus::kNotWal: return "not a write-ahead log (wrong magic number)";
    case WalStatus::kBadVersion: return "write-ahead log of an unknown format version";
    case WalStatus::kBadPageSize: return "write-ahead log with an invalid page size";
  }
  return "?";
}

WalLog ParseWalLog(std::span<const std::uint8_t> wal) {
  WalLog log;
  if (wal.size() < kHeaderSize) return log;
  const std::uint8_t* h = wal.data();
  const std::uint32_t magic = BigEndian32(h);
  if (magic != kMagicLittle && magic != kMagicBig) {
    log.status = WalStatus::kNotWal;
    return log;
  }
  if (BigEndian32(h + 4) != kVersion) {
    log.status = WalStatus::kBadVersion;
    return log;
  }
  const std::uint32_t pageSize = BigEndian32(h + 8);
  if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0) {
    log.status = WalStatus::kBadPageSize;
    return log;
  }
  log.status = WalStatus::kOk;
  log.pageSize = pageSize;
  log.checkpointSequence = BigEndian32(h + 12);
  const bool bigEndian = (magic & 1) != 0;
  const std::uint32_t salt1 = BigEndian32(h + 16);
  const std::uint32_t salt2 = BigEndian32(h + 20);

  Checksum headerSum;
  Accumulate(headerSum, bigEndian, h, 24);
  log.headerChecksumOk = headerSum == Stored(h + 24);
  if (!log.headerChecksumOk) {
    log.warnings.push_back("write-ahead log header checksum is wrong: SQLite ignores the log; its frames are history only");
  }

  const std::size_t frameSize = kFrameHeaderSize + pageSize;
  const std::size_t available = (wal.size() - kHeaderSize) / frameSize;
  const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(available, UINT32_MAX));
  if ((wal.size() - kHeaderSize) % frameSize != 0) {
    log.warnings.push_back("write-ahead log ends inside a frame; the partial frame is ignored");
  }
  const auto frameAt = [&](std::uint32_t i) { return h + kHeaderSize + static_cast<std::size_t>(i) * frameSize; };
  const auto salts = [](const std::uint8_t* f) { return (std::uint64_t{BigEndian32(f + 8)} << 32) | BigEndian32(f + 12); };
  const std::uint64_t headerSalts = (std::uint64_t{salt1} << 32) | salt2;

  log.frames.reserve(count);
  // The newest generation: frames with the header's salts whose checksums chain from the header.
  Checksum chain = Stored(h + 24);
  std::uint32_t chainEnd = 0;  // frames [0, chainEnd) are in the log
  while (log.headerChecksumOk && chainEnd < count) {
    const std::uint8_t* f = frameAt(chainEnd);
    if (salts(f) != headerSalts || BigEndian32(f) == 0 || !Continues(chain, bigEndian, f, pageSize)) break;
    chain = Stored(f + 16);
    ++chainEnd;
  }
  if (log.headerChecksumOk && chainEnd < count) {
    log.warnings.push_back("write-ahead log: the newest generation ends at frame " + std::to_string(chainEnd + 1) +
                           " of " + std::to_string(count) + "; later frames are history only");
  }

  // Older generations: a new one starts wherever the salts change after the chain.
  std::uint32_t generation = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* f = frameAt(i);
    WalFrame frame;
    frame.index = i + 1;
    frame.page = BigEndian32(f);
    frame.commitSize = BigEndian32(f + 4);
    frame.bytes = std::span<const std::uint8_t>(f + kFrameHeaderSize, pageSize);
    frame.inLog = i < chainEnd;
    if (!frame.inLog && salts(f) != headerSalts) {
      if (i == chainEnd || salts(f) != salts(frameAt(i - 1))) ++generation;
      frame.generation = generation;
    }
    log.frames.push_back(frame);
  }

  // Committed: a commit frame at or after the frame, reached without a broken link. In the
  // newest chain every link holds; in older runs each link is checked against the previous
  // frame's stored checksums (the run's first frame has no surviving predecessor).
  bool commitAhead = false;
  for (std::uint32_t i = count; i-- > 0;) {
    WalFrame& frame = log.frames[i];
    const bool linkToNext = i + 1 < count && (log.frames[i + 1].inLog ||
                                              (log.frames[i + 1].generation == frame.generation &&
                                               frame.generation != 0 &&
                                               Continues(Stored(frameAt(i) + 16), bigEndian, frameAt(i + 1), pageSize)));
    if (!linkToNext || frame.inLog != log.frames[i + 1].inLog) commitAhead = false;
    if (frame.commitSize != 0 && (frame.inLog || frame.generation != 0)) commitAhead = true;
    frame.committed = commitAhead && (frame.inLog || frame.generation != 0);
  }

  // A frame without a page number is not a version of any page.
  std::erase_if(log.frames, [](const WalFrame& frame) { return frame.page == 0; });
  return log;
}

}  // namespace sieve::sqlite
