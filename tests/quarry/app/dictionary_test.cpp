// The dictionary loader's rules and the shipped dictionaries.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "quarry/app/rb_dictionary.h"
#include "quarry/app/salvage_settings.h"
#include "quarry/views/scan_progress.h"

using quarry::CRBDictionary;

namespace {

void WriteFile(const QString& path, const QByteArray& text) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(text), text.size());
}

const QByteArray kHeader = "[DICTIONARY_MAINID]\nMAINID=1\n";

}  // namespace

class DictionaryTest : public QObject {
  Q_OBJECT

 private slots:
  void parsingRules() {
    const char* const kSigns = "[IDS_CUT]\n1=before[after]1=x\n[IDS_EQ]\n1=a=b]c\n[IDS_N]\n2=two\n";
    struct Case {
      const char* text;  // a dictionary file's text
      const char* key;
      const char* shown;  // what Text(key) gives
    };
    const Case cases[] = {
        // No empty line at the end: the last text must still be whole.
        {"[DICTIONARY_MAINID]\r\nMAINID=1\r\n[IDS_A]\r\n1=Alpha\r\n[IDS_B]\r\n1=Beta", "IDS_B", "Beta"},
        {"[IDS_B]\n1=Beta\n\n", "IDS_B", "Beta"},
        // A bracket cuts the text; other signs stay; only entry number 1 counts.
        {kSigns, "IDS_CUT", "before"},
        {kSigns, "IDS_EQ", "a=b]c"},
        {kSigns, "IDS_N", "IDS_N"},
        // A missing key is shown literally.
        {"[IDS_A]\n1=Alpha\n", "IDS_NOT_THERE", "IDS_NOT_THERE"},
        {"", "IDS_NOT_THERE", "IDS_NOT_THERE"},
        // Line breaks do not split a text but join it.
        {"[IDS_TWO]\n1=first\nsecond\n", "IDS_TWO", "firstsecond"},
    };
    for (const Case& c : cases) {
      CRBDictionary dictionary;
      dictionary.ParseInto(1, QString::fromUtf8(c.text));
      QCOMPARE(dictionary.Text(QLatin1String(c.key)), QLatin1String(c.shown));
    }
    CRBDictionary dictionary;
    dictionary.ParseInto(1, QString::fromUtf8(cases[0].text));
    QCOMPARE(dictionary.Text(QStringLiteral("IDS_A")), QStringLiteral("Alpha"));
    QCOMPARE(dictionary.EntryCount(), 2);  // the main id is not an entry
    QCOMPARE(dictionary.Text(QStringLiteral("IDS_A"), 2), QStringLiteral("IDS_A"));  // other dictionary
  }

  void mainIdIsReadFromItsSection() {
    QCOMPARE(CRBDictionary::ReadMainId(QStringLiteral("[X]\nMAINID=7\n[DICTIONARY_MAINID]\n MAINID = 3 \n")), 3);
    QCOMPARE(CRBDictionary::ReadMainId(QStringLiteral("[IDS_A]\n1=a\n")), -1);
    QCOMPARE(CRBDictionary::ReadMainId(QStringLiteral("[DICTIONARY_MAINID]\nMAINID=x\n")), -1);
  }

  void secondFileWithTheSameMainIdIsSkipped() {
    QTemporaryDir dir;
    WriteFile(dir.filePath(QStringLiteral("a.ini")), kHeader + "[IDS_A]\n1=from a\n");
    WriteFile(dir.filePath(QStringLiteral("b.ini")), kHeader + "[IDS_A]\n1=from b\n[IDS_B]\n1=only b\n");
    WriteFile(dir.filePath(QStringLiteral("c.ini")), "[DICTIONARY_MAINID]\nMAINID=2\n[IDS_A]\n1=two\n");
    WriteFile(dir.filePath(QStringLiteral("empty.ini")), "");
    WriteFile(dir.filePath(QStringLiteral("notes.txt")), kHeader);
    CRBDictionary dictionary;
    QCOMPARE(dictionary.LoadFolder(dir.path(), {}), CRBDictionary::FolderResult::kLoaded);
    QCOMPARE(dictionary.Text(QStringLiteral("IDS_A")), QStringLiteral("from a"));
    QCOMPARE(dictionary.Text(QStringLiteral("IDS_B")), QStringLiteral("IDS_B"));
    QCOMPARE(dictionary.Text(QStringLiteral("IDS_A"), 2), QStringLiteral("two"));
  }

