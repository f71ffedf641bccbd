// Where the views get the content of a backup's stored files: as they are for a
// plain backup, decrypted with the record's key for an encrypted one. Exports copy
// through it (never the ciphertext), thumbnails and previews read through it.
#pragma once

#include <QString>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "quarry/views/export_files.h"
#include "sieve/file_key.h"

namespace sieve {
class CItunesBackupReader;
}

namespace quarry::views {

// What a record said about a stored file: its own name and the key that opens it.
struct StoredFileNote {
  std::string name;
  sieve::OptionalFileKey key;
};

class FileSource {
 public:
  virtual ~FileSource() = default;

  // Writes the readable content of `storedPath` to `target`, which must not exist yet,
  // and gives it `modifiedTime` (seconds since 1970) when that is not 0. A missing
  // source is recorded as skipped, a failure as failed, in `report`.
  virtual bool CopyTo(const std::string& storedPath, const sieve::OptionalFileKey& key, const QString& target,
                      std::int64_t modifiedTime, ExportReport& report) const;
  // A path whose content can be read as it is: the stored file itself when it has no
  // key, else a decrypted copy in a private folder (made once, removed with the source).
  // "" when it cannot be had.
  virtual QString ReadablePath(const std::string& storedPath, const sieve::OptionalFileKey& key) const;

  // Some records name a stored file without its key or name (a message naming its
  // attachment); the record that carries them (the attachment) leaves them here so
  // that the other can still read the file. Any thread.
  virtual void NoteStoredFile(const std::string& storedPath, StoredFileNote note) const;
  virtual std::optional<StoredFileNote> NotedFile(const std::string& storedPath) const;

 protected:
  // Decrypts `storedPath` with `key` into `target`; the plain source cannot.
  virtual bool Decrypt(const std::string& storedPath, const sieve::FileKey& key, const QString& target) const;

 private:
  mutable std::mutex notesMutex_;
  mutable std::map<std::string, StoredFileNote> notes_;
};

// A source that forwards to another one, set and changed later: the program's models
// live longer than one scan, and each scan brings its backup's source.
class FileSourceSlot : public FileSource {
 public:
  void Set(std::shared_ptr<const FileSource> source);
  bool CopyTo(const std::string& storedPath, const sieve::OptionalFileKey& key, const QString& target,
              std::int64_t modifiedTime, ExportReport& report) const override;
  QString ReadablePath(const std::string& storedPath, const sieve::OptionalFileKey& key) const override;
  void NoteStoredFile(const std::string& storedPath, StoredFileNote note) const override;
  std::optional<StoredFileNote> NotedFile(const std::string& storedPath) const override;

 private:
  std::shared_ptr<const FileSource> Current() const;

  mutable std::mutex mutex_;
  std::shared_ptr<const FileSource> source_;
};

// The stored files of one backup of a reader; decrypts with the reader, which must
// outlive the source unless `owner` (held by the source) keeps it alive. Decrypting one file needs only the record's own key and the
// reader's list of backups, so it may run while that reader scans (thumbnails do).
std::shared_ptr<const FileSource> MakeReaderFileSource(sieve::CItunesBackupReader& reader, int index,
                                                      std::shared_ptr<const void> owner = {});

// Stored files read as they are (plain backups, tests).
std::shared_ptr<const FileSource> PlainFileSource();

}  // namespace quarry::views
