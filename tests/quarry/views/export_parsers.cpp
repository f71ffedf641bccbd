#include "export_parsers.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QXmlStreamReader>
#include <algorithm>

namespace quarry::views::test {

namespace {

QString WithoutBom(QString text) {
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  return text;
}

}  // namespace

std::vector<QStringList> ReadCsv(const QString& input) {
  const QString text = WithoutBom(input);
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

QStringList VCard::Values(const QString& property) const {
  QStringList values = Properties.values(property);
  std::reverse(values.begin(), values.end());  // QMultiMap keeps the newest first
  return values;
}

std::vector<VCard> ReadVCards(const QString& input) {
  QString text = WithoutBom(input);
  text.replace(QStringLiteral("\r\n "), QString());
  text.replace(QStringLiteral("\r\n\t"), QString());
  std::vector<VCard> cards;
  for (const QString& line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
    const qsizetype colon = line.indexOf(QLatin1Char(':'));
    if (colon < 0) continue;
    const QString name = line.left(colon);
    const QString value = line.mid(colon + 1);
    if (name == QLatin1String("BEGIN")) {
      cards.emplace_back();
    } else if (!cards.empty()) {
      cards.back().Properties.insert(name, value);
    }
  }
  return cards;
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

QMap<QString, QStringList> ReadHtmlDivTexts(const QByteArray& bytes, QString* error) {
  struct Open {
    QString Key;  // class of a div, "li" for a list item, "" otherwise
    QString Text;
  };
  QMap<QString, QStringList> texts;
  std::vector<Open> stack;
  QXmlStreamReader xml(bytes);
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement()) {
      QString key;
      if (xml.name() == QLatin1String("div")) key = xml.attributes().value(QStringLiteral("class")).toString();
      if (xml.name() == QLatin1String("li")) key = QStringLiteral("li");
      stack.push_back({key, QString()});
    } else if (xml.isCharacters()) {
      for (Open& open : stack) open.Text += xml.text();
    } else if (xml.isEndElement() && !stack.empty()) {
      Open done = stack.back();
      stack.pop_back();
      if (done.Key.isEmpty()) continue;
      // The page writes each value as "\n" value "\n" (the name adds a blank).
      QString& t = done.Text;
      if (t.startsWith(QLatin1Char('\n'))) t.remove(0, 1);
      if (t.endsWith(QStringLiteral("\n "))) t.chop(2);
      else if (t.endsWith(QLatin1Char('\n'))) t.chop(1);
      texts[done.Key].append(t);
    }
  }
  if (xml.hasError() && error) *error = xml.errorString();
  return texts;
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
