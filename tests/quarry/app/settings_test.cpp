// settings.ini: an INI file in the configuration folder; the first versions' six-line file still read.
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "quarry/app/salvage_app.h"
#include "quarry/app/salvage_settings.h"

using quarry::CSalvageSettings;

class SettingsTest : public QObject {
  Q_OBJECT

 public:
  // Never the user's own configuration or documents folders.
  SettingsTest() { QStandardPaths::setTestModeEnabled(true); }

 private:
  QTemporaryDir dir_;
  QTemporaryDir config_;
  CSalvageSettings Fresh() {
    CSalvageSettings settings;
    settings.Locate(dir_.path(), config_.path());
    return settings;
  }

 private slots:
  void writesAnIniFileAndReadsItBack() {
    const QString recovery = QDir(dir_.path()).filePath(QStringLiteral("out ü"));
    QVERIFY(QDir().mkpath(recovery));
    CSalvageSettings settings = Fresh();
    settings.autoOpen = 1;
    settings.language = 3;
    settings.recoveryFolder = recovery;
    QVERIFY(settings.Save());
    QCOMPARE(settings.SettingsPath(), QDir(config_.path()).filePath(QStringLiteral("settings.ini")));
    // A real INI file, readable by anyone's INI reader.
    const QSettings ini(settings.SettingsPath(), QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("language")).toString(), QStringLiteral("fr"));
    QCOMPARE(ini.value(QStringLiteral("openFolderAfterRecovery")).toBool(), true);
    QCOMPARE(ini.value(QStringLiteral("recoveryFolder")).toString(), recovery);

    CSalvageSettings read = Fresh();
    QVERIFY(read.Load());
    QCOMPARE(read.autoOpen, 1);
    QCOMPARE(read.language, 3);
    QCOMPARE(read.recoveryFolder, recovery);
  }

  void oldSixLineFilesAreStillReadThenReplaced() {
    // Beside the program (the first versions' place) and in the configuration folder.
    const QByteArray old = "[AutoOpen]\n1\n[language]\nDeutsch_1\n[recovery Path]\n" + QFile::encodeName(dir_.path()) + "\n";
    for (const bool besideProgram : {true, false}) {
      QTemporaryDir program;
      QTemporaryDir config;
      CSalvageSettings settings;
      settings.Locate(program.path(), config.path());
      QFile file(besideProgram ? settings.LegacyPath() : settings.SettingsPath());
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(old);
      file.close();
      QVERIFY(settings.Load());
      QCOMPARE(settings.autoOpen, 1);
      QCOMPARE(settings.language, 1);
      QCOMPARE(settings.recoveryFolder, dir_.path());
      settings.language = 3;
      QVERIFY(settings.Save());
      CSalvageSettings again;
      again.Locate(program.path(), config.path());
      QVERIFY(again.Load());
      QCOMPARE(again.language, 3);  // the INI file wins once written
      QCOMPARE(again.recoveryFolder, dir_.path());
    }
  }

  void missingFileGivesStartValues() {
    QTemporaryDir empty;
    CSalvageSettings settings;
    settings.Locate(empty.path(), empty.path());
    QVERIFY(!settings.Load());
    QCOMPARE(settings.autoOpen, 0);
    QCOMPARE(settings.language, 0);
    // The user's documents folder, in a folder of its own.
    QCOMPARE(settings.recoveryFolder,
             QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath(QStringLiteral("Quarry")));
  }

  void oldFilesAreReadLineByLine() {
    const QString unchanged = QStringLiteral("(unchanged)");
    struct Case {
      const char* text;
      int autoOpen;
      int language;
      QString folder;  // "(unchanged)": as before the reading
    };
    const Case cases[] = {
        // One stray line first: every header is then compared one line late, nothing is taken.
        {"1\n[AutoOpen]\n1\n[language]\nDeutsch_1\n[recovery Path]\n/tmp\n", 0, 5, unchanged},
        // Without "[AutoOpen]", its place is used up by the language header, and the
        // language's value line is compared with "[language]" instead.
        {"[language]\nDeutsch_1\n[recovery Path]\n/tmp\n", 0, 5, QStringLiteral("/tmp")},
        // The language needs an underscore and its number is after the last one.
        {"[AutoOpen]\n0\n[language]\nEnglish\n", 0, 5, unchanged},
        {"[AutoOpen]\n0\n[language]\nChinese_Simplified_6\n", 0, 6, unchanged},
        {"[AutoOpen]\r\n1\r\n[language]\r\nDeutsch_1\r\n", 1, 1, unchanged},  // written on another system
        // A recovery folder that has vanished falls back to the default one.
        {"[AutoOpen]\n0\n[language]\nEnglish_0\n[recovery Path]\n/no/such/folder/here\n", 0, 0, QString()},
    };
    for (const Case& c : cases) {
      CSalvageSettings settings = Fresh();
      settings.language = 5;
      settings.recoveryFolder = unchanged;
      settings.ParseLegacy(c.text);
      QCOMPARE(settings.autoOpen, c.autoOpen);
      QCOMPARE(settings.language, c.language);
      QCOMPARE(settings.recoveryFolder, c.folder.isNull() ? settings.DefaultRecoveryFolder() : c.folder);
    }
  }

  void unknownLanguageIndexUsesEnglish() {
    QCOMPARE(CSalvageSettings::LanguageFolder(10), QStringLiteral("pt"));
    QCOMPARE(CSalvageSettings::LanguageFolder(11), QStringLiteral("en"));
    QCOMPARE(CSalvageSettings::LanguageFolder(-1), QStringLiteral("en"));
  }

  void backupsFolderDefaultsToTheUsualPlace() {
    CSalvageSettings settings = Fresh();
    qputenv("XDG_DATA_HOME", "/data/home");
    QCOMPARE(settings.BackupsFolder(), QStringLiteral("/data/home/MobileSync/Backup"));
    qputenv("XDG_DATA_HOME", "relative");  // not absolute: ignored
    QCOMPARE(settings.BackupsFolder(), QDir::homePath() + QStringLiteral("/.local/share/MobileSync/Backup"));
    settings.backupsFolder = QStringLiteral("/chosen");
    QCOMPARE(settings.BackupsFolder(), QStringLiteral("/chosen"));
  }

  void windowOptionsNeedTheirFolder() {
    const quarry::WindowOptions options =
        quarry::ParseWindowOptions({QStringLiteral("--backups"), QStringLiteral("rel/dir")});
    QVERIFY(options.ok);
    QCOMPARE(options.backupsFolder, QDir(QStringLiteral("rel/dir")).absolutePath());
    QVERIFY(options.screenshotFolder.isEmpty());
    QVERIFY(!quarry::ParseWindowOptions({QStringLiteral("--backups")}).ok);
    QCOMPARE(quarry::ParseWindowOptions({QStringLiteral("--language"), QStringLiteral("de")}).language, QStringLiteral("de"));
    QVERIFY(!quarry::ParseWindowOptions({QStringLiteral("--language"), QStringLiteral("xx")}).ok);
    QVERIFY(!quarry::ParseWindowOptions({QStringLiteral("--language")}).ok);
    const quarry::WindowOptions unknown = quarry::ParseWindowOptions({QStringLiteral("--bakups"), QStringLiteral("x")});
    QVERIFY(!unknown.ok);
    QVERIFY(unknown.error.contains(QStringLiteral("--bakups")));
  }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "settings_test.moc"
