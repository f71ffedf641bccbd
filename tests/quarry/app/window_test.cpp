// The page framework, the main window's navigation, keys, size and busy
// state, its menu's dialogs, and the settings dialog, driven as a user would.
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

#include "quarry/app/option_dlg.h"
#include "quarry/app/rb_dictionary.h"
#include "quarry/app/salvage_dlg.h"
#include "quarry/app/salvage_settings.h"
#include "quarry/controls/image_button.h"
#include "quarry/pages/function_dlg.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"
#include "quarry/pages/file_itunes_dlg.h"
#include "quarry/pages/home_dlg.h"
#include "quarry/pages/recovery_main_dlg.h"
#include "quarry/controls/message_box.h"
#include "quarry/controls/style_loader.h"
#include "quarry/views/contacts_model.h"
#include "support/test_support.h"

using namespace quarry;

namespace {

// A page that records what the framework did to it.
class ProbePage : public CFunctionDlg {
 public:
  int inits = 0;
  int shows = 0;
  int deletedCalls = 0;
  bool lastDeleted = false;
  void InitPage() override { ++inits; }
  void OnShowPage() override {
    ++shows;
    CFunctionDlg::OnShowPage();
  }
  void ShowDeletedOnly(bool flag) override {
    ++deletedCalls;
    lastDeleted = flag;
  }
};

// A page that notes when it is destroyed.
class MortalPage : public CFunctionDlg {
 public:
  MortalPage(std::vector<int>* order, int id) : order_(order), id_(id) {}
  ~MortalPage() override { order_->push_back(id_); }

 private:
  std::vector<int>* order_;
  int id_;
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 public:
  // Settings written by a test never reach the user's own folders.
  WindowTest() {
    QStandardPaths::setTestModeEnabled(true);
    // The program's English texts, as a user sees them.
    AppDictionary().LoadFile(QStringLiteral(QUARRY_SOURCE_DIC "/en/quarry.ini"));
  }

 private slots:
  void containerShowsByIdAndHidesAllForAnUnknownIdAndPagesTheirUnnumberedChildren() {
    QWidget top;
    auto* container = new CFunctionDlgContainer(&top);
    auto* first = new ProbePage;
    auto* second = new ProbePage;
    container->AddPage(first, 1);
    container->AddPage(second, 2);
    QCOMPARE(first->inits, 1);
    QCOMPARE(first->pageId, 1);
    QCOMPARE(container->Page(2), second);
    QCOMPARE(container->Page(3), nullptr);
    top.show();

    container->ShowPage(2);
    QCOMPARE(container->currentPageId(), 2);
    QVERIFY(second->isVisible());
    QVERIFY(!first->isVisible());
    QCOMPARE(second->shows, 1);

    container->ShowPage(99);
    QCOMPARE(container->currentPageId(), 99);
    QVERIFY(!container->isVisible());
    QVERIFY(!first->isVisibleTo(container) && !second->isVisibleTo(container));

    container->ShowPage(2);  // the same page again after an unknown id
    QVERIFY(container->isVisible());
    QVERIFY(second->isVisible());
    QCOMPARE(second->shows, 2);
    QCOMPARE(first->inits, 1);

    // A page shows its unnumbered child pages and hides the numbered ones.
    auto* numbered = new ProbePage;
    numbered->setParent(first);
    numbered->pageId = 7;
    auto* unnumbered = new ProbePage;
    unnumbered->setParent(first);
    container->ShowPage(1);
    QVERIFY(!numbered->isVisible());
    QVERIFY(unnumbered->isVisible());
    QCOMPARE(unnumbered->shows, 1);
    QCOMPARE(numbered->shows, 0);

    // "Deleted only" is remembered and handed to the page.
    QVERIFY(!first->deletedOnly);
    QVERIFY(!first->cancelFlag.load());
    first->ApplyDeletedOnly(true);
    QVERIFY(first->deletedOnly);
    QCOMPARE(first->deletedCalls, 1);
    QVERIFY(first->lastDeleted);
  }

