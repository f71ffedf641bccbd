#include "quarry/views/recovery_run.h"

#include <QDir>
#include <QFileInfo>

#include "quarry/views/export_text.h"

namespace quarry::views {

QString CreateRecoveryFolder(const QString& root, const QString& displayName, const QString& serial,
                             const QDateTime& start, QString* error) {
  const QString name = CleanFileName(displayName, CleanFileName(serial, QStringLiteral("Backup")));
  const QString backupFolder = QDir(root).filePath(name);
  if (!QDir().mkpath(backupFolder)) {
    if (error) *error = QStringLiteral("%1: the folder cannot be created").arg(QDir::toNativeSeparators(backupFolder));
    return {};
  }
  const QDir parent(backupFolder);
  const QString stamp = start.toString(QStringLiteral("yyyy-MM-dd HH_mm_ss"));
  for (int n = 1; n < 10000; ++n) {
    const QString candidate = n == 1 ? stamp : QStringLiteral("%1 (%2)").arg(stamp).arg(n);
    // mkdir fails on an existing folder, so an earlier recovery is never reused.
    if (parent.mkdir(candidate)) return parent.filePath(candidate);
    if (!QFileInfo::exists(parent.filePath(candidate)) && !QFileInfo(parent.filePath(candidate)).isSymLink()) {
      if (error) *error = QStringLiteral("%1: the folder cannot be created").arg(QDir::toNativeSeparators(parent.filePath(candidate)));
      return {};
    }
  }
  if (error) *error = QStringLiteral("%1: too many recoveries in one second").arg(QDir::toNativeSeparators(backupFolder));
  return {};
}

RecoveryRun::RecoveryRun(QString folder, std::vector<std::unique_ptr<CategoryExport>> exports)
    : folder_(std::move(folder)), exports_(std::move(exports)) {}

RecoverySummary RecoveryRun::Run() {
  RecoverySummary summary;
  summary.Folder = folder_;
  const std::size_t n = exports_.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (cancel_) break;
    percent_ = static_cast<int>(i * 100 / n);
    exports_[i]->RecoverTo(folder_, cancel_, summary.Report);
  }
  summary.Cancelled = cancel_;
  if (!summary.Cancelled) percent_ = 100;
  return summary;
}

}  // namespace quarry::views
