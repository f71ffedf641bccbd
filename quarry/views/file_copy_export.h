// The export of views whose items are files of the backup (voice memos, pictures,
// videos, documents, music): the checked files copied (decrypted where the backup
// is encrypted) into the category's folder under their own names, made unique by
// "_" and a counter before the extension, with their modification times, and a
// CSV list of what was exported.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "quarry/views/category_export.h"
#include "quarry/views/file_source.h"
#include "sieve/file_key.h"

namespace quarry::views {

struct ExportedFile {
  QString Name;         // the name the file gets (cleaned when written)
  QString Group;        // the app, album or date group it is listed under
  QString Date;
  qint64 Size = 0;
  bool Deleted = false;
  std::string Source;   // the stored file (or a readable copy when Key is empty)
  sieve::OptionalFileKey Key;
  std::int64_t ModifiedTime = 0;  // 0: unknown, the copy keeps the time it is written
};

class FileCopyExport : public CategoryExport {
 public:
  // `folderName` is the category's name in the window's language; `source` reads
  // the backup's files (null: as they are).
  FileCopyExport(QString folderName, std::vector<ExportedFile> files, std::shared_ptr<const FileSource> source);

  QString FolderName() const override { return folderName_; }
  qsizetype ItemCount() const override { return static_cast<qsizetype>(files_.size()); }
  void RecoverTo(const QString& recoveryFolder, const std::atomic<bool>& cancel,
                 ExportReport& report) const override;

  static QStringList CsvHeaders();
  // `exportedNames` parallel to the files: the written file's name, "" when it was not.
  QString CsvText(const QStringList& exportedNames) const;

 private:
  QString folderName_;
  std::vector<ExportedFile> files_;
  std::shared_ptr<const FileSource> source_;
};

}  // namespace quarry::views
