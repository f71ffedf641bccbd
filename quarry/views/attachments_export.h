// Copies checked attachment files into the category's folder: decrypted in an
// encrypted backup, under their own cleaned names ("_1", "_2"... before the
// extension when a name is taken), with their modification time when known.
#pragma once

#include <memory>
#include <vector>

#include "quarry/views/attachment_models.h"
#include "quarry/views/category_export.h"

namespace quarry::views {

class AttachmentsExport : public CategoryExport {
 public:
  AttachmentsExport(QString folderName, std::vector<AttachmentItem> items, const ViewContext& context);

  QString FolderName() const override { return folderName_; }
  qsizetype ItemCount() const override { return static_cast<qsizetype>(items_.size()); }
  void RecoverTo(const QString& recoveryFolder, const std::atomic<bool>& cancel,
                 ExportReport& report) const override;

 private:
  QString folderName_;
  std::vector<AttachmentItem> items_;
  std::shared_ptr<const FileSource> files_;
};

}  // namespace quarry::views
