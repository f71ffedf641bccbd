// What a recovery runs for one category: a self-contained copy of the checked
// items that writes its files without touching the view, so it can run on a
// thread of its own while the window goes on.
#pragma once

#include <QString>
#include <atomic>

#include "quarry/views/export_files.h"

namespace quarry::views {

class CategoryExport {
 public:
  virtual ~CategoryExport() = default;
  // The category's folder name below the recovery folder (already cleaned).
  virtual QString FolderName() const = 0;
  virtual qsizetype ItemCount() const = 0;
  // Writes the items below `recoveryFolder`; gives up between files once
  // `cancel` is set. Every file written, skipped or failed goes into `report`.
  virtual void RecoverTo(const QString& recoveryFolder, const std::atomic<bool>& cancel,
                         ExportReport& report) const = 0;
};

}  // namespace quarry::views
