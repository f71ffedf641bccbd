#include "sieve/itunes_backup_reader.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "sieve/backup/crypto.h"
#include "sieve/backup/file_decryptor.h"
#include "sieve/backup/stored_name.h"
#include "sieve/reader/backup_record.h"
#include "sieve/reader/category_table.h"
#include "sieve/reader/index_walk.h"
#include "sieve/reader/scan_driver.h"
#include "sieve/reader/text.h"

namespace sieve {
namespace fs = std::filesystem;

CItunesBackupReader::CItunesBackupReader() = default;
CItunesBackupReader::~CItunesBackupReader() = default;
CItunesBackupReader::CItunesBackupReader(CItunesBackupReader&&) noexcept = default;
CItunesBackupReader& CItunesBackupReader::operator=(CItunesBackupReader&&) noexcept = default;

CBackupRecord* CItunesBackupReader::At(int index) const {
  if (index < 0 || index >= count_) return nullptr;
  auto it = backups_.begin();
  std::advance(it, index);
  return it->second.get();
}

int CItunesBackupReader::GetItunesBackList(const char* folder) {
  if (folder == nullptr) return 1;
  std::error_code ec;
  std::vector<fs::path> candidates;
  // increment(ec), not a range-for: its ++ throws when the listing fails part-way.
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_directory(typeError)) candidates.push_back(it->path());
  }
  // Directory order differs between file systems; "first found" must not.
  std::sort(candidates.begin(), candidates.end());
  listingProblems_.clear();
  for (const fs::path& path : candidates) {
    if (ReadItunesbackFromPath(path.c_str()) >= 0) continue;
    std::error_code typeError;
    const bool looksLikeBackup = fs::exists(path / "Manifest.plist", typeError) ||
                                 fs::exists(path / "Manifest.db", typeError) ||
                                 fs::exists(path / "Manifest.mbdb", typeError);
    if (!looksLikeBackup) continue;
    const bool infoThere = fs::symlink_status(path / "Info.plist", typeError).type() != fs::file_type::not_found;
    listingProblems_.push_back(path.string() + (infoThere ? ": Info.plist is not a regular file"
                                                          : ": the folder has no Info.plist"));
  }
  return 1;
}

int CItunesBackupReader::ReadItunesbackFromPath(const char* folder) {
  if (folder == nullptr) return -1;
  auto record = std::make_unique<CBackupRecord>();
  if (!record->Load(folder)) return -1;
  const std::string key = record->Key();
  record->callback = callback_;
  record->callbackUser = callbackUser_;
  if (backups_.emplace(key, std::move(record)).second) ++count_;
  return static_cast<int>(std::distance(backups_.begin(), backups_.find(key)));
}

int CItunesBackupReader::GetBackuplistCount() const { return count_; }

namespace {

void CopyText(const CBackupRecord* record, std::string CBackupRecord::*member, char* out, std::size_t size) {
  if (record != nullptr) CopyToBuffer(record->*member, out, size);
}

std::string TextOf(const CBackupRecord* record, std::string CBackupRecord::*member) {
  return record != nullptr ? record->*member : std::string();
}

}  // namespace

void CItunesBackupReader::GetBackupNameAt(int index, char* out, std::size_t size) const {
  CopyText(At(index), &CBackupRecord::displayName, out, size);
}
void CItunesBackupReader::GetDeviceName(int index, char* out, std::size_t size) const {
  CopyText(At(index), &CBackupRecord::deviceName, out, size);
}
void CItunesBackupReader::GetDevice(int index, char* out, std::size_t size) const {
  CopyText(At(index), &CBackupRecord::productType, out, size);
}
void CItunesBackupReader::GetIosVersion(int index, char* out, std::size_t size) const {
  CopyText(At(index), &CBackupRecord::productVersion, out, size);
}
void CItunesBackupReader::GetBackTime(int index, char* out, std::size_t size) const {
  CopyText(At(index), &CBackupRecord::lastBackupDate, out, size);
}
void CItunesBackupReader::GetBackSeriousNumber(int index, char* out, std::size_t size) const {
  CopyText(At(index), &CBackupRecord::serialNumber, out, size);
}

