// settings.ini: reading in the file's order, writing the six lines.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "quarry/app/salvage_app.h"
#include "quarry/app/salvage_settings.h"

using quarry::CSalvageSettings;

class SettingsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  CSalvageSettings Fresh() {
    CSalvageSettings settings;
    settings.Locate(dir_.path());
    return settings;
  }

 private slots:
  void writesSixLinesAndReadsThemBack() {
    const QString recovery = QDir(dir_.path()).filePath(QStringLiteral("out ü"));
    QVERIFY(QDir().mkpath(recovery));
    CSalvageSettings settings = Fresh();
    settings.autoOpen = 1;
    settings.language = 3;
    settings.recoveryFolder = recovery;
    QVERIFY(settings.Save(QStringLiteral("Français")));
    QFile file(settings.SettingsPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 7);  // six lines and the end of the last
    QCOMPARE(lines[0], QByteArray("[AutoOpen]"));
    QCOMPARE(lines[1], QByteArray("1"));
    QCOMPARE(lines[2], QByteArray("[language]"));
    QCOMPARE(QString::fromUtf8(lines[3]), QStringLiteral("Français_3"));
    QCOMPARE(lines[4], QByteArray("[recovery Path]"));
    QCOMPARE(QString::fromUtf8(lines[5]), recovery);

    CSalvageSettings read = Fresh();
    QVERIFY(read.Load());
    QCOMPARE(read.autoOpen, 1);
    QCOMPARE(read.language, 3);
    QCOMPARE(read.recoveryFolder, recovery);
  }

  void missingFileGivesStartValues() {
    QTemporaryDir empty;
    CSalvageSettings settings;
    settings.Locate(empty.path());
    QVERIFY(!settings.Load());
    QCOMPARE(settings.autoOpen, 0);
    QCOMPARE(settings.language, 0);
    QCOMPARE(settings.recoveryFolder, QDir(empty.path()).absolutePath());
  }

  void aLineOutOfPlaceShiftsTheReading() {
    // One stray line first: every header is then compared one line late, and
    // nothing is taken.
    CSalvageSettings settings = Fresh();
    settings.Parse("1\n[AutoOpen]\n1\n[language]\nDeutsch_1\n[recovery Path]\n/tmp\n");
    QCOMPARE(settings.autoOpen, 0);
    QCOMPARE(settings.language, 0);
    QVERIFY(settings.recoveryFolder.isEmpty());

    // Without "[AutoOpen]", its place is used up by the language header, and
    // the language's value line is compared with "[language]" instead.
    CSalvageSettings shifted = Fresh();
    shifted.Parse("[language]\nDeutsch_1\n[recovery Path]\n/tmp\n");
    QCOMPARE(shifted.language, 0);
    QCOMPARE(shifted.recoveryFolder, QStringLiteral("/tmp"));
  }

  void languageLineNeedsAnUnderscoreAndUsesTheLastOne() {
    CSalvageSettings settings = Fresh();
    settings.language = 5;
    settings.Parse("[AutoOpen]\n0\n[language]\nEnglish\n");
    QCOMPARE(settings.language, 5);
    settings.Parse("[AutoOpen]\n0\n[language]\nChinese_Simplified_6\n");
    QCOMPARE(settings.language, 6);
    settings.Parse("[AutoOpen]\r\n1\r\n[language]\r\nDeutsch_1\r\n");  // written on another system
    QCOMPARE(settings.autoOpen, 1);
    QCOMPARE(settings.language, 1);
  }

  void vanishedRecoveryFolderFallsBack() {
    CSalvageSettings settings = Fresh();
    settings.Parse("[AutoOpen]\n0\n[language]\nEnglish_0\n[recovery Path]\n/no/such/folder/here\n");
    QCOMPARE(settings.recoveryFolder, settings.DefaultRecoveryFolder());
  }

  void unknownLanguageIndexUsesEnglish() {
    QCOMPARE(CSalvageSettings::LanguageFolder(1), QStringLiteral("de"));
    QCOMPARE(CSalvageSettings::LanguageFolder(3), QStringLiteral("fr"));
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
    const quarry::WindowOptions unknown = quarry::ParseWindowOptions({QStringLiteral("--bakups"), QStringLiteral("x")});
    QVERIFY(!unknown.ok);
    QVERIFY(unknown.error.contains(QStringLiteral("--bakups")));
  }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "settings_test.moc"
