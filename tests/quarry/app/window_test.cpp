// The page framework, the main window's navigation and busy state, and the
// settings dialog, driven as a user would.
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
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

 private slots:
  void containerShowsByIdAndHidesAllForAnUnknownId() {
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

  void pageShowsItsUnnumberedChildAndHidesNumberedOnes() {
    QWidget top;
    auto* container = new CFunctionDlgContainer(&top);
    auto* page = new ProbePage;
    container->AddPage(page, 5);
    auto* numbered = new ProbePage;
    numbered->setParent(page);
    numbered->pageId = 7;
    auto* unnumbered = new ProbePage;
    unnumbered->setParent(page);
    top.show();
    container->ShowPage(5);
    QVERIFY(!numbered->isVisible());
    QVERIFY(unnumbered->isVisible());
    QCOMPARE(unnumbered->shows, 1);
    QCOMPARE(numbered->shows, 0);
  }

  void deletedOnlyIsRememberedAndApplied() {
    ProbePage page;
    QVERIFY(!page.deletedOnly);
    QVERIFY(!page.cancelFlag.load());
    page.ApplyDeletedOnly(true);
    QVERIFY(page.deletedOnly);
    QCOMPARE(page.deletedCalls, 1);
    QVERIFY(page.lastDeleted);
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
    QCOMPARE(window.size(), QSize(CSalvageDlg::kWidth, CSalvageDlg::kHeight));
    // Device mode and recovery-mode repair are not here yet: closed buttons.
    QVERIFY(!window.topButton(CSalvageDlg::kDeviceButton)->isEnabled());
    QVERIFY(!window.topButton(CSalvageDlg::kDfuButton)->isEnabled());

    emit window.bus()->scanState(page::kScanStarted);
    QVERIFY(window.busy());
    QVERIFY(!window.topButton(CSalvageDlg::kHomeButton)->isEnabled());
    QVERIFY(!window.topButton(CSalvageDlg::kFileButton)->isEnabled());

    // The close button and a window-system close (Alt+F4) both ask.
    QTest::mouseClick(window.titleButton(CSalvageDlg::kCloseButton), Qt::LeftButton);
    QCOMPARE(asked, 1);
    QVERIFY(window.isVisible());
    QCloseEvent systemClose;
    QApplication::sendEvent(&window, &systemClose);
    QCOMPARE(asked, 2);
    QVERIFY(!systemClose.isAccepted());
    QTest::keyClick(&window, Qt::Key_Escape);
    QCOMPARE(asked, 3);
    QVERIFY(window.isVisible());

    emit window.bus()->scanState(page::kScanEnded);
    QVERIFY(!window.busy());
    QVERIFY(window.topButton(CSalvageDlg::kHomeButton)->isEnabled());
    QVERIFY(window.topButton(CSalvageDlg::kFileButton)->isEnabled());
    QVERIFY(!window.topButton(CSalvageDlg::kDeviceButton)->isEnabled());
    window.close();
    QCOMPARE(asked, 3);  // idle: no question
    QVERIFY(!window.isVisible());
  }

  void closingDuringAScanWhenTheUserAgrees() {
    CSalvageDlg window;
    window.show();
    window.askQuestion = [](const QString& text) { return text == Translate(QStringLiteral("IDS_SCAN_EXIT")); };
    emit window.bus()->scanState(page::kScanStarted);
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
  }

  void pagesNavigateThroughTheBus() {
    CSalvageDlg window;
    window.show();
    emit window.bus()->showPage(page::kBackupList);  // queued, as a page posts it
    QCOMPARE(window.pageContainer()->currentPageId(), page::kHome);
    QTRY_COMPARE(window.pageContainer()->currentPageId(), page::kBackupList);
    QTest::mouseClick(window.topButton(CSalvageDlg::kHomeButton), Qt::LeftButton);
    QCOMPARE(window.pageContainer()->currentPageId(), page::kHome);
    QVERIFY(window.topButton(CSalvageDlg::kHomeButton)->isChecked());
    emit window.bus()->deviceState(2);
    QCOMPARE(window.deviceState(), 2);
  }

  void optionsOkWritesTheSettingsAndCancelDoesNot() {
    QTemporaryDir dir;
    const QString chosen = QDir(dir.path()).filePath(QStringLiteral("chosen"));
    QVERIFY(QDir().mkpath(chosen));
    CSalvageSettings settings;
    settings.Locate(dir.path());
    settings.Load();

    {
      COptionDlg dialog(settings);
      dialog.show();
      QStringList told;
      dialog.inform = [&](const QString& text) { told.append(text); };
      dialog.openFolderBox()->setChecked(true);
      dialog.languageList()->setCurrentIndex(1);
      dialog.folderField()->setText(QStringLiteral("/no/such/folder"));
      QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
      QCOMPARE(dialog.result(), int{QDialog::Rejected});
      QVERIFY(told.isEmpty());
    }
    QCOMPARE(settings.autoOpen, 0);
    QCOMPARE(settings.language, 0);
    QVERIFY(!QFile::exists(settings.SettingsPath()));

    {
      COptionDlg dialog(settings);
      dialog.show();
      QStringList told;
      dialog.inform = [&](const QString& text) { told.append(text); };
      dialog.openFolderBox()->setChecked(true);
      dialog.languageList()->setCurrentIndex(3);
      dialog.folderField()->setText(QStringLiteral("/no/such/folder"));  // ignored
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
      QCOMPARE(dialog.result(), int{QDialog::Accepted});
      QVERIFY(dialog.languageChanged());
      QCOMPARE(told, QStringList{Translate(QStringLiteral("IDS_RESTART_PROGRAME"))});
    }
    QCOMPARE(settings.autoOpen, 1);
    QCOMPARE(settings.language, 3);
    QCOMPARE(settings.recoveryFolder, QDir(dir.path()).absolutePath());

    {
      COptionDlg dialog(settings);
      QCOMPARE(dialog.languageList()->currentIndex(), 3);
      QVERIFY(dialog.openFolderBox()->isChecked());
      QStringList told;
      dialog.inform = [&](const QString& text) { told.append(text); };
      dialog.folderField()->setText(chosen);
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
      QVERIFY(told.isEmpty());  // same language: no restart message
    }
    CSalvageSettings reread;
    reread.Locate(dir.path());
    QVERIFY(reread.Load());
    QCOMPARE(reread.autoOpen, 1);
    QCOMPARE(reread.language, 3);
    QCOMPARE(reread.recoveryFolder, chosen);
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
