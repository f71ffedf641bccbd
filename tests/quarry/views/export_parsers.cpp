#include "export_parsers.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

namespace quarry::views::test {

std::vector<QStringList> ReadCsv(const QString& input) {
  const QString text = input.startsWith(QChar(0xFEFF)) ? input.mid(1) : input;
  std::vector<QStringList> records;
  QStringList record;
  QString field;
  bool quoted = false;
  bool any = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    any = true;
    if (quoted) {
      if (c == QLatin1Char('"')) {
        if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
          field += c;
          ++i;
        } else {
          quoted = false;
        }
      } else {
        field += c;
      }
    } else if (c == QLatin1Char('"')) {
      quoted = true;
    } else if (c == QLatin1Char(',')) {
      record.append(field);
      field.clear();
    } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) {
      record.append(field);
      records.push_back(record);
      record.clear();
      field.clear();
      any = false;
      ++i;
    } else {
      field += c;
    }
  }
  if (any) {
    record.append(field);
    records.push_back(record);
  }
  return records;
}

QString VCardUnescape(const QString& value) {
  QString out;
  for (qsizetype i = 0; i < value.size(); ++i) {
    if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
      const QChar next = value[++i];
      out += (next == QLatin1Char('n') || next == QLatin1Char('N')) ? QChar('\n') : next;
    } else {
      out += value[i];
    }
  }
  return out;
}

QStringList VCardComponents(const QString& value) {
  QStringList parts;
  QString current;
  for (qsizetype i = 0; i < value.size(); ++i) {
    if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
      current += value[i];
      current += value[++i];
    } else if (value[i] == QLatin1Char(';')) {
      parts.append(VCardUnescape(current));
      current.clear();
    } else {
      current += value[i];
    }
  }
  parts.append(VCardUnescape(current));
  return parts;
}

QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

std::map<std::string, QByteArray> FilesBelow(const QString& folder) {
  std::map<std::string, QByteArray> files;
  const QDir root(folder);
  QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    files[root.relativeFilePath(path).toStdString()] = ReadBytes(path);
  }
  return files;
}

QString OnlyRecoveryFolder(const QString& root, const QString& backupName) {
  const QDir backup(QDir(root).filePath(backupName));
  const QStringList runs = backup.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  return runs.size() == 1 ? backup.filePath(runs[0]) : QString();
}

}  // namespace quarry::views::test
