// The user's settings: the six-line "settings.ini" beside the program, or in
// the per-user configuration folder when the program folder is not writable.
#pragma once

#include <QString>
#include <QStringList>

namespace quarry {

class CSalvageSettings {
 public:
  int autoOpen = 0;        // 1: open the output folder after a recovery
  int language = 0;        // index into LanguageFolder()
  QString recoveryFolder;  // recoveries are written below this folder
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
  // Dictionary keys of the languages the settings dialog offers, in index order.
  static const QStringList& LanguageCaptionKeys();

  // Sets programFolder and picks configFolder: the program folder when it is
  // writable, else the per-user configuration folder.
  void Locate(const QString& programDir);
  QString SettingsPath() const;
  // Where a recovery goes by default: the program folder when writable, else
  // the per-user documents folder.
  QString DefaultRecoveryFolder() const;

  // Reads settings.ini line by line in the file's order; a missing file or a
  // missing folder leaves the start values. Returns false when the file could
  // not be opened.
  bool Load();
  // Writes the six lines anew; languageCaption is the shown caption of the
  // current language. Returns false when the file cannot be written.
  bool Save(const QString& languageCaption) const;
  // The settings.ini text for these values.
  QByteArray Serialize(const QString& languageCaption) const;
  // Applies a settings.ini text (the loader's steps).
  void Parse(const QByteArray& text);
};

// The process-wide settings.
CSalvageSettings& AppSettings();

}  // namespace quarry
