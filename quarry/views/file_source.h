// Where the views get the content of a backup's stored files: as they are for a
// plain backup, decrypted with the record's key for an encrypted one. Exports copy
// through it (never the ciphertext), thumbnails and previews read through it.
#pragma once

#include <QString>
#include <memory>
#include <mutex>
#include <string>

#include "quarry/views/export_files.h"
#include "sieve/file_key.h"

namespace sieve {
class CItunesBackupReader;
}

namespace quarry::views {

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

 protected:
  // Decrypts `storedPath` with `key` into `target`; the plain source cannot.
  virtual bool Decrypt(const std::string& storedPath, const sieve::FileKey& key, const QString& target) const;
};

// A source that forwards to another one, set and changed later: the program's models
// live longer than one scan, and each scan brings its backup's source.
class FileSourceSlot : public FileSource {
 public:
  void Set(std::shared_ptr<const FileSource> source);
  bool CopyTo(const std::string& storedPath, const sieve::OptionalFileKey& key, const QString& target,
              std::int64_t modifiedTime, ExportReport& report) const override;
  QString ReadablePath(const std::string& storedPath, const sieve::OptionalFileKey& key) const override;

 private:
  std::shared_ptr<const FileSource> Current() const;

  mutable std::mutex mutex_;
  std::shared_ptr<const FileSource> source_;
};

// The stored files of one backup of a reader; decrypts with the reader. The reader
// must outlive the source and must not scan while the source decrypts.
std::shared_ptr<const FileSource> MakeReaderFileSource(sieve::CItunesBackupReader& reader, int index);

// Stored files read as they are (plain backups, tests).
std::shared_ptr<const FileSource> PlainFileSource();

}  // namespace quarry::views