int CItunesBackupReader::GetIsEncrypt(int index) const {
  const CBackupRecord* record = At(index);
  return record != nullptr ? record->encrypted : 0;
}

std::string CItunesBackupReader::BackupName(int i) const { return TextOf(At(i), &CBackupRecord::displayName); }
std::string CItunesBackupReader::DeviceName(int i) const { return TextOf(At(i), &CBackupRecord::deviceName); }
std::string CItunesBackupReader::ProductType(int i) const { return TextOf(At(i), &CBackupRecord::productType); }
std::string CItunesBackupReader::ProductVersion(int i) const {
  return TextOf(At(i), &CBackupRecord::productVersion);
}
std::string CItunesBackupReader::BackupTime(int i) const { return TextOf(At(i), &CBackupRecord::lastBackupDate); }
std::string CItunesBackupReader::SerialNumber(int i) const { return TextOf(At(i), &CBackupRecord::serialNumber); }
std::string CItunesBackupReader::BackupFolder(int i) const { return TextOf(At(i), &CBackupRecord::folder); }

void CItunesBackupReader::SetPassword(int index, const char* password) {
  SetPassword(index, std::string(password != nullptr ? password : ""));
}

void CItunesBackupReader::SetPassword(int index, const std::string& password) {
  CBackupRecord* record = At(index);
  if (record == nullptr) return;
  crypto::SecureZero(record->password.data(), record->password.size());
  record->password = password;
  if (record->derivedKey) crypto::SecureZero(record->derivedKey->data(), record->derivedKey->size());
  record->derivedKey.reset();
  record->keyBag.Clear();
}

int CItunesBackupReader::GetDerivedKey(int index, FileKey& out) const {
  const CBackupRecord* record = At(index);
  if (record == nullptr || !record->derivedKey || !record->keyBag.IsOpen()) return 0;
  out = *record->derivedKey;
  return 1;
}

void CItunesBackupReader::SetDerivedKey(int index, const FileKey& key) {
  CBackupRecord* record = At(index);
  if (record == nullptr) return;
  crypto::SecureZero(record->password.data(), record->password.size());
  record->password.clear();
  record->derivedKey = key;
  record->keyBag.Clear();
}

bool CItunesBackupReader::IndexNeedsPassword(int index) const {
  const CBackupRecord* record = At(index);
  return record != nullptr && record->encrypted != 0 && record->DetectLayout() == BackupLayout::ManifestDb;
}

BackupLayout CItunesBackupReader::Layout(int index) const {
  const CBackupRecord* record = At(index);
  return record != nullptr ? record->DetectLayout() : BackupLayout::Unknown;
}

std::vector<std::string> CItunesBackupReader::Warnings(int index) const {
  const CBackupRecord* record = At(index);
  if (record == nullptr) return {};
  std::vector<std::string> all = record->loadWarnings;
  all.insert(all.end(), record->indexWarnings.begin(), record->indexWarnings.end());
  for (const DatabaseProblem& problem : record->databaseProblems) all.push_back(DatabaseProblemText(problem));
  return all;
}

std::vector<DatabaseProblem> CItunesBackupReader::DatabaseProblems(int index) const {
  const CBackupRecord* record = At(index);
  return record == nullptr ? std::vector<DatabaseProblem>{} : record->databaseProblems;
}

std::string DatabaseProblemText(const DatabaseProblem& problem) {
  std::string text = problem.Name + (problem.Unreadable ? " could not be read" : " could be read only in part");
  if (problem.Code != 0) text += std::string(": ") + sqlite3_errstr(problem.Code);
  return text;
}

int CItunesBackupReader::CheckPassword(int index) {
  CBackupRecord* record = At(index);
  if (record == nullptr) return 0;
  // A stop asked for from here on cancels the derivation; one left from before does not.
  record->stop = 0;
  record->SetError(ReaderError::None, {});
  return record->OpenKeyBag();
}

void CItunesBackupReader::SetCallBack(RecordCallback callback, void* user) {
  callback_ = callback;
  callbackUser_ = user;
  for (auto& entry : backups_) {
    entry.second->callback = callback;
    entry.second->callbackUser = user;
  }
}

