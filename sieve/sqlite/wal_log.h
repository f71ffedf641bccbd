// The frames of an SQLite write-ahead log ("-wal"), every generation of them.
//
// Format facts relied on (all integers big-endian):
//   header, 32 bytes: magic 0x377f0682 or 0x377f0683 (its low bit set: the checksums add
//   big-endian words, clear: little-endian words), format version 3007000, page size,
//   checkpoint sequence, salt-1, salt-2, checksum-1, checksum-2 over the first 24 bytes.
//   frame = 24-byte header + one page: page number, database size in pages after the commit
//   (non-zero only on a commit frame), salt-1, salt-2, checksum-1, checksum-2. The checksums
//   are cumulative: each frame's continue from the previous frame's (the first from the
//   header's) over the frame header's first 8 bytes and then the page.
//   A frame belongs to the log only while salts match the header and the checksum chain holds;
//   the first frame that fails ends the log. After a checkpoint the writer restarts at frame 1
//   with new salts, so frames of earlier generations stay behind the newest one's end.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sieve::sqlite {

enum class WalStatus : std::uint8_t {
  kOk,
  kTruncated,    // shorter than the 32-byte header
  kNotWal,       // the magic is wrong
  kBadVersion,   // a format version other than 3007000
  kBadPageSize,  // not a power of two in 512..65536
};

struct WalFrame {
  std::uint32_t index = 0;       // 1-based position in the file
  std::uint32_t page = 0;        // may be 0 or absurd in frames outside the newest chain
  std::uint32_t commitSize = 0;  // database pages after this commit, 0 if not a commit frame
  std::uint32_t generation = 0;  // 0 the header's salts, then 1, 2, ... for older salt runs
  bool inLog = false;            // part of the newest generation's valid checksum chain
  bool committed = false;        // at or before a commit frame its checksum chain reaches
  std::span<const std::uint8_t> bytes;  // the page
};

struct WalLog {
  WalStatus status = WalStatus::kTruncated;
  std::uint32_t pageSize = 0;
  std::uint32_t checkpointSequence = 0;
  bool headerChecksumOk = false;
  // Every whole frame in file order; frames of the newest generation that SQLite reads
  // are those with inLog && committed.
  std::vector<WalFrame> frames;
  std::vector<std::string> warnings;
};

// Parses the log held in `wal`; frames point into it.
WalLog ParseWalLog(std::span<const std::uint8_t> wal);

const char* WalStatusText(WalStatus status);

}  // namespace sieve::sqlite
