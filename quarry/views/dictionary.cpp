#include "quarry/views/dictionary.h"

#include <QDir>
#include <QFile>

namespace quarry {

namespace {

const QString kMainIdSection = QStringLiteral("DICTIONARY_MAINID");

QString StripBom(QString text) {
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  return text;
}

}  // namespace

int CRBDictionary::ReadMainId(const QString& text) {
  // The id is an ordinary "name=value" entry of its section, read line by line
  // like any ini file (spaces around the name and value do not matter).
  bool inSection = false;
  for (QString line : StripBom(text).split(QLatin1Char('\n'))) {
    line = line.trimmed();
    if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
      inSection = line.mid(1, line.size() - 2).trimmed().compare(kMainIdSection, Qt::CaseInsensitive) == 0;
      continue;
    }
    if (!inSection) continue;
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0 || line.left(equals).trimmed().compare(QLatin1String("MAINID"), Qt::CaseInsensitive) != 0) continue;
    bool ok = false;
    const int id = line.mid(equals + 1).trimmed().toInt(&ok);
    return ok ? id : -1;
  }
  return -1;
}

void CRBDictionary::ParseInto(int mainId, const QString& fileText) {
  QHash<QString, QString>& entries = dictionaries_[mainId];
  QString text = StripBom(fileText);
  // Line breaks carry no meaning: an entry is "[key]1=text" up to the next "[".
  text.remove(QLatin1String("\r\n"));
  text.remove(QLatin1Char('\n'));
  qsizetype open = text.indexOf(QLatin1Char('['));
  while (open >= 0) {
    const qsizetype close = text.indexOf(QLatin1Char(']'), open + 1);
    if (close < 0) break;
    const qsizetype nextOpen = text.indexOf(QLatin1Char('['), close + 1);
    const qsizetype end = nextOpen < 0 ? text.size() : nextOpen;
    const qsizetype equals = text.indexOf(QLatin1Char('='), close + 1);
    const QString key = text.mid(open + 1, close - open - 1);
    if (equals >= 0 && equals < end && !key.isEmpty() && key != kMainIdSection &&
        QStringView(text).mid(close + 1, equals - close - 1) == QLatin1String("1")) {
      entries.insert(key, text.mid(equals + 1, end - equals - 1));
    }
    open = nextOpen;
  }
}

bool CRBDictionary::LoadFile(const QString& path, QString* error) {
  QFile file(path);
  if (!file.exists()) return true;
  if (!file.open(QIODevice::ReadOnly)) {
    if (error != nullptr) *error = QStringLiteral("Error in Loading Dictionary ") + path;
    return false;
  }
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    if (error != nullptr) *error = QStringLiteral("Error in Loading Dictionary ") + path;
    return false;
  }
  if (bytes.isEmpty()) return true;
  const QString text = QString::fromUtf8(bytes);
  const int mainId = ReadMainId(text);
  if (Has(mainId)) return true;  // the first file with an id wins
  ParseInto(mainId, text);
  return true;
}

CRBDictionary::FolderResult CRBDictionary::LoadFolder(const QString& folder, const ContinueQuestion& askContinue) {
  const QDir dir(folder);
  if (!dir.exists()) return FolderResult::kNoFolder;
  const QStringList files = dir.entryList({QStringLiteral("*.ini")}, QDir::Files, QDir::Name);
  if (files.isEmpty()) return FolderResult::kNoFiles;
  for (const QString& name : files) {
    if (!LoadFile(dir.filePath(name)) && askContinue && !askContinue(name)) return FolderResult::kStopped;
  }
  return FolderResult::kLoaded;
}

QString CRBDictionary::Text(const QString& key, int mainId) const {
  const auto found = dictionaries_.find(mainId);
  if (found == dictionaries_.end()) return key;
  return found->second.value(key, key);
}

int CRBDictionary::EntryCount(int mainId) const {
  const auto found = dictionaries_.find(mainId);
  return found == dictionaries_.end() ? 0 : static_cast<int>(found->second.size());
}

QStringList CRBDictionary::Keys(int mainId) const {
  const auto found = dictionaries_.find(mainId);
  if (found == dictionaries_.end()) return {};
  QStringList keys = found->second.keys();
  keys.sort();
  return keys;
}

}  // namespace quarry