int CItunesBackupReader::ReadBackup(int index) {
  CBackupRecord* record = At(index);
  if (record == nullptr) return 0;
  return RunScan(*record);
}

float CItunesBackupReader::GetPrg(int index) const {
  const CBackupRecord* record = At(index);
  return record != nullptr ? record->progress.load() : 0.0f;
}

void CItunesBackupReader::SetPause(int index, int flag) {
  if (CBackupRecord* record = At(index)) record->pause = flag;
}

void CItunesBackupReader::SetStop(int index, int flag) {
  if (CBackupRecord* record = At(index)) record->stop = flag;
}

int CItunesBackupReader::DecrpytFile(int index, const char* in, const char* out, const unsigned char* key) {
  if (At(index) == nullptr || in == nullptr || out == nullptr || key == nullptr) return 0;
  FileKey fileKey{};
  std::copy(key, key + fileKey.size(), fileKey.begin());
  return DecryptFile(in, out, fileKey) == DecryptStatus::Ok ? 1 : 0;
}

namespace {

int WriteStoredFile(CBackupRecord& r, const StoredFile& file, const std::string& domain, const std::string& path,
                    const std::string& outPath);

std::string CategoriesOf(const CManifestRecord& entry, bool exists) {
  std::vector<RuleMatch> matches;
  MatchCategoryRules(entry, exists, matches);
  std::string names;
  for (const RuleMatch& match : matches) {
    const std::string name = SlotName(match.slot);
    if (names.find(name) != std::string::npos) continue;
    if (!names.empty()) names += ",";
    names += name;
  }
  return names;
}

}  // namespace

int CItunesBackupReader::ReadFileIndex(int index, std::vector<BackupFileEntry>& out) {
  out.clear();
  return ForEachFile(index, [&out](const BackupFileEntry& file) {
    out.push_back(file);
    return true;
  });
}

int CItunesBackupReader::ForEachFile(int index, const std::function<bool(const BackupFileEntry&)>& each) {
  CBackupRecord* record = At(index);
  if (record == nullptr) return 0;
  // Names, sizes and categories of the old index are not encrypted; the newer index of
  // an encrypted backup is, so listing it opens the key bag (the password is needed).
  record->SetError(ReaderError::None, {});
  if (record->encrypted != 0 && record->DetectLayout() == BackupLayout::ManifestDb && !record->keyBag.IsOpen()) {
    const int bag = record->OpenKeyBag();
    if (bag <= 0) return bag;
  }
  const StoredFileLocator locator(record->folder);
  bool stopped = false;
  const bool read = record->StreamIndex([&](CManifestRecord&& entry) {
    BackupFileEntry file;
    file.IsDirectory = entry.IsDirectory();
    file.StoredPath = file.IsDirectory ? std::string() : locator.Find(entry.StoredName);
    const bool exists = !file.StoredPath.empty();
    file.StoredName = exists ? fs::path(file.StoredPath).filename().string() : entry.StoredName;
    file.Category = CategoriesOf(entry, exists);
    file.Size = entry.Size;
    file.Mode = entry.Mode;
    file.ModifiedTime = entry.ModifiedTime;
    file.ProtectionClass = entry.ProtectionClass;
    file.HasKey = entry.EncryptionKey.size() >= 44;
    file.IndexKey = std::move(entry.EncryptionKey);
    file.Domain = std::move(entry.Domain);
    file.Path = std::move(entry.Path);
    file.LinkTarget = std::move(entry.LinkTarget);
    if (!each(file)) {
      stopped = true;
      return false;
    }
    return true;
  });
  if (!read && !(stopped && record->lastError == ReaderError::Stopped)) return 0;
  if (stopped) record->SetError(ReaderError::None, {});
  return 1;
}

