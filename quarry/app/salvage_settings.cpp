#include "quarry/app/salvage_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStandardPaths>

namespace quarry {

namespace {

// Lines of settings.ini without their line ends; a "\r" left by an editor on
// another system is dropped too.
QList<QByteArray> SplitLines(const QByteArray& text) {
  QList<QByteArray> lines = text.split('\n');
  for (QByteArray& line : lines) {
    if (line.endsWith('\r')) line.chop(1);
  }
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  if (!lines.isEmpty() && lines.first().startsWith("\xEF\xBB\xBF")) lines.first().remove(0, 3);
  return lines;
}

bool IsWritableFolder(const QString& folder) {
  const QFileInfo info(folder);
  return info.isDir() && info.isWritable();
}

}  // namespace

QString CSalvageSettings::LanguageFolder(int index) {
  static const char* const kFolders[] = {"en", "de", "es", "fr", "it", "jp", "cn", "hk", "ar", "nl", "pt"};
  if (index < 0 || index >= static_cast<int>(std::size(kFolders))) return QStringLiteral("en");
  return QString::fromLatin1(kFolders[index]);
}

const QStringList& CSalvageSettings::LanguageCaptionKeys() {
  static const QStringList keys = {
      QStringLiteral("IDS_OPTION_LANGUANGE_ENGLISH"),  QStringLiteral("IDS_OPTION_LANGUANGE_GERMAN"),
      QStringLiteral("IDS_OPTION_LANGUANGE_SPANISH"),  QStringLiteral("IDS_OPTION_LANGUANGE_FRENCH"),
      QStringLiteral("IDS_OPTION_LANGUANGE_ITALIAN"),  QStringLiteral("IDS_OPTION_LANGUANGE_JAPANESE"),
      QStringLiteral("IDS_OPTION_LANGUANGE_CHINESESIMPLIFY"),
      QStringLiteral("IDS_OPTION_LANGUANGE_CHINESETRANDITION")};
  return keys;
}

void CSalvageSettings::Locate(const QString& programDir) {
  programFolder = QDir(programDir).absolutePath();
  if (IsWritableFolder(programFolder)) {
    configFolder = programFolder;
    return;
  }
  configFolder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  QDir().mkpath(configFolder);
}

QString CSalvageSettings::SettingsPath() const {
  return QDir(configFolder.isEmpty() ? programFolder : configFolder).filePath(QStringLiteral("settings.ini"));
}

QString CSalvageSettings::DefaultRecoveryFolder() const {
  if (!programFolder.isEmpty() && IsWritableFolder(programFolder)) return programFolder;
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return documents.isEmpty() ? QDir::homePath() : documents;
}

QString CSalvageSettings::BackupsFolder() const {
  if (!backupsFolder.isEmpty()) return backupsFolder;
  const QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.startsWith(QLatin1Char('/'))) return QDir(data).filePath(QStringLiteral("MobileSync/Backup"));
  return QDir(QDir::homePath()).filePath(QStringLiteral(".local/share/MobileSync/Backup"));
}

void CSalvageSettings::Parse(const QByteArray& text) {
  const QList<QByteArray> lines = SplitLines(text);
  qsizetype next = 0;
  // Each step reads on from where the one before stopped: a line out of place
  // shifts every later comparison, as the file is meant to keep its order.
  auto readLine = [&](QByteArray* line) {
    if (next >= lines.size()) return false;
    *line = lines[next++];
    return true;
  };
  QByteArray line;
  if (readLine(&line) && line == "[AutoOpen]" && readLine(&line)) {
    bool ok = false;
    const int value = line.trimmed().toInt(&ok);
    if (ok) autoOpen = value;
  }
  if (readLine(&line) && line == "[language]" && readLine(&line)) {
    const qsizetype underscore = line.lastIndexOf('_');
    if (underscore >= 0) {
      bool ok = false;
      const int value = line.mid(underscore + 1).trimmed().toInt(&ok);
      if (ok) language = value;
    }
  }
  if (readLine(&line) && line == "[recovery Path]" && readLine(&line)) {
    recoveryFolder = QString::fromUtf8(line);
    if (!QFileInfo(recoveryFolder).isDir()) recoveryFolder = DefaultRecoveryFolder();
  }
}

bool CSalvageSettings::Load() {
  QFile file(SettingsPath());
  const bool opened = file.open(QIODevice::ReadOnly);
  if (opened) Parse(file.readAll());
  if (recoveryFolder.isEmpty()) recoveryFolder = DefaultRecoveryFolder();
  return opened;
}

QByteArray CSalvageSettings::Serialize(const QString& languageCaption) const {
  QByteArray text;
  text += "[AutoOpen]\n" + QByteArray::number(autoOpen) + "\n";
  text += "[language]\n" + languageCaption.toUtf8() + "_" + QByteArray::number(language) + "\n";
  text += "[recovery Path]\n" + recoveryFolder.toUtf8() + "\n";
  return text;
}

bool CSalvageSettings::Save(const QString& languageCaption) const {
  QFile file(SettingsPath());
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const QByteArray text = Serialize(languageCaption);
  return file.write(text) == text.size() && file.flush();
}

CSalvageSettings& AppSettings() {
  static CSalvageSettings settings;
  return settings;
}

}  // namespace quarry
