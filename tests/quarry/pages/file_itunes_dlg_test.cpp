// The backup list page over generated backups: listing with the encrypted one
// marked (newer-layout backups like any other), a wrong then a right password
// for the same backup, cancel, the folder choice asking for the password too,
// and the real password dialog, whose check runs off the window thread and can
// be cancelled while the slow key derivation runs.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QHeaderView>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QTreeWidget>

#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/file_itunes_dlg.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"
#include "quarry/pages/password_dlg.h"
#include "support/test_support.h"

namespace quarry {

class FileItunesDlgTest : public QObject {
  Q_OBJECT

 private:
  sieve::test::TempDir dir_;
  QString root_;
  QString encryptedFolder_;
  QString slowRoot_;
  const QString password_ = QStringLiteral("geheim ✓ pass");

  // A scripted prompt's answer: the check of `password`, waited for.
  static std::optional<views::PasswordOutcome> Checked(const views::PasswordChecker& check, const QString& password) {
    const std::shared_ptr<views::PasswordJob> job = check(password);
    job->Wait();
    return job->Take();
  }

  // Opens the page on `root` as the window does, shown (at 900x500) when asked.
  static void Open(CFileItunesDlg& page, PageBus& bus, const QString& root, bool shown = false) {
    PageBus::Attach(&page, &bus);
    page.SetBackupRoot(root);
    page.InitPage();
    if (shown) {
      page.resize(900, 500);
      page.show();
    }
    page.OnShowPage();
  }

  // The reader of the backup a setScanSource emission named.
  static sieve::CItunesBackupReader& Handed(PageBus& bus, const QList<QVariant>& emission) {
    std::shared_ptr<views::ShelfBackup> backup = bus.Shelf().Find(emission.at(0).toString());
    if (backup == nullptr) qFatal("a folder not on the shelf was handed on");
    return backup->reader;
  }

  int RowOf(const QTreeWidget* list, const QString& text) {
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
      if (list->topLevelItem(row)->text(0).contains(text)) return row;
    }
    return -1;
  }

 private slots:
  void initTestCase() {
    // The program's English texts, as a user sees them.
    QVERIFY(AppDictionary().LoadFile(QStringLiteral(QUARRY_DIC_DIR "/en/quarry.ini")));
    root_ = QDir(QString::fromStdString(dir_.Path())).filePath(QStringLiteral("Backup"));
    QDir().mkpath(root_);
    const auto pw = sieve::test::WritePasswordFile(dir_, password_.toUtf8().toStdString());
    // The backups go straight below root_, as in an iTunes backup folder.
    sieve::test::MakeBackup(dir_, "Backup/plain", {"--profile", "small", "--display-name", "Plain Phone"});
    const auto enc = sieve::test::MakeBackup(
        dir_, "Backup/enc", {"--profile", "small", "--display-name", "Locked Phone", "--encrypted", "--password-file", pw});
    encryptedFolder_ = QString::fromStdString(enc.Folder);
    // iOS 10 and later: listed and opened like the others.
    sieve::test::MakeBackup(dir_, "Backup/newer", {"--profile", "small", "--manifest-db", "--display-name", "Newer Phone"});
    sieve::test::MakeBackup(dir_, "Backup/newer-enc",
                            {"--profile", "small", "--manifest-db", "--display-name", "Newer Locked", "--encrypted",
                             "--password-file", pw, "--double-protection", "--dp-iterations", "1000"});
    // A key bag slow enough that the derivation lasts while the dialog is watched and cancelled.
    slowRoot_ = QDir(QString::fromStdString(dir_.Path())).filePath(QStringLiteral("Slow"));
    sieve::test::MakeBackup(dir_, "Slow/slow",
                            {"--profile", "small", "--manifest-db", "--display-name", "Slow Phone", "--encrypted",
                             "--password-file", pw, "--double-protection", "--dp-iterations", "3000000"});
  }

