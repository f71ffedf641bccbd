#include "quarry/app/salvage_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSettings>
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

bool IsLegacyText(const QByteArray& text) {
  const QList<QByteArray> lines = SplitLines(text);
  return !lines.isEmpty() && lines.first() == "[AutoOpen]";
}

const QString kAutoOpenKey = QStringLiteral("openFolderAfterRecovery");
const QString kLanguageKey = QStringLiteral("language");
const QString kRecoveryKey = QStringLiteral("recoveryFolder");

}  // namespace

QString CSalvageSettings::LanguageFolder(int index) {
  static const char* const kFolders[] = {"en", "de", "es", "fr", "it", "jp", "cn", "hk", "ar", "nl", "pt"};
  if (index < 0 || index >= static_cast<int>(std::size(kFolders))) return QStringLiteral("en");
  return QString::fromLatin1(kFolders[index]);
}

int CSalvageSettings::LanguageIndex(const QString& folder) {
  for (int i = 0; i <= 10; ++i) {
    if (LanguageFolder(i) == folder) return i;
  }
  return -1;
}

QString CSalvageSettings::DictionaryFolder(int index) const {
  return QDir(programFolder).filePath(QStringLiteral("dic/") + LanguageFolder(index));
}

QList<int> CSalvageSettings::AvailableLanguages() const {
  QList<int> found;
  for (int i = 0; i < LanguageCaptionKeys().size(); ++i) {
    if (!QDir(DictionaryFolder(i)).entryList({QStringLiteral("*.ini")}, QDir::Files).isEmpty()) found.append(i);
  }
  return found;
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

void CSalvageSettings::Locate(const QString& programDir, const QString& configDir) {
  programFolder = QDir(programDir).absolutePath();
  configFolder = configDir;
  if (configFolder.isEmpty()) {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    configFolder = QDir(config.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : config)
                       .filePath(QStringLiteral("Quarry"));
  }
}

QString CSalvageSettings::SettingsPath() const { return QDir(configFolder).filePath(QStringLiteral("settings.ini")); }

QString CSalvageSettings::LegacyPath() const { return QDir(programFolder).filePath(QStringLiteral("settings.ini")); }

QString CSalvageSettings::DefaultRecoveryFolder() {
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return QDir(documents.isEmpty() ? QDir::homePath() : documents).filePath(QStringLiteral("Quarry"));
}

QString CSalvageSettings::BackupsFolder() const {
  if (!backupsFolder.isEmpty()) return backupsFolder;
  const QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.startsWith(QLatin1Char('/'))) return QDir(data).filePath(QStringLiteral("MobileSync/Backup"));
  return QDir(QDir::homePath()).filePath(QStringLiteral(".local/share/MobileSync/Backup"));
}

void CSalvageSettings::ParseLegacy(const QByteArray& text) {
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
  bool read = false;
  QFile file(SettingsPath());
  QByteArray text;
  if (file.open(QIODevice::ReadOnly)) {
    text = file.readAll();
    file.close();
    read = true;
  }
  if (read && !IsLegacyText(text)) {
    const QSettings ini(SettingsPath(), QSettings::IniFormat);
    autoOpen = ini.value(kAutoOpenKey, false).toBool() ? 1 : 0;
    const int index = LanguageIndex(ini.value(kLanguageKey).toString());
    if (index >= 0) language = index;
    const QString folder = ini.value(kRecoveryKey).toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) recoveryFolder = folder;
  } else {
    // The first versions' six lines, in the configuration folder or beside the program.
    if (!read) {
      QFile legacy(LegacyPath());
      if (legacy.open(QIODevice::ReadOnly)) {
        text = legacy.readAll();
        read = IsLegacyText(text);
      }
    }
    if (read) ParseLegacy(text);
  }
  if (recoveryFolder.isEmpty()) recoveryFolder = DefaultRecoveryFolder();
  return read;
}

bool CSalvageSettings::Save() const {
  if (!QDir().mkpath(configFolder)) return false;
  // A six-line file of the first versions is replaced, not mixed with INI.
  QFile existing(SettingsPath());
  if (existing.open(QIODevice::ReadOnly) && IsLegacyText(existing.readAll())) {
    existing.close();
    existing.remove();
  }
  QSettings ini(SettingsPath(), QSettings::IniFormat);
  ini.setValue(kAutoOpenKey, autoOpen != 0);
  ini.setValue(kLanguageKey, LanguageFolder(language));
  ini.setValue(kRecoveryKey, recoveryFolder);
  ini.sync();
  return ini.status() == QSettings::NoError;
}

CSalvageSettings& AppSettings() {
  static CSalvageSettings settings;
  return settings;
}

}  // namespace quarry
