// The one class the library exports: lists iTunes-style backups, shows their
// properties, scans one and reports its records through a callback, and
// decrypts single stored files. Text in and out is UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sieve/file_key.h"
#include "sieve/info_type.h"

namespace sieve {

class CBackupRecord;

// Called once per record on the scanning thread. `record` points at the record
// structure of `type` (records.h); it stays valid until the next scan of the same
// backup or the reader's destruction, so receivers copy what they keep.
using RecordCallback = void (*)(void* record, _InfoType type, void* user);

// Why the last operation on a backup failed (or ReaderError::None).
enum class ReaderError {
  None,
  MissingFolder,    // the folder is not there
  NotABackup,       // no Info.plist
  MissingIndex,     // neither Manifest.mbdb nor Manifest.db
  BadIndex,         // the index file is not an index, or it cannot be decrypted
  TruncatedIndex,   // the index is damaged part-way; the entries before the damage were read
  NoKeyBag,         // encrypted, but Manifest.plist holds no usable key bag (or one we refuse)
  WrongPassword,
  FileNotFound,     // no such domain and path in the index, or its stored file is missing
  ReadFailed,
  WriteFailed,
  Stopped,
};

// How a backup keeps its file index: "Manifest.mbdb" (up to iOS 9) or the SQLite
// "Manifest.db" with stored files in two-digit sub-folders (iOS 10 and later).
enum class BackupLayout { Unknown, Mbdb, ManifestDb };

// One entry of a backup's file index, as the command line and the program list it.
struct BackupFileEntry {
  std::string Domain;
  std::string Path;
  std::string StoredName;    // as it is on disk, or the computed name when the file is missing
  std::string StoredPath;    // full path of the stored file, or "" when it is missing
  std::string LinkTarget;
  std::uint64_t Size = 0;
  std::uint16_t Mode = 0;
  std::uint32_t ModifiedTime = 0;  // seconds since 1970
  int ProtectionClass = 0;
  std::string Category;      // category names of the rules it matched, comma-separated, or ""
  bool IsDirectory = false;
  bool HasKey = false;
  // The index's wrapped key of the file, as stored (empty when none): ExtractEntry unwraps it,
  // so that a listing can be unpacked as it is read, without a second look-up.
  std::vector<std::uint8_t> IndexKey;
};

// A database the last scan could read only in part, or not at all.
struct DatabaseProblem {
  std::string Name;         // its domain and path in the backup
  bool Unreadable = false;  // nothing of it could be read (else: only in part)
  int Code = 0;             // SQLite's result when SQLite told, else 0
};

// One English line naming the database and what went wrong.
std::string DatabaseProblemText(const DatabaseProblem& problem);

class CItunesBackupReader {
 public:
  // Size of the text buffers of the classic getters; longer values are cut there.
  static constexpr std::size_t kTextBufferSize = 1024;

  CItunesBackupReader();
  ~CItunesBackupReader();
  // A reader owns its backups and their scan results; copies would share them.
  CItunesBackupReader(const CItunesBackupReader&) = delete;
  CItunesBackupReader& operator=(const CItunesBackupReader&) = delete;
  CItunesBackupReader(CItunesBackupReader&&) noexcept;
  CItunesBackupReader& operator=(CItunesBackupReader&&) noexcept;

  // Adds every backup folder found directly under `folder`. Always 1.
  int GetItunesBackList(const char* folder);
  // Adds one backup folder; returns its index, or -1 when it holds no Info.plist.
  int ReadItunesbackFromPath(const char* folder);
  int GetBackuplistCount() const;
  // Folders that GetItunesBackList passed over although they look like backups (they
  // hold a file index or Manifest.plist but no readable Info.plist), each as
  // "folder: reason", so that one damaged backup is named rather than silently missing.
  const std::vector<std::string>& ListingProblems() const { return listingProblems_; }

