// The file index of backups made by iOS 10 and later, "Manifest.db": an SQLite
// database with one row per file, folder and link of the device,
//   Files(fileID TEXT, domain TEXT, relativePath TEXT, flags INTEGER, file BLOB)
// where fileID is the stored file's name (the SHA-1 of domain, "-" and path, lower
// case), flags is 1 file, 2 folder, 4 link, and file is an NSKeyedArchiver archive
// of an MBFile object (Size, Mode, LastModified, Birth, LastStatusChange as Unix
// seconds, InodeNumber, UserID, GroupID, ProtectionClass, Target of a link, and in
// encrypted backups EncryptionKey: 4-byte little-endian class + 40 wrapped bytes).
// Rows differ from one iOS version to the next; what cannot be read is skipped and
// counted, never guessed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sieve/backup/manifest_mbdb.h"

namespace sieve {

enum class ManifestDbStatus {
  Ok,
  Missing,     // no file at the path, or not a regular file
  NotAnIndex,  // not an SQLite database, or no Files table with the columns we read
  Damaged,     // the database broke off part-way; the rows before the damage were delivered
  Stopped,     // the sink or the progress callback asked to stop
};

struct ManifestDbResult {
  ManifestDbStatus status = ManifestDbStatus::Ok;
  std::uint64_t delivered = 0;  // rows handed to the sink
  std::uint64_t skipped = 0;    // rows that could not be read (no domain or path, bad archive, bad name)
  std::string detail;           // SQLite's message for NotAnIndex and Damaged
};

// Receives each readable row in table order; returning false stops the reading.
using ManifestRowSink = std::function<bool(CManifestRecord&&)>;

// Reads a plain (decrypted) Manifest.db without changing it or creating companions.
// `progress` is called with rows done and the row count, as the old index reports bytes.
ManifestDbResult ReadManifestDb(const std::string& path, const ManifestRowSink& sink,
                                const MbdbProgress& progress = {});

// One row's values; false (with the reason) when the row is to be skipped.
struct ManifestRow {
  std::optional<std::string> fileId, domain, relativePath;
  std::int64_t flags = 0;
  const std::uint8_t* archive = nullptr;
  std::size_t archiveSize = 0;
};
bool DecodeManifestRow(const ManifestRow& row, CManifestRecord& out, std::string* why = nullptr);

const char* ManifestDbStatusText(ManifestDbStatus status);

}  // namespace sieve
