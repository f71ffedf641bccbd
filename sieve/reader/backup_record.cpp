#include "sieve/reader/backup_record.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "sieve/backup/crypto.h"
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

}  // namespace

CBackupRecord::~CBackupRecord() {
  extractors = {};
  lookup.reset();
  crypto::SecureZero(password.data(), password.size());
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
  std::error_code ec;
  if (!fs::is_regular_file(fs::path(folder) / "Info.plist", ec)) return false;

  tether::CPlist info;
  std::string name;
  if (info.ReadPlist((fs::path(folder) / "Info.plist").string()) && info.GetStringItem("Display Name", name)) {
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
  switch (keyBag.Open(bag.data(), bag.size(), password)) {
    case CBackupKeyBag::OpenResult::Opened:
      return 1;
    case CBackupKeyBag::OpenResult::WrongPassword:
      SetError(ReaderError::WrongPassword, "the password does not open this backup");
      return -1;
    case CBackupKeyBag::OpenResult::Malformed:
      break;
  }
  SetError(ReaderError::NoKeyBag, "the key bag in Manifest.plist is damaged");
  return 0;
}

const IndexWalk& CBackupRecord::Lookup() {
  if (!lookup) lookup = std::make_unique<IndexWalk>(*this);
  return *lookup;
}

bool CBackupRecord::ReadIndex(const MbdbProgress& onRecord) {
  lookup.reset();
  index.clear();
  const fs::path mbdb = fs::path(folder) / "Manifest.mbdb";
  std::error_code ec;
  if (!fs::exists(mbdb, ec)) {
    if (fs::exists(fs::path(folder) / "Manifest.db", ec)) {
      SetError(ReaderError::NewerIndex,
               "this backup keeps its file index in Manifest.db, a layout this version cannot read yet");
    } else {
      SetError(ReaderError::MissingIndex, "the backup has no Manifest.mbdb file index");
    }
    return false;
  }
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

bool CBackupRecord::StopRequested() const {
  if (stop.load() != 0) return true;
  while (pause.load() != 0) {
    if (stop.load() != 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return stop.load() != 0;
}

}  // namespace sieve