  void pagesAreDestroyedLastAddedFirst() {
    // The results page scans the reader the backup list owns: it must go first.
    std::vector<int> order;
    {
      CFunctionDlgContainer container;
      for (int id : {1, 2, 3}) container.AddPage(new MortalPage(&order, id), id);
    }
    QCOMPARE(order, (std::vector<int>{3, 2, 1}));
  }

  void busBelongsToTheWindowOfAWidget() {
    QWidget window;
    PageBus bus;
    PageBus::Attach(&window, &bus);
    auto* child = new QWidget(new QWidget(&window));
    QCOMPARE(PageBus::Of(child), &bus);
    QWidget stray;
    QCOMPARE(PageBus::Of(&stray), PageBus::Instance());
  }

  void scanStateDisablesTheTopButtonsAndClosingAsks() {
    CSalvageDlg window;
    window.show();
    int asked = 0;
    bool answer = false;
    window.askQuestion = [&](const QString&) {
      ++asked;
      return answer;
    };
    QCOMPARE(window.pageContainer()->currentPageId(), page::kHome);
    QCOMPARE(window.size(), QSize(CSalvageDlg::kWidth, CSalvageDlg::kHeight));  // the default size
    // Device mode and recovery mode both have their pages.
    QVERIFY(window.topButton(CSalvageDlg::kDeviceButton)->isEnabled());
    QVERIFY(window.topButton(CSalvageDlg::kDfuButton)->isEnabled());

    emit window.bus()->scanState(page::kScanStarted);
    QVERIFY(window.busy());
    for (int id : {CSalvageDlg::kHomeButton, CSalvageDlg::kDeviceButton, CSalvageDlg::kFileButton,
                   CSalvageDlg::kDfuButton}) {
      QVERIFY(!window.topButton(id)->isEnabled());
    }

    // The close button and a window-system close (Alt+F4) both ask.
    QTest::mouseClick(window.titleButton(CSalvageDlg::kCloseButton), Qt::LeftButton);
    QCOMPARE(asked, 1);
    QVERIFY(window.isVisible());
    QCloseEvent systemClose;
    QApplication::sendEvent(&window, &systemClose);
    QCOMPARE(asked, 2);
    QVERIFY(!systemClose.isAccepted());
    QTest::keyClick(&window, Qt::Key_Escape);  // not a way to close: no question either
    QCOMPARE(asked, 2);
    QVERIFY(window.isVisible());

    emit window.bus()->scanState(page::kScanEnded);
    QVERIFY(!window.busy());
    for (int id : {CSalvageDlg::kHomeButton, CSalvageDlg::kDeviceButton, CSalvageDlg::kFileButton}) {
      QVERIFY(window.topButton(id)->isEnabled());
    }
    window.close();
    QCOMPARE(asked, 2);  // idle: no question
    QVERIFY(!window.isVisible());

    // During a scan, the window closes when the user agrees to the question.
    window.show();
    window.askQuestion = [](const QString& text) { return text == Translate(QStringLiteral("IDS_SCAN_EXIT")); };
    emit window.bus()->scanState(page::kScanStarted);
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
  }