  void folderProblemsAreReported() {
    CRBDictionary dictionary;
    QCOMPARE(dictionary.LoadFolder(QStringLiteral("/no/such/dic"), {}), CRBDictionary::FolderResult::kNoFolder);
    QTemporaryDir dir;
    QCOMPARE(dictionary.LoadFolder(dir.path(), {}), CRBDictionary::FolderResult::kNoFiles);
    // A file that cannot be read: the question decides whether loading goes on.
    WriteFile(dir.filePath(QStringLiteral("a.ini")), kHeader + "[IDS_A]\n1=a\n");
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("b.ini"))));  // a folder named like a file
    int asked = 0;
    QVERIFY(!dictionary.LoadFile(dir.filePath(QStringLiteral("b.ini"))));
    const auto result = dictionary.LoadFolder(dir.path(), [&](const QString& name) {
      ++asked;
      return name != QStringLiteral("b.ini");
    });
    QCOMPARE(result, CRBDictionary::FolderResult::kLoaded);  // folders are not listed as files
    QCOMPARE(asked, 0);
  }

  void shippedLanguagesHaveEveryKey() {
    // Every language has each English key, with its own text for most of them.
    QHash<QString, CRBDictionary> byLanguage;
    for (const char* language : {"en", "de", "fr"}) {
      CRBDictionary& dictionary = byLanguage[QString::fromLatin1(language)];
      const auto result = dictionary.LoadFolder(QDir(QStringLiteral(QUARRY_SOURCE_DIC)).filePath(QString::fromLatin1(language)), {});
      QCOMPARE(result, CRBDictionary::FolderResult::kLoaded);
      QVERIFY(dictionary.Has(1));
    }
    const CRBDictionary& en = byLanguage[QStringLiteral("en")];
    QVERIFY(en.EntryCount() > 30);
    QCOMPARE(en.Text(QStringLiteral("IDS_ITUNES_ENDED")), QStringLiteral("Terminate itunes Application"));
    for (const QString& language : {QStringLiteral("de"), QStringLiteral("fr")}) {
      const CRBDictionary& other = byLanguage[language];
      QCOMPARE(other.Keys(), en.Keys());  // the same keys, none missing, none extra
      QVERIFY(other.Text(QStringLiteral("IDS_HOME_SELECT_MODE")) != en.Text(QStringLiteral("IDS_HOME_SELECT_MODE")));
    }
    QCOMPARE(byLanguage[QStringLiteral("de")].Text(QStringLiteral("IDS_OPTION_DLG_BTN_CANCEL")), QStringLiteral("Abbrechen"));
    QCOMPARE(byLanguage[QStringLiteral("fr")].Text(QStringLiteral("IDS_OPTION_DLG_BTN_CANCEL")), QStringLiteral("Annuler"));
  }

  void aMissingLanguageFallsBackToEnglishWithOneMessage() {
    // A program folder that ships English and German only, German lacking a key.
    QTemporaryDir program;
    for (const char* language : {"en", "de"}) {
      QVERIFY(QDir().mkpath(program.filePath(QStringLiteral("dic/") + QLatin1String(language))));
    }
    QVERIFY(QFile::copy(QStringLiteral(QUARRY_SOURCE_DIC "/en/quarry.ini"), program.filePath(QStringLiteral("dic/en/quarry.ini"))));
    WriteFile(program.filePath(QStringLiteral("dic/de/quarry.ini")), kHeader + "[IDS_OPTION_DLG_BTN_CANCEL]\n1=Abbrechen\n");
    quarry::CSalvageSettings& settings = quarry::AppSettings();
    settings.Locate(program.path());
    QCOMPARE(settings.AvailableLanguages(), (QList<int>{0, 1}));  // only these are offered

    struct Case {
      int language;
      QString cancel;      // the text of a key the language has
      int messages;
      QString sizeText;    // 1.5 MiB in the locale used
    };
    const Case cases[] = {
        {1, QStringLiteral("Abbrechen"), 0, QStringLiteral("1,5 MB")},
        {3, QStringLiteral("Cancel"), 1, QStringLiteral("1.5 MB")},   // French is not shipped here
        {0, QStringLiteral("Cancel"), 0, QStringLiteral("1.5 MB")},
    };
    for (const Case& c : cases) {
      settings.language = c.language;
      QStringList told;
      quarry::LoadAppDictionary([&](const QString& text) { told.append(text); });
      QCOMPARE(told.size(), c.messages);
      if (c.messages > 0) QVERIFY(told.first().contains(QStringLiteral("English")));
      QCOMPARE(quarry::Translate(QStringLiteral("IDS_OPTION_DLG_BTN_CANCEL")), c.cancel);
      // Keys the language lacks come from English, never as raw keys.
      QCOMPARE(quarry::Translate(QStringLiteral("IDS_HOME_SELECT_MODE")), QStringLiteral("Choose how to recover your data"));
      QCOMPARE(quarry::views::FormatSize(1536 * 1024), c.sizeText);
      // A window's texts, nested ones too, in the chosen language; an unknown key stays.
      QWidget window;
      window.setWindowTitle(QStringLiteral("IDS_OPTION_DLG_BTN_CANCEL"));
      auto* button = new QPushButton(QStringLiteral("IDS_OPTION_DLG_BTN_CANCEL"), new QWidget(&window));
      auto* label = new QLabel(QStringLiteral("IDS_NO_SUCH_KEY"), &window);
      quarry::TranslateWindowTree(&window);
      QCOMPARE(window.windowTitle(), c.cancel);
      QCOMPARE(button->text(), c.cancel);
      QCOMPARE(label->text(), QStringLiteral("IDS_NO_SUCH_KEY"));
    }
    settings.language = 0;
    quarry::AppDictionary().Clear();
    quarry::FallbackDictionary().Clear();
  }
};

QTEST_MAIN(DictionaryTest)
#include "dictionary_test.moc"
