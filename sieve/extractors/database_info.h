// The common base of the category extractors: the databases and files the index
// walk assigned to it, and the way to open a database safely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sieve/backup/category_rules.h"
#include "sieve/file_key.h"
#include "sieve/info_type.h"

namespace sieve {

class PrivateFolder;

// One stored file of the backup and, in an encrypted backup, its key.
struct StoredFile {
  std::string path;  // full path in the backup folder ("" when the index names no file)
  OptionalFileKey key;
  std::int64_t modifiedTime = 0;  // from the index entry, seconds since 1970; 0 when unknown
  bool IsSet() const { return !path.empty(); }
};

// A database with its write-ahead log and shared-memory companions, when the index has them.
struct DatabaseSource {
  StoredFile main;
  StoredFile wal;
  StoredFile shm;
  std::string name;  // domain and path in the backup, as a user would look for it
  bool IsSet() const { return main.IsSet(); }
};

// A file handed to an extractor by the index walk.
struct FileRegistration {
  RuleAction action = RuleAction::File;
  std::string group;
  std::string name;
  std::string domain;
  std::string devicePath;  // the path inside its domain, as the index holds it
  StoredFile file;
};

// What a scan shares with every extractor.
struct ScanContext {
  std::string backupFolder;
  std::string productVersion;
  PrivateFolder* privateFolder = nullptr;
  bool encrypted = false;
};

// Where a database can be opened: the stored file itself (read-only, immutable) or a
// private copy (decrypted, or placed beside its write-ahead log).
struct OpenableDatabase {
  std::string path;
  bool immutable = true;
  bool ok = false;
};

// The name of the contact a phone number or e-mail address belongs to; "" when none.
using ContactNameLookup = std::function<std::string(std::string_view address)>;

class CDatabaseInfo {
 public:
  CDatabaseInfo() = default;
  virtual ~CDatabaseInfo();
  CDatabaseInfo(const CDatabaseInfo&) = delete;
  CDatabaseInfo& operator=(const CDatabaseInfo&) = delete;

  // Fills the record lists; 0 on success, otherwise an SQLite result code.
  virtual int read(std::string backupFolder);

  // The index walk hands over databases and files of this category.
  virtual void SetDatabase(RuleAction role, const DatabaseSource& source);
  virtual void Register(const FileRegistration& file);

  // Records delivered for one record kind, in delivery order.
  virtual std::size_t RecordCount(_InfoType type) const;
  virtual void* RecordAt(_InfoType type, std::size_t index);

  // The address book answers name lookups for the other categories; the base knows no one.
  virtual std::string FindContactName(std::string_view address) const;
  // Called after read, before delivery, when the backup has an address book: categories
  // that show the other party's name fill it in. The base has no names to fill.
  virtual void FillContactNames(const ContactNameLookup& lookup);

  void SetContext(const ScanContext* context) { context_ = context; }

  // The backup's name for a file this extractor opened (a stored file or its private
  // copy), as damage reports name it; "" when it opened no such file.
  std::string DatabaseNameOf(std::string_view damageKey) const;

  DatabaseSource MainDatabase;
  DatabaseSource SecondDatabase;

 protected:
  // Makes the database openable without ever writing to the backup: an unencrypted
  // file without a write-ahead log opens in place; otherwise the file (decrypted with
  // its key) and its companions are copied into the private folder under copyName.
  // A database that cannot be made openable (missing, not decryptable) is reported as
  // unreadable to the thread's damage watch.
  OpenableDatabase PrepareDatabase(const DatabaseSource& source, std::string_view copyName) const;

  const ScanContext* context_ = nullptr;

 private:
  // Damage key of every file PrepareDatabase handed out, with the database's name.
  mutable std::vector<std::pair<std::string, std::string>> opened_;
  OpenableDatabase MakeOpenable(const DatabaseSource& source, std::string_view copyName) const;
};

}  // namespace sieve
