#include "sieve/reader/backup_record.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "sieve/backup/crypto.h"
#include "sieve/backup/file_decryptor.h"
#include "sieve/reader/index_walk.h"
#include "sieve/reader/text.h"
#include "tether/plist.h"

namespace sieve {
namespace fs = std::filesystem;
namespace {

// Property texts are kept to what a 1,024-byte buffer of the classic getters holds.
std::string Bounded(const std::string& text) {
  return std::string(Utf8Prefix(SanitizeUtf8(text), CItunesBackupReader::kTextBufferSize - 1));
}

std::string PlistString(const tether::CPlist& plist, const char* key) {
  std::string value;
  plist.GetStringItem(key, value);
  return Bounded(value);
}

constexpr const char* kMbdbName = "Manifest.mbdb";
constexpr const char* kManifestDbName = "Manifest.db";
constexpr std::size_t kManifestKeySize = 44;  // 4-byte little-endian class + 40 wrapped bytes

bool IsPlainFileAt(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() == fs::file_type::regular;
}

bool StartsAsSqlite(const fs::path& path) {
  static constexpr char kMagic[] = "SQLite format 3";
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char buffer[sizeof kMagic] = {};
  const bool ok = std::fread(buffer, 1, sizeof kMagic, f) == sizeof kMagic;
  std::fclose(f);
  return ok && std::memcmp(buffer, kMagic, sizeof kMagic) == 0;
}

}  // namespace

CBackupRecord::~CBackupRecord() {
  extractors = {};
  crypto::SecureZero(password.data(), password.size());
  if (derivedKey) crypto::SecureZero(derivedKey->data(), derivedKey->size());
}

BackupLayout CBackupRecord::DetectLayout() const {
  if (IsPlainFileAt(fs::path(folder) / kMbdbName)) return BackupLayout::Mbdb;
  if (IsPlainFileAt(fs::path(folder) / kManifestDbName)) return BackupLayout::ManifestDb;
  return BackupLayout::Unknown;
}

// Status.plist: a backup the device did not finish, or an incremental one, lacks
// files; the user must hear so before trusting what a scan finds.
void CBackupRecord::ReadStatus() {
  loadWarnings.clear();
  tether::CPlist status;
  if (!status.ReadPlist((fs::path(folder) / "Status.plist").string())) return;
  std::string state;
  if (status.GetStringItem("SnapshotState", state) && state != "finished") {
    loadWarnings.push_back("the backup was not finished (its snapshot state is \"" + Bounded(state) +
                           "\"); files may be missing");
  }
  if (status.HasItem("IsFullBackup") && status.GetboolItem("IsFullBackup") == 0) {
    loadWarnings.push_back("this is not a full backup; files of the device may be missing");
  }
}

bool CBackupRecord::Load(const std::string& backupFolder) {
  folder = backupFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  displayName.clear();
  deviceName.clear();
  productType.clear();
  productVersion.clear();
  lastBackupDate.clear();
  serialNumber.clear();
  // Only a plain file: a FIFO would block and a link may point out of the backup.
  if (!IsPlainFileAt(fs::path(folder) / "Info.plist")) return false;

  tether::CPlist info;
  std::string name;
  const bool infoRead = info.ReadPlist((fs::path(folder) / "Info.plist").string()) != 0;
  if (infoRead && info.GetStringItem("Display Name", name)) {
    displayName = Bounded(name);
    deviceName = PlistString(info, "Device Name");
    productType = PlistString(info, "Product Type");
    productVersion = PlistString(info, "Product Version");
    std::string date;
    info.GetDateItem("Last Backup Date", date);
    lastBackupDate = Bounded(date);
    serialNumber = PlistString(info, "Serial Number");
  }

  encrypted = 0;
  tether::CPlist manifest;
  if (manifest.ReadPlist((fs::path(folder) / "Manifest.plist").string())) {
    encrypted = manifest.GetboolItem("IsEncrypted");
  }
  layout = DetectLayout();
  ReadStatus();
  if (!infoRead) {
    loadWarnings.insert(loadWarnings.begin(), "Info.plist cannot be read (damaged, too deeply nested or not a "
                                              "property list); the backup's name and device are unknown");
  }
  return true;
}

void CBackupRecord::SetError(ReaderError error, std::string text) {
  lastError = error;
  lastErrorText = std::move(text);
}

int CBackupRecord::OpenKeyBag() {
  keyBag.Clear();
  tether::CPlist manifest;
  if (!manifest.ReadPlist((fs::path(folder) / "Manifest.plist").string())) {
    SetError(ReaderError::NoKeyBag, "Manifest.plist is missing or cannot be read");
    return 0;
  }
  encrypted = manifest.GetboolItem("IsEncrypted");
  if (encrypted == 0) return 0;
  std::vector<std::uint8_t> bag;
  if (!manifest.GetDataItem("BackupKeyBag", bag) || bag.empty()) {
    SetError(ReaderError::NoKeyBag, "the backup is encrypted but Manifest.plist holds no key bag");
    return 0;
  }
  CBackupKeyBag::OpenResult result = CBackupKeyBag::OpenResult::Opened;
  if (derivedKey) {
    result = keyBag.OpenWithKey(bag.data(), bag.size(), *derivedKey);
  } else {
    FileKey key{};
    result = CBackupKeyBag::Derive(bag.data(), bag.size(), password, key, &stop);
    if (result == CBackupKeyBag::OpenResult::Opened) result = keyBag.OpenWithKey(bag.data(), bag.size(), key);
    if (result == CBackupKeyBag::OpenResult::Opened) derivedKey = key;
    crypto::SecureZero(key.data(), key.size());
  }
  switch (result) {
    case CBackupKeyBag::OpenResult::Opened:
      return 1;
    case CBackupKeyBag::OpenResult::WrongPassword:
      SetError(ReaderError::WrongPassword, derivedKey ? "the key does not open this backup"
                                                      : "the password does not open this backup");
      return -1;
    case CBackupKeyBag::OpenResult::Refused: {
      std::uint32_t rounds = 0;
      std::uint32_t stretch = 0;
      CBackupKeyBag::Rounds(bag.data(), bag.size(), rounds, stretch);
      SetError(ReaderError::NoKeyBag, "the key bag in Manifest.plist asks for " + std::to_string(rounds) + " and " +
                                          std::to_string(stretch) +
                                          " rounds of key derivation, far more than devices write; refused");
      return 0;
    }
    case CBackupKeyBag::OpenResult::Stopped:
      SetError(ReaderError::Stopped, "stopped while the password was being checked");
      return 0;
    case CBackupKeyBag::OpenResult::Malformed:
      break;
  }
  SetError(ReaderError::NoKeyBag, "the key bag in Manifest.plist is damaged");
  return 0;
}

bool CBackupRecord::ReadIndex(const MbdbProgress& onRecord) {
  index.clear();
  indexWarnings.clear();
  layout = DetectLayout();
  switch (layout) {
    case BackupLayout::Mbdb:
      return ReadMbdbIndex(onRecord);
    case BackupLayout::ManifestDb:
      return ReadManifestDbIndex(
          [this](CManifestRecord&& entry) {
            index.push_back(std::move(entry));
            return true;
          },
          onRecord);
    case BackupLayout::Unknown:
      break;
  }
  SetError(ReaderError::MissingIndex, "the backup has no file index (neither Manifest.mbdb nor Manifest.db)");
  return false;
}

bool CBackupRecord::StreamIndex(const ManifestRowSink& sink, const MbdbProgress& progress) {
  layout = DetectLayout();
  if (layout != BackupLayout::ManifestDb) {
    if (!ReadIndex(progress)) return false;
    for (const CManifestRecord& entry : index) {
      if (!sink(CManifestRecord(entry))) break;
    }
    return true;
  }
  index.clear();
  indexWarnings.clear();
  return ReadManifestDbIndex(sink, progress);
}

bool CBackupRecord::ReadMbdbIndex(const MbdbProgress& onRecord) {
  const fs::path mbdb = fs::path(folder) / kMbdbName;
  const MbdbResult result = ReadMbdbFile(mbdb.string(), index, onRecord);
  switch (result.status) {
    case MbdbStatus::Ok:
      return true;
    case MbdbStatus::Truncated:
      SetError(ReaderError::TruncatedIndex, "Manifest.mbdb is damaged at byte " +
                                                std::to_string(result.errorOffset) +
                                                "; the files listed before it were read");
      return true;
    case MbdbStatus::Stopped:
      SetError(ReaderError::Stopped, "stopped");
      return false;
    case MbdbStatus::NotAnIndex:
      SetError(ReaderError::BadIndex, "Manifest.mbdb is not a backup file index");
      return false;
    case MbdbStatus::Missing:
    case MbdbStatus::ReadError:
      break;
  }
  SetError(ReaderError::ReadFailed, "Manifest.mbdb cannot be read");
  return false;
}

std::string CBackupRecord::PlainManifestDb(std::string& copy) {
  const fs::path stored = fs::path(folder) / kManifestDbName;
  copy.clear();
  if (encrypted == 0) return stored.string();
  if (!keyBag.IsOpen() && OpenKeyBag() <= 0) return {};
  tether::CPlist manifest;
  std::vector<std::uint8_t> manifestKey;
  if (!manifest.ReadPlist((fs::path(folder) / "Manifest.plist").string()) ||
      !manifest.GetDataItem("ManifestKey", manifestKey)) {
    // Backups of iOS 10.0 and 10.1 encrypt the files but not their index.
    return stored.string();
  }
  if (manifestKey.size() != kManifestKeySize) {
    SetError(ReaderError::BadIndex, "the ManifestKey in Manifest.plist is damaged (" +
                                        std::to_string(manifestKey.size()) + " bytes, 44 expected)");
    return {};
  }
  FileKey key{};
  if (!keyBag.FileKeyFromIndexField(manifestKey, key)) {
    SetError(ReaderError::BadIndex, "the ManifestKey in Manifest.plist does not open with this backup's keys");
    return {};
  }
  copy = privateFolder.NewFilePath(kManifestDbName);
  const DecryptStatus status = copy.empty() ? DecryptStatus::CreateFailed
                                            : DecryptFile(stored.string(), copy, key, Padding::Keep);
  crypto::SecureZero(key.data(), key.size());
  if (status != DecryptStatus::Ok) {
    SetError(status == DecryptStatus::OpenFailed || status == DecryptStatus::ReadFailed ? ReaderError::ReadFailed
                                                                                         : ReaderError::WriteFailed,
             status == DecryptStatus::OpenFailed || status == DecryptStatus::ReadFailed
                 ? "Manifest.db cannot be read"
                 : "the decrypted Manifest.db cannot be written to the private folder");
    copy.clear();
    return {};
  }
  return copy;
}

bool CBackupRecord::ReadManifestDbIndex(const ManifestRowSink& sink, const MbdbProgress& onRecord) {
  std::string copy;
  const std::string path = PlainManifestDb(copy);
  if (path.empty()) return false;
  const ManifestDbResult result = ReadManifestDb(path, sink, onRecord);
  // Whether the bytes are SQLite's tells a wrong key from a damaged database; asked
  // before the decrypted copy goes.
  const bool sqliteBytes = result.status == ManifestDbStatus::NotAnIndex && StartsAsSqlite(path);
  // The decrypted index names every file of the phone: it goes as soon as it is read.
  const bool decrypted = !copy.empty();
  if (decrypted) {
    std::error_code ec;
    fs::remove(copy, ec);
  }
  if (result.skipped > 0) {
    indexWarnings.push_back(std::to_string(result.skipped) +
                            (result.skipped == 1 ? " row" : " rows") +
                            " of Manifest.db could not be read (no domain or path, or a damaged entry) and "
                            "were skipped");
  }
  switch (result.status) {
    case ManifestDbStatus::Ok:
      return true;
    case ManifestDbStatus::Damaged:
      SetError(ReaderError::TruncatedIndex, "Manifest.db is damaged after " + std::to_string(result.delivered) +
                                                " entries (" + result.detail +
                                                "); the files listed before it were read");
      return true;
    case ManifestDbStatus::Stopped:
      SetError(ReaderError::Stopped, "stopped");
      return false;
    case ManifestDbStatus::Missing:
      SetError(ReaderError::MissingIndex, "Manifest.db is missing or not a regular file");
      return false;
    case ManifestDbStatus::NotAnIndex:
      break;
  }
  const std::string detail = result.detail.empty() ? std::string() : " (" + result.detail + ")";
  if (decrypted && sqliteBytes) {
    SetError(ReaderError::BadIndex, "Manifest.db decrypts, but the database inside is damaged or is not a file "
                                    "index" + detail);
  } else if (decrypted) {
    SetError(ReaderError::BadIndex, "Manifest.db does not decrypt to a file index (the ManifestKey or the file "
                                    "is damaged)");
  } else if (!sqliteBytes) {
    SetError(ReaderError::BadIndex, encrypted == 0 ? "Manifest.db is not an SQLite file; it may be encrypted "
                                                     "although Manifest.plist says the backup is not"
                                                   : "Manifest.db is not an SQLite file");
  } else {
    SetError(ReaderError::BadIndex, "Manifest.db is not a backup file index" + detail);
  }
  return false;
}

bool CBackupRecord::EntryAgreesWithPlainBackup(const CManifestRecord& entry) const {
  return encrypted != 0 || !entry.IsRegularFile() || entry.EncryptionKey.size() != kManifestKeySize;
}

void CBackupRecord::SetPlainBackupDisagrees() {
  SetError(ReaderError::NoKeyBag,
           "the file index carries encryption keys, so this backup is encrypted, but Manifest.plist is "
           "missing or says it is not; its files cannot be decrypted");
}

bool CBackupRecord::StopRequested() const {
  if (stop.load() != 0) return true;
  while (pause.load() != 0) {
    if (stop.load() != 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return stop.load() != 0;
}

}  // namespace sieve