  void ListsBackupsAndRetriesAWrongPasswordForTheSameBackup() {
    PageBus bus;
    CFileItunesDlg page;
    Open(page, bus, root_);
    QCOMPARE(page.List()->topLevelItemCount(), 4);
    const QString encryptedMark = Translate(QStringLiteral("IDS_ITUNES_ENCRYPTED"));
    const struct {
      const char* name;
      bool encrypted;
    } rows[] = {{"Plain Phone", false}, {"Locked Phone", true}, {"Newer Phone", false}, {"Newer Locked", true}};
    for (const auto& row : rows) {
      const int at = RowOf(page.List(), QLatin1String(row.name));
      QVERIFY2(at >= 0, row.name);
      // The name and, for an encrypted one, the mark: nothing else, nothing that says "cannot read".
      const QString shown = page.List()->topLevelItem(at)->text(0);
      QCOMPARE(shown, row.encrypted ? QLatin1String(row.name) + QLatin1Char(' ') + encryptedMark : QLatin1String(row.name));
    }
    const int locked = RowOf(page.List(), QStringLiteral("Locked Phone"));

    QStringList messages;
    QStringList answers{QStringLiteral("wrong"), password_};
    page.SetPasswordPrompt([&](const QString& name, const QString& message,
                               const views::PasswordChecker& check) -> std::optional<views::PasswordOutcome> {
      if (!name.contains(QStringLiteral("Locked"))) return std::nullopt;
      messages.append(message);
      return Checked(check, answers.takeFirst());
    });
    QSignalSpy source(&bus, &PageBus::setScanSource);
    QSignalSpy shown(&bus, &PageBus::showPage);
    QVERIFY(page.ScanRow(locked));
    QCOMPARE(messages.size(), 2);
    QVERIFY(messages[0].isEmpty());
    QCOMPARE(messages[1], Translate(QStringLiteral("ITUNES_ERROR_PWD")));
    QCOMPARE(source.count(), 1);
    QCOMPARE(source.at(0).at(0).toString(), views::BackupShelf::FolderName(encryptedFolder_));
    QCOMPARE(shown.count(), 1);
    QCOMPARE(shown.at(0).at(0).toInt(), page::kResults);
    // The page's reader was opened with the key the check derived: a scan needs no second derivation.
    sieve::FileKey key{};
    QCOMPARE(Handed(bus, source.at(0)).GetDerivedKey(views::ShelfBackup::kIndex, key), 1);

    // The newer layout: the plain one opens at once, the encrypted one after its password, both handed on.
    for (const char* name : {"Newer Phone", "Newer Locked"}) {
      messages.clear();
      answers = QStringList{password_};
      QVERIFY2(page.ScanRow(RowOf(page.List(), QLatin1String(name))), name);
      QCOMPARE(messages.size(), QLatin1String(name) == QLatin1String("Newer Locked") ? 1 : 0);
      sieve::CItunesBackupReader& handed = Handed(bus, source.last());
      QCOMPARE(handed.Layout(views::ShelfBackup::kIndex), sieve::BackupLayout::ManifestDb);
      std::vector<sieve::BackupFileEntry> entries;
      QCOMPARE(handed.ReadFileIndex(views::ShelfBackup::kIndex, entries), 1);
      QVERIFY(!entries.empty());
    }
  }

