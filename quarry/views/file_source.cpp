#include "quarry/views/file_source.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <map>
#include <mutex>

#include "sieve/itunes_backup_reader.h"
#include "sieve/private_folder.h"

namespace quarry::views {

namespace {

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

void SetModifiedTime(const QString& path, std::int64_t modifiedTime) {
  if (modifiedTime <= 0) return;
  QFile file(path);
  // Read-write open is what setFileTime needs on some platforms; the content is not touched.
  if (file.open(QIODevice::ReadWrite)) {
    file.setFileTime(QDateTime::fromSecsSinceEpoch(modifiedTime), QFileDevice::FileModificationTime);
  }
}

class ReaderFileSource : public FileSource {
 public:
  ReaderFileSource(sieve::CItunesBackupReader& reader, int index, std::shared_ptr<const void> owner)
      : owner_(std::move(owner)), reader_(reader), index_(index) {}

  QString ReadablePath(const std::string& storedPath, const sieve::OptionalFileKey& key) const override {
    if (!key) return FileSource::ReadablePath(storedPath, key);
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto known = copies_.find(storedPath);
    if (known != copies_.end()) return known->second;
    QString copy;
    const std::size_t slash = storedPath.find_last_of('/');
    const std::string name = slash == std::string::npos ? storedPath : storedPath.substr(slash + 1);
    const std::string target = folder_.NewFilePath(name);
    if (!target.empty() && Decrypt(storedPath, *key, FromUtf8(target))) copy = FromUtf8(target);
    copies_.emplace(storedPath, copy);
    return copy;
  }

 protected:
  bool Decrypt(const std::string& storedPath, const sieve::FileKey& key, const QString& target) const override {
    const std::lock_guard<std::mutex> lock(decryptMutex_);
    return reader_.DecrpytFile(index_, storedPath.c_str(), target.toUtf8().constData(), key.data()) == 1;
  }

 private:
  std::shared_ptr<const void> owner_;  // keeps reader_ alive when set
  sieve::CItunesBackupReader& reader_;
  const int index_;
  mutable std::mutex mutex_;         // guards the copies and the folder
  mutable std::mutex decryptMutex_;  // the reader decrypts one file at a time
  mutable sieve::PrivateFolder folder_;
  mutable std::map<std::string, QString> copies_;
};

}  // namespace

bool FileSource::CopyTo(const std::string& storedPath, const sieve::OptionalFileKey& key, const QString& target,
                        std::int64_t modifiedTime, ExportReport& report) const {
  const QString source = FromUtf8(storedPath);
  if (storedPath.empty() || !QFileInfo(source).isFile()) {
    report.Skipped.append(QStringLiteral("%1: not in the backup").arg(QDir::toNativeSeparators(target)));
    return false;
  }
  bool written = false;
  if (key) {
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
      report.Failed.append(QStringLiteral("%1: exists already").arg(QDir::toNativeSeparators(target)));
      return false;
    }
    written = Decrypt(storedPath, *key, target);
    if (written) {
      report.Written.append(target);
    } else {
      QFile::remove(target);  // nothing that looks complete
      report.Failed.append(QStringLiteral("%1: cannot be decrypted").arg(QDir::toNativeSeparators(target)));
    }
  } else {
    written = CopyIntoExport(source, target, report);
  }
  if (written) SetModifiedTime(target, modifiedTime);
  return written;
}

QString FileSource::ReadablePath(const std::string& storedPath, const sieve::OptionalFileKey& key) const {
  if (key || storedPath.empty()) return {};
  return FromUtf8(storedPath);
}

bool FileSource::Decrypt(const std::string&, const sieve::FileKey&, const QString&) const { return false; }

void FileSource::NoteStoredFile(const std::string& storedPath, StoredFileNote note) const {
  if (storedPath.empty()) return;
  const std::lock_guard<std::mutex> lock(notesMutex_);
  notes_.insert_or_assign(storedPath, std::move(note));
}

std::optional<StoredFileNote> FileSource::NotedFile(const std::string& storedPath) const {
  const std::lock_guard<std::mutex> lock(notesMutex_);
  const auto found = notes_.find(storedPath);
  if (found == notes_.end()) return std::nullopt;
  return found->second;
}

void FileSourceSlot::Set(std::shared_ptr<const FileSource> source) {
  const std::lock_guard<std::mutex> lock(mutex_);
  source_ = std::move(source);
}

std::shared_ptr<const FileSource> FileSourceSlot::Current() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return source_ ? source_ : PlainFileSource();
}

bool FileSourceSlot::CopyTo(const std::string& storedPath, const sieve::OptionalFileKey& key, const QString& target,
                            std::int64_t modifiedTime, ExportReport& report) const {
  return Current()->CopyTo(storedPath, key, target, modifiedTime, report);
}

QString FileSourceSlot::ReadablePath(const std::string& storedPath, const sieve::OptionalFileKey& key) const {
  return Current()->ReadablePath(storedPath, key);
}

void FileSourceSlot::NoteStoredFile(const std::string& storedPath, StoredFileNote note) const {
  Current()->NoteStoredFile(storedPath, std::move(note));
}

std::optional<StoredFileNote> FileSourceSlot::NotedFile(const std::string& storedPath) const {
  return Current()->NotedFile(storedPath);
}

std::shared_ptr<const FileSource> MakeReaderFileSource(sieve::CItunesBackupReader& reader, int index,
                                                      std::shared_ptr<const void> owner) {
  return std::make_shared<ReaderFileSource>(reader, index, std::move(owner));
}

std::shared_ptr<const FileSource> PlainFileSource() {
  static const auto plain = std::make_shared<const FileSource>();
  return plain;
}

}  // namespace quarry::views
