// Independent readers of the exported files, so that tests compare what a
// reader of the format sees with what went in.
#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <ostream>
#include <string>
#include <vector>

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline QString Q(const std::string& s) { return QString::fromStdString(s); }

namespace quarry::views::test {

// RFC 4180 records; a leading byte-order mark is dropped.
std::vector<QStringList> ReadCsv(const QString& text);

// Undoes the escaping of a text value.
QString VCardUnescape(const QString& value);
// Splits a structured value at unescaped semicolons and unescapes each part.
QStringList VCardComponents(const QString& value);

QByteArray ReadBytes(const QString& path);

// Every file below `folder`: its path relative to it ('/'-separated) and its bytes,
// so that two recoveries compare file by file.
std::map<std::string, QByteArray> FilesBelow(const QString& folder);

// The single time-stamped folder a recovery made below root/backupName, or "".
QString OnlyRecoveryFolder(const QString& root, const QString& backupName);

}  // namespace quarry::views::test
