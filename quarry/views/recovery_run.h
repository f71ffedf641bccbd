// One recovery: the time-stamped folder it writes into, and the run of every
// category's export over copies of the checked items, with progress and cancel.
#pragma once

#include <QDateTime>
#include <QString>
#include <atomic>
#include <memory>
#include <vector>

#include "quarry/views/category_export.h"
#include "quarry/views/export_files.h"

namespace quarry::views {

// Creates root / backup name / start time ("yyyy-MM-dd HH_mm_ss", with " (2)"...
// when a recovery of that second exists already) and returns it; "" and
// `error` set when it cannot be made. The backup name is the display name
// cleaned like a file name; an empty, "." or ".." name falls back to the serial.
QString CreateRecoveryFolder(const QString& root, const QString& displayName, const QString& serial,
                             const QDateTime& start, QString* error = nullptr);

struct RecoverySummary {
  QString Folder;
  ExportReport Report;
  bool Cancelled = false;
};

class RecoveryRun {
 public:
  RecoveryRun(QString folder, std::vector<std::unique_ptr<CategoryExport>> exports);

  // Runs the exports in order on the calling thread.
  RecoverySummary Run();

  // Any thread.
  void Cancel() { cancel_ = true; }
  int Percent() const { return percent_; }

 private:
  QString folder_;
  std::vector<std::unique_ptr<CategoryExport>> exports_;
  std::atomic<bool> cancel_{false};
  std::atomic<int> percent_{0};
};

}  // namespace quarry::views