  // (The way back to kept results: window_test's leavingTheResultsByATabKeepsThem.)
  void RowsShowModelAndIosSortByAHeaderAndAnEmptyListSaysWhere() {
    PageBus bus;
    CFileItunesDlg page;
    Open(page, bus, root_, true);
    QVERIFY(page.EmptyText().isEmpty());
    // The generator's older backups are iOS 9.3.2, the newer layout 10.3.3, all "iPhone7,2".
    const int newer = RowOf(page.List(), QStringLiteral("Newer Phone"));
    const int plain = RowOf(page.List(), QStringLiteral("Plain Phone"));
    QCOMPARE(page.List()->topLevelItem(newer)->text(1), QStringLiteral("iPhone7,2"));
    QCOMPARE(page.List()->topLevelItem(newer)->text(2), QStringLiteral("10.3.3"));
    QCOMPARE(page.List()->topLevelItem(plain)->text(2), QStringLiteral("9.3.2"));
    // A click on the iOS header sorts by it, both ways.
    QHeaderView* header = page.List()->header();
    const QPoint iosHeader(header->sectionViewportPosition(2) + header->sectionSize(2) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, iosHeader);
    const QString first = page.List()->topLevelItem(0)->text(2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, iosHeader);
    QVERIFY(page.List()->topLevelItem(0)->text(2) != first);
    // Sorted rows still open their own backup.
    QSignalSpy source(&bus, &PageBus::setScanSource);
    QVERIFY(page.ScanRow(RowOf(page.List(), QStringLiteral("Plain Phone"))));
    QCOMPARE(QString::fromStdString(Handed(bus, source.at(0)).BackupName(0)), QStringLiteral("Plain Phone"));

    // No backups: the list says where it looked (a window of its own: the shelf lists what it holds).
    const QString none = QDir(root_).filePath(QStringLiteral("none"));
    PageBus emptyBus;
    CFileItunesDlg empty;
    Open(empty, emptyBus, none, true);
    QVERIFY(empty.EmptyText().contains(QDir::toNativeSeparators(none)));
    QVERIFY(empty.EmptyText().contains(QStringLiteral("idevicebackup2")));
    auto* problems = empty.findChild<QLabel*>(QStringLiteral("backupProblems"));
    QVERIFY(problems != nullptr && !problems->isVisible());
    // A folder that looks like a backup but has no Info.plist is named below the list.
    QVERIFY(QDir().mkpath(QDir(none).filePath(QStringLiteral("halfcopied"))));
    QFile manifest(QDir(none).filePath(QStringLiteral("halfcopied/Manifest.plist")));
    QVERIFY(manifest.open(QIODevice::WriteOnly));
    manifest.close();
    empty.OnShowPage();
    QVERIFY(problems->isVisible());
    QVERIFY2(problems->text().contains(QStringLiteral("halfcopied: the folder has no Info.plist")),
             qPrintable(problems->text()));
  }

  void CancelClearsBusyAndTheFolderChoiceAsksToo() {
    PageBus bus;
    CFileItunesDlg page;
    Open(page, bus, QDir(root_).filePath(QStringLiteral("none")));  // no backups here
    QCOMPARE(page.List()->topLevelItemCount(), 0);
    QVERIFY(!page.ScanRow(0));

    int asked = 0;
    page.SetPasswordPrompt([&](const QString&, const QString&, const views::PasswordChecker&)
                               -> std::optional<views::PasswordOutcome> {
      ++asked;
      return std::nullopt;
    });
    page.SetFolderChooser([this] { return encryptedFolder_; });
    QSignalSpy state(&bus, &PageBus::scanState);
    QSignalSpy source(&bus, &PageBus::setScanSource);
    QVERIFY(!page.ScanChosenFolder());
    QCOMPARE(asked, 1);
    QCOMPARE(source.count(), 0);
    QCOMPARE(state.count(), 1);
    QCOMPARE(state.at(0).at(0).toInt(), page::kScanEnded);
    QCOMPARE(page.List()->topLevelItemCount(), 1);  // the chosen backup is listed now
    // The same folder written otherwise is the same backup: asked for again, listed once.
    page.SetFolderChooser([this] { return encryptedFolder_ + QStringLiteral("/"); });
    QVERIFY(!page.ScanChosenFolder());
    QCOMPARE(asked, 2);
    QCOMPARE(page.List()->topLevelItemCount(), 1);
  }