  void optionsOkWritesTheSettingsAndCancelDoesNot() {
    QTemporaryDir dir;
    const QString chosen = QDir(dir.path()).filePath(QStringLiteral("chosen"));
    QVERIFY(QDir().mkpath(chosen));
    // A program that ships English, German and French.
    for (const char* language : {"en", "de", "fr"}) {
      const QString folder = QDir(dir.path()).filePath(QStringLiteral("dic/") + QLatin1String(language));
      QVERIFY(QDir().mkpath(folder));
      QVERIFY(QFile::copy(QStringLiteral(QUARRY_SOURCE_DIC "/") + QLatin1String(language) + QStringLiteral("/quarry.ini"),
                          QDir(folder).filePath(QStringLiteral("quarry.ini"))));
    }
    CSalvageSettings settings;
    settings.Locate(dir.path(), QDir(dir.path()).filePath(QStringLiteral("config")));
    settings.Load();
    settings.recoveryFolder = dir.path();

    // One run of the dialog: check the box, pick a language (or keep it), type a folder,
    // press OK or Cancel; returns what it told the user.
    bool languageChanged = false;
    const auto run = [&](bool ok, int language, const QString& folder) {
      COptionDlg dialog(settings);
      dialog.show();
      QStringList told;
      dialog.inform = [&](const QString& text) { told.append(text); };
      dialog.openFolderBox()->setChecked(true);
      if (language >= 0) dialog.languageList()->setCurrentIndex(language);
      dialog.folderField()->setText(folder);
      QTest::mouseClick(ok ? dialog.okButton() : dialog.cancelButton(), Qt::LeftButton);
      [&] { QCOMPARE(dialog.result(), int{ok ? QDialog::Accepted : QDialog::Rejected}); }();
      languageChanged = dialog.languageChanged();
      return told;
    };
    QVERIFY(run(false, 1, QStringLiteral("/no/such/folder")).isEmpty());
    QCOMPARE(settings.autoOpen, 0);
    QCOMPARE(settings.language, 0);
    QVERIFY(!QFile::exists(settings.SettingsPath()));

    {
      // Only the shipped languages are offered; French is the third.
      COptionDlg dialog(settings);
      QCOMPARE(dialog.languageList()->count(), 3);
    }
    // A folder that does not exist is ignored; a new language asks for a restart.
    QCOMPARE(run(true, 2, QStringLiteral("/no/such/folder")), QStringList{Translate(QStringLiteral("IDS_RESTART_PROGRAME"))});
    QVERIFY(languageChanged);
    QCOMPARE(settings.autoOpen, 1);
    QCOMPARE(settings.language, 3);
    QCOMPARE(settings.recoveryFolder, QDir(dir.path()).absolutePath());

    {
      COptionDlg dialog(settings);
      QCOMPARE(dialog.languageList()->currentIndex(), 2);
      QVERIFY(dialog.openFolderBox()->isChecked());
    }
    QVERIFY(run(true, -1, chosen).isEmpty());  // same language: no restart message
    // OK saves (what is saved reads back: settings_test).
    QVERIFY(QFile::exists(settings.SettingsPath()));
    QCOMPARE(settings.recoveryFolder, chosen);
  }

  void keysNeverCloseTheWindow() {
    CSalvageDlg window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    int asked = 0;
    window.askQuestion = [&](const QString&) {
      ++asked;
      return true;
    };
    // The window system's buttons are not in the Tab chain: Enter cannot reach them.
    for (int id : {CSalvageDlg::kMinimiseButton, CSalvageDlg::kMaximiseButton, CSalvageDlg::kCloseButton}) {
      QCOMPARE(window.titleButton(id)->focusPolicy(), Qt::NoFocus);
    }
    for (int i = 0; i < 40; ++i) {
      QTest::keyClick(&window, Qt::Key_Tab);
      QWidget* focus = QApplication::focusWidget();
      QVERIFY(focus != window.titleButton(CSalvageDlg::kCloseButton));
      QVERIFY(focus != window.titleButton(CSalvageDlg::kMinimiseButton));
    }
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
      window.titleButton(CSalvageDlg::kMenuButton)->setFocus();
      QTest::keyClick(&window, static_cast<Qt::Key>(key));
      if (window.menu()->isVisible()) window.menu()->close();
      QTest::keyClick(&window, Qt::Key_Escape);
      QVERIFY(window.isVisible());
      QVERIFY(!window.isMinimized());
    }
    QCOMPARE(asked, 0);
  }

