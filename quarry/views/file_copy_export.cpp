#include "quarry/views/file_copy_export.h"

#include <QDir>
#include <QFileInfo>

#include "quarry/views/export_files.h"
#include "quarry/views/export_text.h"

namespace quarry::views {

FileCopyExport::FileCopyExport(QString folderName, std::vector<ExportedFile> files,
                               std::shared_ptr<const FileSource> source)
    : folderName_(CleanFileName(folderName)), files_(std::move(files)), source_(std::move(source)) {
  if (!source_) source_ = PlainFileSource();
}

void FileCopyExport::RecoverTo(const QString& recoveryFolder, const std::atomic<bool>& cancel,
                               ExportReport& report) const {
  const QString folder = QDir(recoveryFolder).filePath(folderName_);
  if (!MakeFolder(folder, report)) return;
  QStringList exported;
  for (const ExportedFile& file : files_) {
    if (cancel) break;
    const QString target = NumberedFilePath(folder, CleanFileName(file.Name));
    const bool copied = source_->CopyTo(file.Source, file.Key, target, file.ModifiedTime, report);
    exported.append(copied ? QFileInfo(target).fileName() : QString());
  }
  // The list says what was found and what became of it, also after a cancel.
  while (exported.size() < static_cast<qsizetype>(files_.size())) exported.append(QString());
  WriteUtf8File(NumberedFilePath(folder, folderName_ + QStringLiteral(".csv")), CsvText(exported), report);
}

QStringList FileCopyExport::CsvHeaders() {
  // English in every language, for the scripts and spreadsheets that read the list.
  return {QStringLiteral("Name"), QStringLiteral("Group"),   QStringLiteral("Date"),
          QStringLiteral("Size"), QStringLiteral("Deleted"), QStringLiteral("Exported file")};
}

QString FileCopyExport::CsvText(const QStringList& exportedNames) const {
  QString csv = CsvLine(CsvHeaders());
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const ExportedFile& f = files_[i];
    csv += CsvLine({f.Name, f.Group, f.Date, QString::number(f.Size),
                    f.Deleted ? QStringLiteral("1") : QStringLiteral("0"),
                    exportedNames.value(static_cast<qsizetype>(i))});
  }
  return csv;
}

}  // namespace quarry::views
