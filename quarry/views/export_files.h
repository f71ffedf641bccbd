// Writing export files: UTF-8 with a byte-order mark, names that never replace
// an existing file, and a tally of what was written, skipped or failed.
#pragma once

#include <QString>
#include <QStringList>

namespace quarry::views {

// What one recovery wrote. Failed entries name the file and the reason.
struct ExportReport {
  QStringList Written;
  QStringList Skipped;
  QStringList Failed;

  void Append(const ExportReport& other);
};

// dir/base+extension, or dir/"base (2)"+extension, "base (3)"... the first
// that does not exist yet. `extension` includes its dot (or is empty).
QString UniqueFilePath(const QString& dir, const QString& base, const QString& extension);

// dir/fileName, or with "_1", "_2"... put before the extension ("a.jpg", "a_1.jpg"), the
// first that does not exist yet: copied files keep names their programs know.
QString NumberedFilePath(const QString& dir, const QString& fileName);

// Creates the folder (and its parents); a failure is recorded in `report`.
bool MakeFolder(const QString& path, ExportReport& report);

// Spreadsheets need the byte-order mark to read a file as UTF-8; vCard readers fail on it.
enum class ByteOrderMark { With, Without };

// Creates `path` (which must not exist yet) holding the UTF-8 of `text`, after the bytes
// EF BB BF unless told otherwise. Records the outcome in `report`.
bool WriteUtf8File(const QString& path, const QString& text, ExportReport& report,
                   ByteOrderMark mark = ByteOrderMark::With);
// The same for raw bytes, without a byte-order mark.
bool WriteBinaryFile(const QString& path, const QByteArray& bytes, ExportReport& report);

// Copies `source` to `target` (which must not exist yet). A missing source is
// recorded as skipped, a failed write as failed.
bool CopyIntoExport(const QString& source, const QString& target, ExportReport& report);

}  // namespace quarry::views
