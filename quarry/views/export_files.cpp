#include "quarry/views/export_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quarry::views {

void ExportReport::Append(const ExportReport& other) {
  Written += other.Written;
  Skipped += other.Skipped;
  Failed += other.Failed;
}

QString UniqueFilePath(const QString& dir, const QString& base, const QString& extension) {
  const QDir folder(dir);
  QString candidate = folder.filePath(base + extension);
  for (int n = 2; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n) {
    candidate = folder.filePath(QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(extension));
  }
  return candidate;
}

QString NumberedFilePath(const QString& dir, const QString& fileName) {
  const QDir folder(dir);
  // A leading dot is part of the name, not an extension.
  const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
  const QString base = dot > 0 ? fileName.left(dot) : fileName;
  const QString extension = dot > 0 ? fileName.mid(dot) : QString();
  QString candidate = folder.filePath(fileName);
  for (int n = 1; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n) {
    // Joined, not arg()-formatted: a name holding "%2" must stay as it is.
    candidate = folder.filePath(base + QLatin1Char('_') + QString::number(n) + extension);
  }
  return candidate;
}

bool MakeFolder(const QString& path, ExportReport& report) {
  if (QDir().mkpath(path)) return true;
  report.Failed.append(QStringLiteral("%1: the folder cannot be created").arg(QDir::toNativeSeparators(path)));
  return false;
}

bool WriteBinaryFile(const QString& path, const QByteArray& bytes, ExportReport& report) {
  QFile file(path);
  // NewOnly: an earlier file of the same name is never replaced.
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
    report.Failed.append(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    return false;
  }
  const bool wrote = file.write(bytes) == bytes.size() && file.flush();
  const QString error = file.errorString();
  file.close();
  if (!wrote || file.error() != QFileDevice::NoError) {
    report.Failed.append(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), error));
    file.remove();
    return false;
  }
  report.Written.append(path);
  return true;
}

bool WriteUtf8File(const QString& path, const QString& text, ExportReport& report, ByteOrderMark mark) {
  QByteArray bytes = mark == ByteOrderMark::With ? QByteArray("\xEF\xBB\xBF") : QByteArray();
  bytes += text.toUtf8();
  return WriteBinaryFile(path, bytes, report);
}

bool CopyIntoExport(const QString& source, const QString& target, ExportReport& report) {
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly)) {
    report.Skipped.append(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(source), in.errorString()));
    return false;
  }
  QFile out(target);
  if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
    report.Failed.append(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(target), out.errorString()));
    return false;
  }
  // In pieces: a video of a few GB must not be held in memory.
  constexpr qint64 kChunk = 1 << 20;
  QByteArray chunk;
  bool ok = true;
  while (ok && !in.atEnd()) {
    chunk = in.read(kChunk);
    ok = !chunk.isEmpty() && out.write(chunk) == chunk.size();
  }
  ok = ok && in.error() == QFileDevice::NoError && out.flush();
  const QString error = in.error() != QFileDevice::NoError ? in.errorString() : out.errorString();
  out.close();
  if (!ok || out.error() != QFileDevice::NoError) {
    report.Failed.append(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(target), error));
    out.remove();  // nothing that looks complete
    return false;
  }
  report.Written.append(target);
  return true;
}

}  // namespace quarry::views
