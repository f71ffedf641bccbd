#include "quarry/views/attachments_export.h"

#include <QDir>

namespace quarry::views {

AttachmentsExport::AttachmentsExport(QString folderName, std::vector<AttachmentItem> items, const ViewContext& context)
    : folderName_(std::move(folderName)),
      items_(std::move(items)),
      files_(context.files ? context.files : PlainFileSource()) {}

void AttachmentsExport::RecoverTo(const QString& recoveryFolder, const std::atomic<bool>& cancel,
                                  ExportReport& report) const {
  const QString folder = QDir(recoveryFolder).filePath(folderName_);
  if (items_.empty() || !MakeFolder(folder, report)) return;
  for (const AttachmentItem& item : items_) {
    if (cancel) return;
    files_->CopyTo(item.StoredPath, item.Key, NumberedFilePath(folder, item.Name), item.ModifiedTime, report);
  }
}

}  // namespace quarry::views
