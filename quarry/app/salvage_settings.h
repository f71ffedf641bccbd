// The user's settings: an INI file in the user's configuration folder
// ("Quarry/settings.ini"). A six-line file of the program's first versions,
// there or beside the program, is still read and then rewritten as INI.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace quarry {

class CSalvageSettings {
 public:
  int autoOpen = 0;        // 1: open the output folder after a recovery
  int language = 0;        // index into LanguageFolder()
  QString recoveryFolder;  // recoveries are written below this folder (the last one chosen)
  QString programFolder;   // folder of the running program (holds "dic")
  QString configFolder;    // where settings.ini is read and written
  // Folder the backup list reads; set by "--backups DIR", never saved. Empty:
  // the usual iTunes backup folder (see BackupsFolder()).
  QString backupsFolder;

  // backupsFolder, or $XDG_DATA_HOME/MobileSync/Backup, else
  // ~/.local/share/MobileSync/Backup.
  QString BackupsFolder() const;

  // Folder name below "dic" for a language index; unknown indexes give "en".
  static QString LanguageFolder(int index);
  // The index of a folder name; -1 when unknown.
  static int LanguageIndex(const QString& folder);
  // Dictionary keys of the language captions, in index order.
  static const QStringList& LanguageCaptionKeys();
  // The language indexes whose dictionary ships in programFolder/dic, in index order.
  QList<int> AvailableLanguages() const;
  QString DictionaryFolder(int index) const;

  // Sets programFolder and the configuration folder: `configDir` when given,
  // else the user's configuration folder + "Quarry".
  void Locate(const QString& programDir, const QString& configDir = QString());
  QString SettingsPath() const;
  // The settings file of the first versions, beside the program.
  QString LegacyPath() const;
  // Where a recovery goes by default: "Quarry" in the user's documents folder.
  static QString DefaultRecoveryFolder();

  // Reads settings.ini (INI, or the six-line file of the first versions; the
  // latter also beside the program). Returns false when no file was read.
  bool Load();
  // Writes settings.ini as INI. False when it cannot be written.
  bool Save() const;
  // Applies the six-line text of the first versions, in the file's order.
  void ParseLegacy(const QByteArray& text);
};

// The process-wide settings.
CSalvageSettings& AppSettings();

}  // namespace quarry
