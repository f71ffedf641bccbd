// The backup list page over generated backups: listing with the encrypted one
// marked, a wrong then a right password for the same backup, cancel, the
// folder choice asking for the password too, and the real password dialog.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
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
  const QString password_ = QStringLiteral("geheim ✓ pass");

  int RowOf(const QTreeWidget* list, const QString& text) {
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
      if (list->topLevelItem(row)->text(0).contains(text)) return row;
    }
    return -1;
  }

 private slots:
  void initTestCase() {
    root_ = QDir(QString::fromStdString(dir_.Path())).filePath(QStringLiteral("Backup"));
    QDir().mkpath(root_);
    const auto pw = sieve::test::WritePasswordFile(dir_, password_.toUtf8().toStdString());
    // The backups go straight below root_, as in an iTunes backup folder.
    sieve::test::MakeBackup(dir_, "Backup/plain", {"--profile", "small", "--display-name", "Plain Phone"});
    const auto enc = sieve::test::MakeBackup(
        dir_, "Backup/enc", {"--profile", "small", "--display-name", "Locked Phone", "--encrypted", "--password-file", pw});
    encryptedFolder_ = QString::fromStdString(enc.Folder);
  }

  void ListsBackupsAndRetriesAWrongPasswordForTheSameBackup() {
    PageBus bus;
    CFileItunesDlg page;
    PageBus::Attach(&page, &bus);
    page.SetBackupRoot(root_);
    page.InitPage();
    page.OnShowPage();
    QCOMPARE(page.List()->topLevelItemCount(), 2);
    const int locked = RowOf(page.List(), QStringLiteral("Locked Phone"));
    QVERIFY(locked >= 0);
    QVERIFY(page.List()->topLevelItem(locked)->text(0).contains(Translate(QStringLiteral("IDS_ITUNES_ENCRYPTED"))));
    QVERIFY(!page.List()->topLevelItem(RowOf(page.List(), QStringLiteral("Plain Phone")))->text(0).contains(
        Translate(QStringLiteral("IDS_ITUNES_ENCRYPTED"))));

    QStringList messages;
    QStringList answers{QStringLiteral("wrong"), password_};
    page.SetPasswordPrompt([&](const QString& name, const QString& message) -> std::optional<QString> {
      if (!name.contains(QStringLiteral("Locked Phone"))) return std::nullopt;
      messages.append(message);
      return answers.takeFirst();
    });
    QSignalSpy source(&bus, &PageBus::setScanSource);
    QSignalSpy shown(&bus, &PageBus::showPage);
    QVERIFY(page.ScanRow(locked));
    QCOMPARE(messages.size(), 2);
    QVERIFY(messages[0].isEmpty());
    QCOMPARE(messages[1], Translate(QStringLiteral("ITUNES_ERROR_PWD")));
    QCOMPARE(source.count(), 1);
    const int index = source.at(0).at(1).toInt();
    QCOMPARE(QString::fromStdString(page.Reader().BackupFolder(index)), encryptedFolder_);
    QCOMPARE(shown.count(), 1);
    QCOMPARE(shown.at(0).at(0).toInt(), page::kResults);
  }

  void CancelClearsBusyAndTheFolderChoiceAsksToo() {
    PageBus bus;
    CFileItunesDlg page;
    PageBus::Attach(&page, &bus);
    page.SetBackupRoot(QDir(root_).filePath(QStringLiteral("none")));  // no backups here
    page.InitPage();
    page.OnShowPage();
    QCOMPARE(page.List()->topLevelItemCount(), 0);
    QVERIFY(!page.ScanRow(0));

    int asked = 0;
    page.SetPasswordPrompt([&](const QString&, const QString&) -> std::optional<QString> {
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
  }

  void PasswordDialogKeepsAskingOnEmptyAndMasksTheText() {
    bool sawEmptyMessage = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<CPasswordDlg*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("passwordEdit"));
      auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("passwordOk"));
      QCOMPARE(edit->echoMode(), QLineEdit::Password);
      ok->click();  // empty: stays open
      sawEmptyMessage = dialog->isVisible();
      QTest::keyClicks(edit, QStringLiteral("p455"));
      edit->insert(QStringLiteral("ä"));  // typed by an input method
      ok->click();
    });
    const std::optional<QString> typed = CPasswordDlg::Ask(nullptr, QStringLiteral("Phone"), QString());
    QVERIFY(sawEmptyMessage);
    QVERIFY(typed.has_value());
    QCOMPARE(*typed, QStringLiteral("p455ä"));

    QTimer::singleShot(0, [] {
      auto* dialog = QApplication::activeModalWidget();
      dialog->findChild<QPushButton*>(QStringLiteral("passwordCancel"))->click();
    });
    QVERIFY(!CPasswordDlg::Ask(nullptr, QStringLiteral("Phone"), QStringLiteral("again")).has_value());
  }
};

}  // namespace quarry

QTEST_MAIN(quarry::FileItunesDlgTest)
#include "file_itunes_dlg_test.moc"