int CItunesBackupReader::ExtractFile(int index, const std::string& domain, const std::string& path,
                                     const std::string& outPath) {
  CBackupRecord* record = At(index);
  if (record == nullptr) return 0;
  record->extractNote.clear();
  record->SetError(ReaderError::None, {});
  if (record->encrypted != 0 && !record->keyBag.IsOpen()) {
    const int bag = record->OpenKeyBag();
    if (bag <= 0) return bag;
  }
  // The index is streamed, not held: the last entry of the name counts, as the index's own
  // order would have it.
  std::optional<CManifestRecord> found;
  bool agrees = true;
  const bool read = record->StreamIndex([&](CManifestRecord&& entry) {
    if (!record->EntryAgreesWithPlainBackup(entry)) {
      agrees = false;
      return false;
    }
    if (entry.Domain == domain && entry.Path == path) found = std::move(entry);
    return true;
  });
  if (!agrees) {
    record->SetPlainBackupDisagrees();
    return 0;
  }
  if (!read) return 0;
  const IndexWalk walk(*record);
  if (!found || !walk.Exists(*found)) {
    record->SetError(ReaderError::FileNotFound, "no stored file for " + domain + " " + path);
    return 0;
  }
  return WriteStoredFile(*record, walk.StoredFileOf(*found), domain, path, outPath);
}

int CItunesBackupReader::ExtractEntry(int index, const BackupFileEntry& entry, const std::string& outPath) {
  CBackupRecord* record = At(index);
  if (record == nullptr) return 0;
  record->extractNote.clear();
  record->SetError(ReaderError::None, {});
  if (entry.IsDirectory || entry.StoredPath.empty()) {
    record->SetError(ReaderError::FileNotFound, "no stored file for " + entry.Domain + " " + entry.Path);
    return 0;
  }
  StoredFile file;
  file.path = entry.StoredPath;
  if (record->encrypted != 0) {
    if (!record->keyBag.IsOpen() && record->OpenKeyBag() <= 0) return 0;
    FileKey key{};
    if (record->keyBag.FileKeyFromIndexField(entry.IndexKey, key)) file.key = key;
    crypto::SecureZero(key.data(), key.size());
  }
  const int written = WriteStoredFile(*record, file, entry.Domain, entry.Path, outPath);
  if (file.key) crypto::SecureZero(file.key->data(), file.key->size());
  return written;
}

namespace {

// Writes the plain content of one stored file to outPath, decrypted with its key in an
// encrypted backup; 1 written, 0 failed with the record's error set.
int WriteStoredFile(CBackupRecord& r, const StoredFile& file, const std::string& domain, const std::string& path,
                    const std::string& outPath) {
  CBackupRecord* record = &r;
  if (record->encrypted != 0) {
    if (!file.key) {
      record->SetError(ReaderError::ReadFailed, "the key of " + path + " cannot be unwrapped");
      return 0;
    }
    DecryptNotes notes;
    const DecryptStatus status = DecryptFile(file.path, outPath, *file.key, Padding::RemoveWhenValid, &notes);
    if (notes.notWholeBlocks) {
      record->extractNote = domain + " " + path + ": the stored file is not whole cipher blocks; its end may be wrong";
    } else if (notes.noValidPadding) {
      record->extractNote = domain + " " + path + ": the stored file has no valid padding; it was written whole";
    }
    if (status == DecryptStatus::Ok) return 1;
    record->SetError(status == DecryptStatus::OpenFailed || status == DecryptStatus::ReadFailed
                         ? ReaderError::ReadFailed
                         : ReaderError::WriteFailed,
                     "cannot decrypt " + path + " to " + outPath);
    return 0;
  }
  std::error_code ec;
  fs::copy_file(file.path, outPath, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    record->SetError(ReaderError::WriteFailed, "cannot write " + outPath + ": " + ec.message());
    return 0;
  }
  return 1;
}

}  // namespace

std::string CItunesBackupReader::LastExtractNote(int index) const {
  const CBackupRecord* record = At(index);
  return record != nullptr ? record->extractNote : std::string();
}

ReaderError CItunesBackupReader::LastError(int index) const {
  const CBackupRecord* record = At(index);
  return record != nullptr ? record->lastError : ReaderError::None;
}

std::string CItunesBackupReader::LastErrorText(int index) const {
  const CBackupRecord* record = At(index);
  return record != nullptr ? record->lastErrorText : std::string();
}

std::string CItunesBackupReader::PrivateFolder(int index) const {
  const CBackupRecord* record = At(index);
  return record != nullptr ? record->privateFolder.Path() : std::string();
}

}  // namespace sieve