  // Getters copy into out (outSize bytes, cut at a character boundary, NUL-terminated);
  // an invalid index leaves out untouched.
  void GetBackupNameAt(int index, char* out, std::size_t outSize = kTextBufferSize) const;
  void GetDeviceName(int index, char* out, std::size_t outSize = kTextBufferSize) const;
  void GetDevice(int index, char* out, std::size_t outSize = kTextBufferSize) const;
  void GetIosVersion(int index, char* out, std::size_t outSize = kTextBufferSize) const;
  void GetBackTime(int index, char* out, std::size_t outSize = kTextBufferSize) const;
  void GetBackSeriousNumber(int index, char* out, std::size_t outSize = kTextBufferSize) const;
  int GetIsEncrypt(int index) const;
  BackupLayout Layout(int index) const;
  // What the user should know before trusting a scan: a backup that was not finished
  // or is not a full one (Status.plist), index rows that could not be read and were
  // skipped, databases the last scan could read only in part or not at all. Empty when
  // there is nothing to say.
  std::vector<std::string> Warnings(int index) const;
  // The databases of the last scan that were damaged or could not be read, in scan order.
  std::vector<DatabaseProblem> DatabaseProblems(int index) const;

  // The same values as strings ("" for an invalid index).
  std::string BackupName(int index) const;
  std::string DeviceName(int index) const;
  std::string ProductType(int index) const;
  std::string ProductVersion(int index) const;
  std::string BackupTime(int index) const;
  std::string SerialNumber(int index) const;
  std::string BackupFolder(int index) const;

  // The password's bytes are used as given, whatever their length.
  void SetPassword(int index, const char* password);
  void SetPassword(int index, const std::string& password);
  // 1 when the stored password opens the key bag, -1 when it is wrong, 0 when the
  // backup is not encrypted or has no usable key bag (see LastError). The slow key
  // derivation runs here, once: later scans and extractions reuse its key. SetStop from
  // another thread cancels it within milliseconds (0, LastError Stopped).
  int CheckPassword(int index);
  // The key derived from the password (it unwraps the class keys; as secret as the
  // password). 1 and `out` filled after CheckPassword or a scan opened the key bag, else 0.
  int GetDerivedKey(int index, FileKey& out) const;
  // Opens the backup with a key saved earlier instead of a password; CheckPassword then
  // answers -1 for a wrong key, without any derivation.
  void SetDerivedKey(int index, const FileKey& key);
  // True when the file index itself is encrypted (Manifest.db of an encrypted backup),
  // so listing the files needs the password too.
  bool IndexNeedsPassword(int index) const;

  // For every backup of the reader, also those added afterwards.
  void SetCallBack(RecordCallback callback, void* user);
  // Scans the backup: -1 wrong password; 1 stopped; otherwise 0. A scan that read what it
  // could names the databases it could not read in DatabaseProblems; one that could read
  // nothing at all (no index, no key bag, no database) says why in LastError.
  int ReadBackup(int index);
  float GetPrg(int index) const;
  void SetPause(int index, int flag);
  void SetStop(int index, int flag);

  // Decrypts one stored file with a record's key: 1 written, 0 failed.
  int DecrpytFile(int index, const char* in, const char* out, const unsigned char* key);

  // Reads the backup's file index: 1 read (possibly partly, see LastError), 0 failed,
  // -1 wrong password (an encrypted Manifest.db).
  int ReadFileIndex(int index, std::vector<BackupFileEntry>& out);
  // The same, one entry at a time in index order, without keeping the list; `each`
  // returning false ends the listing early (still 1).
  int ForEachFile(int index, const std::function<bool(const BackupFileEntry&)>& each);
  // Writes the plain content of one indexed file to outPath (decrypted when the
  // backup is encrypted): 1 written, 0 failed, -1 wrong password.
  int ExtractFile(int index, const std::string& domain, const std::string& path,
                  const std::string& outPath);

  // The same for an entry ForEachFile or ReadFileIndex gave, without looking it up in the
  // index again (so without holding the index): 1 written, 0 failed.
  int ExtractEntry(int index, const BackupFileEntry& entry, const std::string& outPath);

  // What the last ExtractFile noticed about a file it still wrote: a stored file whose
  // length is not whole blocks or whose padding is not valid. "" when nothing.
  std::string LastExtractNote(int index) const;

  ReaderError LastError(int index) const;
  std::string LastErrorText(int index) const;

  // The reader's private folder for decrypted copies and pictures (mode 0700),
  // created on first use and removed with the reader; "" before that.
  std::string PrivateFolder(int index) const;

 private:
  CBackupRecord* At(int index) const;

  std::map<std::string, std::unique_ptr<CBackupRecord>> backups_;
  int count_ = 0;
  std::vector<std::string> listingProblems_;
  RecordCallback callback_ = nullptr;
  void* callbackUser_ = nullptr;
};

}  // namespace sieve
