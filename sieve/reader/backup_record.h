// The state of one backup in the reader: its properties, password, file index,
// extractors, key bag and the progress, pause and stop values of its scan.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sieve/backup/category_rules.h"
#include "sieve/backup/key_bag.h"
#include "sieve/backup/manifest_db.h"
#include "sieve/backup/manifest_mbdb.h"
#include "sieve/extractors/database_info.h"
#include "sieve/itunes_backup_reader.h"
#include "sieve/private_folder.h"

namespace sieve {


class CBackupRecord {
 public:
  CBackupRecord() = default;
  ~CBackupRecord();
  CBackupRecord(const CBackupRecord&) = delete;
  CBackupRecord& operator=(const CBackupRecord&) = delete;

  // Reads Info.plist and Manifest.plist of a backup folder; false when there is no Info.plist.
  bool Load(const std::string& folder);
  // Display name then date; a backup whose Info.plist cannot be read has neither, so
  // its folder keeps it apart from every other such backup.
  std::string Key() const {
    return displayName.empty() && lastBackupDate.empty() ? std::string("\x01") + folder
                                                          : displayName + lastBackupDate;
  }

  // Opens the key bag of Manifest.plist with the derived key when there is one, else
  // with the stored password (deriving once and keeping the key for later opens).
  // Sets lastError on failure. Returns 1, 0 (no usable key bag) or -1 (wrong password).
  int OpenKeyBag();
  // Reads the file index (either layout) into index; false on failure (lastError says
  // why). A damaged index keeps the entries before the damage and still returns true.
  bool ReadIndex(const MbdbProgress& progress);
  // Hands every index entry to `sink` in order without keeping the newer layout's
  // index in memory (the old one is small and read whole). Same results as ReadIndex.
  bool StreamIndex(const ManifestRowSink& sink, const MbdbProgress& progress = {});
  // False for an entry of a backup that says it is not encrypted when the entry carries
  // a wrapped file key all the same: writing ciphertext out as if it were the file would
  // be silent garbage. SetPlainBackupDisagrees gives lastError for it.
  bool EntryAgreesWithPlainBackup(const CManifestRecord& entry) const;
  void SetPlainBackupDisagrees();
  // Looks at the folder again: which index it holds.
  BackupLayout DetectLayout() const;


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
  std::optional<FileKey> derivedKey;  // the password's derived key, once known
  BackupLayout layout = BackupLayout::Unknown;
  std::vector<std::string> loadWarnings;   // from Status.plist
  std::vector<std::string> indexWarnings;  // from the last index read
  std::vector<DatabaseProblem> databaseProblems;  // from the last scan
  std::string extractNote;                 // from the last single-file extraction

  std::vector<CManifestRecord> index;
  std::array<std::unique_ptr<CDatabaseInfo>, kExtractorSlotCount> extractors;
  CBackupKeyBag keyBag;
  PrivateFolder privateFolder;
  ScanContext context;

  std::atomic<float> progress{0.0f};
  std::atomic<int> pause{0};
  std::atomic<int> stop{0};


  ReaderError lastError = ReaderError::None;
  std::string lastErrorText;

 private:
  bool ReadMbdbIndex(const MbdbProgress& progress);
  bool ReadManifestDbIndex(const ManifestRowSink& sink, const MbdbProgress& progress);
  // The path of a plain Manifest.db to open: the backup's own, or a decrypted copy in
  // the private folder (`copy` set then). "" with lastError set on failure.
  std::string PlainManifestDb(std::string& copy);
  void ReadStatus();
};

}  // namespace sieve