  void theWindowResizesAndMaximisesAndItsListsGrow() {
    CSalvageDlg window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.minimumSize(), QSize(CSalvageDlg::kMinWidth, CSalvageDlg::kMinHeight));
    QTest::mouseClick(window.topButton(CSalvageDlg::kFileButton), Qt::LeftButton);
    QWidget* list = window.pageContainer()->Page(page::kBackupList)->findChild<QWidget*>(QStringLiteral("backupEmpty"));
    QVERIFY(list != nullptr);
    const int before = list->width();
    window.resize(1300, 900);
    QTRY_COMPARE(window.size(), QSize(1300, 900));
    QTRY_VERIFY(list->width() >= before + 300);  // the list takes the new width
    QTest::mouseClick(window.titleButton(CSalvageDlg::kMaximiseButton), Qt::LeftButton);
    QTRY_VERIFY(window.isMaximized());
    QTest::mouseClick(window.titleButton(CSalvageDlg::kMaximiseButton), Qt::LeftButton);
    QTRY_VERIFY(!window.isMaximized());
  }

  void theMenuHasHelpAndAboutButNoUpdater() {
    CSalvageDlg window;
    window.show();
    QList<QAction*> actions;
    QStringList texts;
    for (QAction* action : window.menu()->actions()) {
      if (action->isSeparator()) continue;
      actions.append(action);
      texts.append(action->text());
    }
    QCOMPARE(texts, (QStringList{Translate(QStringLiteral("IDS_MENU_DIALOG_OPTIONS")),
                                 Translate(QStringLiteral("IDS_MENU_DIALOG_DIAGNOSTICS")),
                                 Translate(QStringLiteral("IDS_MENU_DIALOG_HELP")),
                                 Translate(QStringLiteral("IDS_MENU_DIALOG_ABOUT"))}));

    // Each dialog opens centred on the window; what it shows is read while it is open.
    struct Case { int action; const char* objectName; QStringList shows; };
    const Case cases[] = {
        {1, "deviceDiagnostics", {}},
        {2, "helpDialog", {QStringLiteral("idevicebackup2 backup --full DIR"), QStringLiteral("MobileSync")}},
        {3, "aboutDialog", {QStringLiteral(QUARRY_TEST_VERSION), QStringLiteral("SQLite"), QStringLiteral("OpenSSL"),
                            QStringLiteral("libplist"), QStringLiteral("zlib"), QString::fromLatin1(qVersion())}},
    };
    for (const Case& c : cases) {
      QString text;
      QPoint offset;
      QTimer::singleShot(0, &window, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr) return;
        QCOMPARE(dialog->objectName(), QLatin1String(c.objectName));
        if (auto* browser = dialog->findChild<QTextBrowser*>()) text = browser->toPlainText();
        offset = dialog->geometry().center() - window.geometry().center();
        dialog->close();
      });
      actions[c.action]->trigger();
      for (const QString& part : c.shows) QVERIFY2(text.contains(part), qPrintable(part + QStringLiteral(" in ") + text));
      QVERIFY2(offset.manhattanLength() < 40, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
    }
  }

  void messageBoxesAreCentredAndCarryNoStockIcons() {
    qApp->setStyleSheet(LoadStyleSheet());
    CSalvageDlg window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (const bool warning : {false, true}) {
      bool checked = false;
      QTimer::singleShot(0, &window, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        checked = box->icon() == QMessageBox::NoIcon && box->iconPixmap().isNull();
        for (QAbstractButton* button : box->buttons()) checked = checked && button->icon().isNull();
        checked = checked && (box->geometry().center() - window.geometry().center()).manhattanLength() < 40;
        box->accept();
      });
      // From a page deep inside the window: still centred on the window.
      QWidget* page = window.pageContainer()->Page(page::kHome);
      if (warning) {
        WarnUser(page, QStringLiteral("Quarry"), QStringLiteral("text"));
      } else {
        InformUser(page, QStringLiteral("Quarry"), QStringLiteral("text"));
      }
      QVERIFY(checked);
    }
    qApp->setStyleSheet(QString());
  }

  void leavingTheResultsByATabKeepsThem() {
    sieve::test::TempDir dir;
    sieve::test::MakeBackup(dir, "Backup/phone", {"--profile", "small", "--display-name", "Kept Phone"});
    AppSettings().backupsFolder = QString::fromStdString(dir.Path() + "/Backup");
    CSalvageDlg window;
    window.show();
    auto* results = qobject_cast<CRecoveryMainDlg*>(window.pageContainer()->Page(page::kResults));
    auto* list = qobject_cast<CFileItunesDlg*>(window.pageContainer()->Page(page::kBackupList));
    QTest::mouseClick(window.topButton(CSalvageDlg::kFileButton), Qt::LeftButton);
    QCOMPARE(window.pageContainer()->currentPageId(), page::kBackupList);
    QVERIFY(!list->BackToResultsButton()->isVisible());  // nothing kept yet
    QCOMPARE(list->List()->topLevelItemCount(), 1);
    QSignalSpy finished(results, &CRecoveryMainDlg::scanFinished);
    QVERIFY(list->ScanRow(0));
    QTRY_COMPARE(window.pageContainer()->currentPageId(), page::kResults);
    QVERIFY(finished.count() > 0 || finished.wait(120000));
    const qsizetype found = results->Contacts().FoundCount();
    QVERIFY(found > 0);

    QTest::mouseClick(window.topButton(CSalvageDlg::kHomeButton), Qt::LeftButton);
    QCOMPARE(window.pageContainer()->currentPageId(), page::kHome);
    QVERIFY(window.topButton(CSalvageDlg::kHomeButton)->isChecked());
    QTest::mouseClick(window.topButton(CSalvageDlg::kFileButton), Qt::LeftButton);
    QCOMPARE(window.pageContainer()->currentPageId(), page::kResults);  // the results, not a new scan
    QVERIFY(!results->Scanning());
    QCOMPARE(results->Contacts().FoundCount(), found);
    QCOMPARE(finished.count(), 1);

    // A page's request to show another is queued, as a page posts it from its own slots.
    QTest::mouseClick(results->findChild<QPushButton*>(QStringLiteral("resultsOtherBackup")), Qt::LeftButton);
    QCOMPARE(window.pageContainer()->currentPageId(), page::kResults);
    QTRY_COMPARE(window.pageContainer()->currentPageId(), page::kBackupList);
    QVERIFY(list->BackToResultsButton()->isVisible());
    QTest::mouseClick(list->BackToResultsButton(), Qt::LeftButton);
    QTRY_COMPARE(window.pageContainer()->currentPageId(), page::kResults);
    QCOMPARE(results->Contacts().FoundCount(), found);
    QCOMPARE(finished.count(), 1);
    AppSettings().backupsFolder.clear();
  }

  void theHomeCardsFitInEveryShippedLanguage() {
    for (const char* language : {"en", "de", "fr"}) {
      CRBDictionary& dictionary = AppDictionary();
      dictionary.Clear();
      QVERIFY(dictionary.LoadFile(QStringLiteral(QUARRY_SOURCE_DIC "/") + QLatin1String(language) + QStringLiteral("/quarry.ini")));
      qApp->setStyleSheet(LoadStyleSheet());
      CSalvageDlg window;
      window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&window));
      auto* home = qobject_cast<CHomeDlg*>(window.pageContainer()->Page(page::kHome));
      for (CImageButton* card : {home->deviceButton(), home->fileButton()}) {
        QLabel* caption = card->findChild<QLabel*>(QStringLiteral("homeCaption"));
        QVERIFY(caption != nullptr);
        QCOMPARE(caption->text(), card->caption());
        // The whole caption is inside the card: as tall as its wrapped text needs, no wider than the card.
        QVERIFY2(caption->height() >= caption->heightForWidth(caption->width()), language);
        QVERIFY2(caption->geometry().bottom() < card->height() && caption->geometry().right() < card->width(), language);
        QVERIFY2(caption->fontMetrics().boundingRect(QRect(0, 0, caption->width(), 1000), Qt::TextWordWrap, caption->text())
                         .width() <= caption->width(), language);
      }
    }
    qApp->setStyleSheet(QString());
    AppDictionary().Clear();
    AppDictionary().LoadFile(QStringLiteral(QUARRY_SOURCE_DIC "/en/quarry.ini"));
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