  void PasswordDialogKeepsAskingOnEmptyAndMasksTheText() {
    bool sawEmptyMessage = false;
    QStringList checked;
    const views::PasswordChecker check = [&](const QString& password) {
      checked.append(password);
      return views::PasswordJob::Start(encryptedFolder_.toStdString(), password);
    };
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<CPasswordDlg*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("passwordEdit"));
      auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("passwordOk"));
      QCOMPARE(edit->echoMode(), QLineEdit::Password);
      ok->click();  // empty: stays open, nothing checked
      sawEmptyMessage = dialog->isVisible();
      QTest::keyClicks(edit, QStringLiteral("p455"));
      edit->insert(QStringLiteral("ä"));  // typed by an input method
      ok->click();
      // The field is emptied as soon as the check has its own copy.
      QVERIFY(edit->text().isEmpty());
    });
    const std::optional<views::PasswordOutcome> outcome = CPasswordDlg::Ask(nullptr, QStringLiteral("Phone"), QString(), check);
    QVERIFY(sawEmptyMessage);
    QCOMPARE(checked, QStringList{QStringLiteral("p455ä")});
    QVERIFY(outcome.has_value());
    QCOMPARE(outcome->Check, views::PasswordCheck::kWrong);
    QVERIFY(!outcome->Key.has_value());

    QTimer::singleShot(0, [] {
      auto* dialog = QApplication::activeModalWidget();
      dialog->findChild<QPushButton*>(QStringLiteral("passwordCancel"))->click();
    });
    QVERIFY(!CPasswordDlg::Ask(nullptr, QStringLiteral("Phone"), QStringLiteral("again"), check).has_value());
    QCOMPARE(checked.size(), 1);
  }

  void TheCheckRunsOffTheWindowThreadAndCancelDropsIt() {
    PageBus bus;
    CFileItunesDlg page;
    Open(page, bus, slowRoot_);
    QCOMPARE(page.List()->topLevelItemCount(), 1);
    QSignalSpy state(&bus, &PageBus::scanState);
    QSignalSpy source(&bus, &PageBus::setScanSource);

    // Worst gap between the ticks of a 10 ms timer on the window thread.
    qint64 worst = 0;
    QElapsedTimer clock;
    QTimer ticker;
    ticker.setInterval(10);
    connect(&ticker, &QTimer::timeout, this, [&] { worst = std::max(worst, clock.restart()); });

    // Types the right password, watches the dialog while the key is derived, then
    // presses Cancel (or lets the check end when `cancel` is false).
    bool busyShown = false;
    bool fieldLocked = false;
    bool cancelOffered = false;
    QElapsedTimer sinceCancel;
    const auto script = [&](bool cancel) {
      QTimer::singleShot(0, [&, cancel] {
        auto* dialog = qobject_cast<CPasswordDlg*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        dialog->findChild<QLineEdit*>(QStringLiteral("passwordEdit"))->setText(password_);
        dialog->findChild<QPushButton*>(QStringLiteral("passwordOk"))->click();
        clock.start();
        ticker.start();
        QTimer::singleShot(200, dialog, [&, dialog, cancel] {
          busyShown = dialog->Checking() && dialog->findChild<QLabel*>(QStringLiteral("passwordBusy"))->isVisible() &&
                      dialog->findChild<QProgressBar*>(QStringLiteral("passwordBusyBar"))->isVisible();
          fieldLocked = !dialog->findChild<QLineEdit*>(QStringLiteral("passwordEdit"))->isEnabled() &&
                        !dialog->findChild<QPushButton*>(QStringLiteral("passwordOk"))->isEnabled();
          auto* cancelButton = dialog->findChild<QPushButton*>(QStringLiteral("passwordCancel"));
          cancelOffered = cancelButton->isEnabled();
          if (!cancel) return;
          sinceCancel.start();
          cancelButton->click();
        });
      });
    };

    script(true);
    QVERIFY(!page.ScanRow(0));
    const qint64 cancelTook = sinceCancel.elapsed();
    ticker.stop();
    QVERIFY2(busyShown, "the dialog shows that it is checking");
    QVERIFY(fieldLocked);
    QVERIFY(cancelOffered);
    QVERIFY2(cancelTook < 300, qPrintable(QStringLiteral("cancel took %1 ms").arg(cancelTook)));
    QVERIFY2(worst < 500, qPrintable(QStringLiteral("the window thread stalled %1 ms").arg(worst)));
    QCOMPARE(source.count(), 0);
    QCOMPARE(state.count(), 1);
    QCOMPARE(state.at(0).at(0).toInt(), page::kScanEnded);
    // The abandoned derivation ends on its worker; its key never reaches the page's reader.
    QThreadPool::globalInstance()->waitForDone();
    sieve::FileKey key{};
    QCOMPARE(page.Shelf().Backups().at(0)->reader.GetDerivedKey(0, key), 0);

    // Let through to the end, the same password opens the backup.
    worst = 0;
    busyShown = false;
    script(false);
    QVERIFY(page.ScanRow(0));
    ticker.stop();
    QVERIFY(busyShown);
    QVERIFY2(worst < 500, qPrintable(QStringLiteral("the window thread stalled %1 ms").arg(worst)));
    QCOMPARE(source.count(), 1);
    QCOMPARE(Handed(bus, source.at(0)).GetDerivedKey(0, key), 1);
    qInfo("worst window-thread gap while deriving: %lld ms", static_cast<long long>(worst));
  }
};

}  // namespace quarry

QTEST_MAIN(quarry::FileItunesDlgTest)
#include "file_itunes_dlg_test.moc"
