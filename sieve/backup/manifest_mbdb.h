// The old-layout backup file index, "Manifest.mbdb": one record per file, folder and
// link of the device, each naming the stored file that holds its contents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sieve {

struct CManifestRecord {
  std::string StoredName;  // 40 lower-case hex digits (see stored_name.h)
  std::string Domain, Path;  // UTF-8 as stored; an absent field gives "NULL"
  std::string LinkTarget;    // empty when absent
  std::vector<std::uint8_t> EncryptionKey;  // raw field bytes; empty when absent
  bool HasEncryptionKey = false;
  std::uint16_t Mode = 0;
  std::uint64_t Inode = 0;
  std::uint32_t UserId = 0, GroupId = 0;
  std::uint32_t ModifiedTime = 0, AccessTime = 0, CreatedTime = 0;  // seconds since 1970
  std::uint64_t Size = 0;
  std::uint8_t ProtectionClass = 0;

  bool IsDirectory() const;
  bool IsRegularFile() const;
  bool IsSymlink() const;
};

enum class MbdbStatus {
  Ok,          // every byte after the header belonged to a whole record
  Missing,     // no file at the path
  NotAnIndex,  // too short for the header, or the header is wrong
  Truncated,   // the last record runs past the end; the records before it were kept
  ReadError,   // the file exists but cannot be read
  Stopped,     // the progress callback asked to stop
};

struct MbdbResult {
  MbdbStatus status;
  // Where reading ended: the start of the record that was cut off (Truncated), the bytes
  // read when stopped (Stopped), the whole size (Ok), 0 otherwise.
  std::uint64_t errorOffset;
};

// Called after every record with the bytes used so far and the size of the index;
// returning false stops the reading (status Stopped, the records so far kept).
using MbdbProgress = std::function<bool(std::uint64_t consumed, std::uint64_t total)>;

// Replaces `out` with the records of the index held in data[0, size).
MbdbResult ParseMbdb(const std::uint8_t* data, std::size_t size, std::vector<CManifestRecord>& out,
                     const MbdbProgress& onRecord = {});
// Reads the whole file, then parses it as ParseMbdb does.
MbdbResult ReadMbdbFile(const std::string& path, std::vector<CManifestRecord>& out,
                        const MbdbProgress& onRecord = {});

const char* MbdbStatusText(MbdbStatus status);

}  // namespace sieve
