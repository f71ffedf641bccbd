// The state of one backup in the reader: its properties, password, file index,
// extractors, key bag and the progress, pause and stop values of its scan.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "sieve/backup/category_rules.h"
#include "sieve/backup/key_bag.h"
#include "sieve/backup/manifest_mbdb.h"
#include "sieve/extractors/database_info.h"
#include "sieve/itunes_backup_reader.h"
#include "sieve/reader/private_folder.h"

namespace sieve {

class IndexWalk;

class CBackupRecord {
 public:
  CBackupRecord() = default;
  ~CBackupRecord();
  CBackupRecord(const CBackupRecord&) = delete;
  CBackupRecord& operator=(const CBackupRecord&) = delete;

  // Reads Info.plist and Manifest.plist of a backup folder; false when there is no Info.plist.
  bool Load(const std::string& folder);
  std::string Key() const { return displayName + lastBackupDate; }

  // Opens the key bag of Manifest.plist with the stored password (once per call).
  // Sets lastError on failure. Returns 1, 0 (no usable key bag) or -1 (wrong password).
  int OpenKeyBag();
  // Reads Manifest.mbdb into index; false on failure (lastError says why). A truncated
  // index keeps the entries before the damage and still returns true.
  bool ReadIndex(const MbdbProgress& progress);

  // Index lookups for single-file extraction, built once per index read.
  const IndexWalk& Lookup();

  void SetError(ReaderError error, std::string text);
  // True when the stop flag is set; waits while paused.
  bool StopRequested() const;

  RecordCallback callback = nullptr;
  void* callbackUser = nullptr;
  std::string folder;
  std::string displayName;
  std::string productType;
  std::string deviceName;
  std::string productVersion;
  std::string lastBackupDate;
  std::string serialNumber;
  int encrypted = 0;
  std::string password;

  std::vector<CManifestRecord> index;
  std::array<std::unique_ptr<CDatabaseInfo>, kExtractorSlotCount> extractors;
  CBackupKeyBag keyBag;
  PrivateFolder privateFolder;
  ScanContext context;

  std::atomic<float> progress{0.0f};
  std::atomic<int> pause{0};
  std::atomic<int> stop{0};

  std::unique_ptr<IndexWalk> lookup;

  ReaderError lastError = ReaderError::None;
  std::string lastErrorText;
};

}  // namespace sieve
