// The results page driven as a user would, over backups made by tools/mkbackup: a scan
// to the end, pause/resume, stop and restart with the window thread's worst gap, a wrong
// password, an unreadable index, the backup's warnings as a notice, filters and checks,
// recoveries, and the headless recovery giving the same files.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "export_parsers.h"
#include "quarry/app/rb_dictionary.h"
#include "quarry/app/salvage_settings.h"
#include "quarry/controls/menu_container.h"
#include "quarry/pages/contact_info_dlg.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"
#include "quarry/pages/recovery_dlg.h"
#include "quarry/pages/recovery_main_dlg.h"
#include "quarry/views/backup_open.h"
#include "quarry/views/category_table.h"
#include "quarry/views/contacts_model.h"
#include "support/test_support.h"

namespace quarry {

namespace {

// Found and checked items summed over every view, as the window's tally should count them.
std::pair<qint64, qint64> AllViews(const CRecoveryMainDlg& page) {
  qint64 found = 0, checked = 0;
  views::ForEachCategory([&](const views::CategoryRow& row) {
    if (const views::CategoryModel* model = page.Model(row.pageId)) {
      found += model->FoundCount();
      checked += model->CheckedCount();
    }
  });
  return {found, checked};
}

// One page over one backup on its bus's shelf, with what it told the user.
struct Fixture {
  PageBus bus;
  std::shared_ptr<views::ShelfBackup> backup;
  sieve::CItunesBackupReader& reader;
  int index;
  CRecoveryMainDlg page;
  QStringList messages;
  QStringList opened;
  QStringList chooserStarts;  // where each Recover's folder chooser started
  QString chosen;             // its answer; null: the folder it started at
  QSignalSpy finished{&page, &CRecoveryMainDlg::scanFinished};

  explicit Fixture(const std::string& folder)
      : backup(bus.Shelf().Add(QString::fromStdString(folder))),
        reader(backup->reader),
        index(views::ShelfBackup::kIndex) {
    PageBus::Attach(&page, &bus);
    page.InitPage();
    page.SetMessageSink([this](const QString& text) { messages.append(text); });
    page.SetFolderOpener([this](const QString& f) { opened.append(f); });
    page.SetRecoveryFolderChooser([this](const QString& start) {
      chooserStarts.append(start);
      return chosen.isNull() ? start : chosen;
    });
  }
  // Hands the backup over by its folder, as the backup list does, and shows the page.
  void Start() {
    emit bus.setScanSource(backup->folder);
    page.show();
    page.OnShowPage();
  }
  // Waits for the scan that follows `before` finished ones.
  bool WaitFinished(int before = 0) { return finished.count() > before || finished.wait(120000); }
  bool Scan() {
    Start();
    return WaitFinished();
  }
  QPushButton* Button(const char* name) { return page.findChild<QPushButton*>(QLatin1String(name)); }
  QLabel* Label(const char* name) { return page.findChild<QLabel*>(QLatin1String(name)); }
  CContactInfoDlg* ContactsView() { return page.findChild<CContactInfoDlg*>(); }
};

// Closes the recovery dialog once its run has ended, as the user would, after
// `atEnd` has looked at it.
void CloseRecoveryDialogWhenDone(QObject* context, std::function<void(CRecoveryDlg*)> atEnd = {}) {
  auto* timer = new QTimer(context);
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, context, [timer, atEnd] {
    auto* dialog = qobject_cast<CRecoveryDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->Finished()) return;
    timer->stop();
    timer->deleteLater();
    if (atEnd) atEnd(dialog);
    dialog->reject();
  });
  timer->start();
}

}  // namespace

class RecoveryMainDlgTest : public QObject {
  Q_OBJECT

 private:
  sieve::test::TempDir dir_;
  sieve::test::GeneratedBackup small_, large_, locked_, noIndex_, notAnIndex_, unfinished_;

 private slots:
  void initTestCase() {
    small_ = sieve::test::MakeBackup(dir_, "small", {"--profile", "small", "--display-name", "Results: Phone"});
    // Big enough that a scan lasts long enough to pause it and to watch the window.
    large_ = sieve::test::MakeBackup(dir_, "large", {"--profile", "large", "--size-mb", "60"});
    // Every category, encrypted: what the window and the headless recovery write is compared.
    const auto pw = sieve::test::WritePasswordFile(dir_, "right one");
    locked_ = sieve::test::MakeBackup(
        dir_, "locked", {"--profile", "sample", "--encrypted", "--iterations", "1", "--password-file", pw});
    // Backups whose index cannot be read: none at all, and a Manifest.db that is not one.
    noIndex_ = sieve::test::MakeBackup(dir_, "noindex", {"--profile", "small"});
    std::filesystem::remove(noIndex_.Folder + "/Manifest.mbdb");
    notAnIndex_ = sieve::test::MakeBackup(dir_, "notanindex", {"--profile", "small", "--manifest-db"});
    sieve::test::WriteFile(notAnIndex_.Folder + "/Manifest.db", "not an index at all");
    unfinished_ = sieve::test::MakeBackup(
        dir_, "unfinished", {"--profile", "small", "--manifest-db", "--snapshot-state", "uploading", "--incremental"});
    // ... whose call history is not a database at all.
    for (const auto& file : sieve::test::ReadTruthFiles(unfinished_.TruthPath)) {
      if (file.Path == "Library/CallHistoryDB/CallHistory.storedata") {
        sieve::test::WriteFile(unfinished_.Folder + "/" + file.StoredPath, "not a database");
      }
    }
    AppSettings().autoOpen = 0;
    // The program's English texts, as a user of the window sees them.
    QString error;
    QVERIFY2(AppDictionary().LoadFile(QStringLiteral(QUARRY_DIC_DIR "/en/quarry.ini"), &error), qPrintable(error));
    QCOMPARE(Translate(QStringLiteral("IDS_RECOVER_MAIN_BTN_PAUSE")), QStringLiteral("Pause"));
  }

  void ScansToTheEndWithCountsTotalsAndAgainWhenHandedAnew() {
    Fixture f(small_.Folder);
    QSignalSpy state(&f.bus, &PageBus::scanState);
    QVERIFY(!f.page.HasResults());
    f.Start();
    QVERIFY(f.page.Scanning());
    QCOMPARE(state.count(), 1);
    QCOMPARE(state.at(0).at(0).toInt(), page::kScanStarted);
    QVERIFY(!f.Button("resultsRecover")->isEnabled());
    QVERIFY(f.WaitFinished());
    QVERIFY(!f.page.Scanning());
    QCOMPARE(state.count(), 2);
    QCOMPARE(state.at(1).at(0).toInt(), page::kScanEnded);
    QCOMPARE(f.page.ProgressValue(), 100);
    QCOMPARE(f.Button("resultsStop")->text(), Translate(QStringLiteral("IDS_RECOVER_MAIN_BTN_START")));
    QVERIFY(!f.Button("resultsPause")->isEnabled());
    QVERIFY(f.Button("resultsRecover")->isEnabled());
    QVERIFY(f.messages.isEmpty());
    QVERIFY(!f.page.ScanFailed());
    QCOMPARE(f.Label("resultsStatus")->text(), Translate(QStringLiteral("IDS_RECOVERY_RECOVERYMAIN_SCANFINISH")));
    QVERIFY(f.Label("resultsNotice")->isHidden());  // nothing to warn about

    // Found items arrive checked, counted on their entry and in the totals (what the reader
    // finds is the reader's tests' concern).
    const views::ContactsModel& contacts = f.page.Contacts();
    QVERIFY(contacts.FoundCount() > 0);
    CMenuItemEx* entry = f.page.Categories()->Entry(page::kFirstCategoryView);
    QVERIFY(entry->isEnabled());
    QVERIFY(entry->isChecked());
    QCOMPARE(entry->count(), static_cast<qint64>(contacts.FoundCount()));
    QCOMPARE(f.page.Tally().FoundCount(), AllViews(f.page).first);
    QCOMPARE(f.page.Tally().CheckedCount(), f.page.Tally().FoundCount());

    // Categories without a view in this version show their count but cannot be opened.
    views::ForEachCategory([&f](const views::CategoryRow& row) {
      CMenuItemEx* viewless = f.page.Categories()->Entry(row.pageId);
      if (row.makeModel != nullptr || viewless->count() == 0) return;
      QVERIFY(!viewless->isEnabled());
      QVERIFY(!viewless->toolTip().isEmpty());
    });
    CMenuItemEx* voicemail = f.page.Categories()->Entry(100063);
    QCOMPARE(voicemail->count(), 0);
    QCOMPARE(f.page.Categories()->Entries().size(), 18);

    // A backup handed over anew scans again (shown again by a tab it does not: window_test).
    QVERIFY(f.page.HasResults());
    f.Start();
    QVERIFY(f.page.Scanning());
    QVERIFY(f.WaitFinished(1));
  }

  void AWrongPasswordEndsTheScanAndGoesBackToTheList() {
    Fixture f(locked_.Folder);
    f.reader.SetPassword(f.index, "not it");
    QSignalSpy state(&f.bus, &PageBus::scanState);
    QSignalSpy shown(&f.bus, &PageBus::showPage);
    QVERIFY(f.Scan());
    QCOMPARE(f.finished.at(0).at(0).toInt(), -1);
    QCOMPARE(state.count(), 2);
    QCOMPARE(state.at(1).at(0).toInt(), page::kScanEnded);
    QCOMPARE(f.messages, QStringList{Translate(QStringLiteral("ITUNES_ERROR_PWD"))});
    QCOMPARE(shown.count(), 1);
    QCOMPARE(shown.at(0).at(0).toInt(), page::kBackupList);
  }

  void AScanThatCannotReadTheIndexEndsAsFailedWithItsReason() {
    for (const auto* backup : {&noIndex_, &notAnIndex_}) {
      Fixture f(backup->Folder);
      QSignalSpy state(&f.bus, &PageBus::scanState);
      QVERIFY(f.Scan());
      QCOMPARE(f.finished.at(0).at(0).toInt(), 0);
      QVERIFY(f.page.ScanFailed());
      const QString reason = Q(f.reader.LastErrorText(f.index));
      QVERIFY2(reason.contains(QStringLiteral("Manifest")), qPrintable(reason));
      // Failed, with the reader's reason, not "finished" over empty lists.
      QCOMPARE(f.Label("resultsStatus")->text(), Translate(QStringLiteral("IDS_RECOVER_MAIN_SCAN_FAILED")));
      const QString told = views::BackupErrorText(f.reader, f.index, [](const QString& key) { return Translate(key); });
      QVERIFY2(told.contains(reason) && told.contains(QDir::toNativeSeparators(Q(backup->Folder))), qPrintable(told));
      QCOMPARE(f.Label("resultsNotice")->text(), told);
      QVERIFY(!f.Label("resultsNotice")->isHidden());
      QCOMPARE(f.messages, QStringList{told});
      QCOMPARE(state.count(), 2);
      QCOMPARE(state.at(1).at(0).toInt(), page::kScanEnded);
      // Nothing to recover: Recover is off and does nothing; Start may try again.
      QVERIFY(!f.Button("resultsRecover")->isEnabled());
      sieve::test::TempDir out;
      AppSettings().recoveryFolder = Q(out.Path());
      QVERIFY(!f.page.Recover());
      QVERIFY(QDir(Q(out.Path())).isEmpty());
      QVERIFY(f.Button("resultsStop")->isEnabled());
      QCOMPARE(f.Button("resultsStop")->text(), Translate(QStringLiteral("IDS_RECOVER_MAIN_BTN_START")));
      for (CMenuItemEx* entry : f.page.Categories()->Entries()) QVERIFY(!entry->isEnabled());
    }
  }

  void TheBackupsWarningsAreANoticeAndNeverADialog() {
    Fixture f(unfinished_.Folder);
    f.Start();
    // Status.plist is read with the backup: the notice is up while the scan runs.
    QLabel* notice = f.Label("resultsNotice");
    QVERIFY(!notice->isHidden());
    QVERIFY(f.WaitFinished());
    const std::vector<std::string> warnings = f.reader.Warnings(f.index);
    QCOMPARE(warnings.size(), std::size_t{3});
    QStringList lines;
    for (std::size_t i = 0; i < 2; ++i) {
      lines.append(Translate(QStringLiteral("IDS_BACKUP_WARNING")).arg(Q(warnings[i])));
    }
    // The damaged database in the user's language, not in the library's English line.
    lines.append(Translate(QStringLiteral("IDS_RECOVER_MAIN_DATABASE_UNREADABLE"))
                     .arg(QStringLiteral("HomeDomain/Library/CallHistoryDB/CallHistory.storedata")));
    QCOMPARE(notice->text(), lines.join(QLatin1Char('\n')));
    QVERIFY(notice->text().contains(QStringLiteral("uploading")));
    QVERIFY(!notice->isHidden());
    QVERIFY(f.messages.isEmpty());
    QVERIFY(!f.page.ScanFailed());
    QVERIFY(f.page.Contacts().FoundCount() > 0);
  }

  void FiltersAndSearchKeepChecksAndRecoveryWritesTheCheckedItems() {
    Fixture f(small_.Folder);
    QVERIFY(f.Scan());
    views::ContactsModel& model = f.page.Contacts();
    const qsizetype n = model.FoundCount();
    qsizetype deleted = 0;
    for (qsizetype i = 0; i < n; ++i) deleted += model.Item(i).Deleted ? 1 : 0;
    QVERIFY2(deleted > 0 && deleted < n, "the generated backup has live and deleted contacts");
    QCOMPARE(f.page.CurrentCategory(), page::kFirstCategoryView);

    // Deleted only, then Invert: the deleted items are cleared, the hidden live ones stay checked.
    auto* box = f.page.findChild<QCheckBox*>(QStringLiteral("resultsDeletedOnly"));
    box->setChecked(true);
    QCOMPARE(model.rowCount(), static_cast<int>(deleted));
    QCOMPARE(model.CheckedCount(), n);
    f.Button("resultsInvert")->click();
    QCOMPARE(model.CheckedCount(), n - deleted);
    QCOMPARE(f.page.Tally().CheckedCount(), AllViews(f.page).second);
    QCOMPARE(f.page.Tally().FoundCount(), AllViews(f.page).first);
    box->setChecked(false);
    QCOMPARE(model.rowCount(), static_cast<int>(n));
    QCOMPARE(model.CheckedCount(), n - deleted);

    // A search hides rows but no checks; Select all then checks only the shown ones.
    const QString someone = model.Item(0).Name;
    auto* search = f.page.findChild<QLineEdit*>(QStringLiteral("resultsSearch"));
    search->setText(someone);
    QVERIFY(model.rowCount() >= 1 && model.rowCount() < static_cast<int>(n));
    QCOMPARE(model.CheckedCount(), n - deleted);

    // Recover with the search still on: every checked item is written, hidden or not.
    sieve::test::TempDir out;
    AppSettings().recoveryFolder = Q(out.Path());
    AppSettings().autoOpen = 1;
    CloseRecoveryDialogWhenDone(&f.page);
    QVERIFY(f.page.Recover());
    AppSettings().autoOpen = 0;
    const QString folder = views::test::OnlyRecoveryFolder(Q(out.Path()), QStringLiteral("Results_ Phone"));
    QVERIFY2(!folder.isEmpty(), "one time-stamped folder below the cleaned backup name");
    QCOMPARE(f.page.LastSummary().Folder, folder);
    QCOMPARE(f.opened, QStringList{folder});
    QVERIFY(f.page.LastSummary().Report.Failed.isEmpty());

    // Every checked item, hidden or not (which ones: contact_info_dlg_test): one card each.
    QCOMPARE(QDir(QDir(folder).filePath(QStringLiteral("Contacts/VCF"))).entryList(QDir::Files).size(), n - deleted);

    // A click on the entry's caption clears the filters and re-applies its check to all.
    f.page.ShowCategory(page::kFirstCategoryView, true);
    QVERIFY(search->text().isEmpty());
    QVERIFY(model.Search().isEmpty());
    QCOMPARE(model.rowCount(), static_cast<int>(n));
    QCOMPARE(model.CheckedCount(), n);
    QCOMPARE(f.page.Tally().CheckedCount(), AllViews(f.page).second);
  }

  // Every category of an encrypted backup: the same files from both, its pictures decrypted
  // (plain and encrypted backups read alike: the reader's tests).
  void TheHeadlessRecoveryWritesTheSameFilesAsTheWindow() {
    const std::string password = sieve::test::WritePasswordFile(dir_, "right one");
    Fixture f(locked_.Folder);
    f.reader.SetPassword(f.index, "right one");
    QVERIFY(f.Scan());
    sieve::test::TempDir windowOut;
    AppSettings().recoveryFolder = Q(windowOut.Path());
    CloseRecoveryDialogWhenDone(&f.page);
    QVERIFY(f.page.Recover());
    const QString name = Q(f.reader.BackupName(f.index));
    const QString windowFolder = views::test::OnlyRecoveryFolder(Q(windowOut.Path()), name);
    QVERIFY(!windowFolder.isEmpty());

    sieve::test::TempDir cliOut;
    const auto run = sieve::test::RunCommand(
        {QUARRY_CLI, "--recover", locked_.Folder, "--out", cliOut.Path(), "--password-file", password}, {},
        {"QT_QPA_PLATFORM=offscreen"});
    QVERIFY2(run.ExitCode == 0, run.Err.c_str());
    const QString cliFolder = views::test::OnlyRecoveryFolder(Q(cliOut.Path()), name);
    QVERIFY(!cliFolder.isEmpty());

    const auto windowFiles = views::test::FilesBelow(windowFolder);
    const auto cliFiles = views::test::FilesBelow(cliFolder);
    QVERIFY(windowFiles.size() > 3);
    std::vector<std::string> windowNames, cliNames;
    for (const auto& [file, bytes] : windowFiles) windowNames.push_back(file);
    for (const auto& [file, bytes] : cliFiles) cliNames.push_back(file);
    QCOMPARE(windowNames, cliNames);
    int pictures = 0;
    for (const auto& [file, bytes] : windowFiles) {
      QVERIFY2(cliFiles.at(file) == bytes, file.c_str());
      if (QString::fromStdString(file).endsWith(QStringLiteral(".JPG"), Qt::CaseInsensitive)) {
        ++pictures;
        QVERIFY2(bytes.startsWith("\xFF\xD8"), file.c_str());  // a picture, not ciphertext
      }
    }
    QVERIFY(pictures > 0);
  }

  // One large scan driven through its states: paused, stopped, started afresh (watched
  // for the window thread's worst gap, as its recovery is), and stopped while paused.
  void PauseStopAndStartOnALargeScanWhileTheWindowAnswers() {
    Fixture f(large_.Folder);
    QSignalSpy state(&f.bus, &PageBus::scanState);
    f.Start();
    QLabel* status = f.Label("resultsStatus");
    // Before the scan is a few percent in, the time is being estimated, never 00:00:00.
    QCOMPARE(f.Label("resultsRemaining")->text(),
             Translate(QStringLiteral("IDS_RECOVER_MAIN_STATIC_REMAINED")) + QLatin1Char(' ') +
                 Translate(QStringLiteral("IDS_RECOVER_MAIN_STATIC_ESTIMATING")));
    // A hidden page stops its timers; shown again on the running scan, no second scan.
    const auto active = [&f] {
      int n = 0;
      for (QTimer* t : f.page.findChildren<QTimer*>(Qt::FindDirectChildrenOnly)) n += t->isActive() ? 1 : 0;
      return n;
    };
    QCOMPARE(active(), 2);
    f.page.hide();
    QCOMPARE(active(), 0);
    f.page.show();
    f.page.OnShowPage();
    QCOMPARE(active(), 2);
    QVERIFY(f.page.Scanning());

    // Pause holds the scan; resume lets it go on.
    f.page.PauseOrResume();
    QVERIFY(f.page.Paused());
    QCOMPARE(f.Button("resultsPause")->text(), Translate(QStringLiteral("IDS_RECOVER_MAIN_BTN_RESUME")));
    QCOMPARE(status->text(), Translate(QStringLiteral("IDS_RECOVER_MAIN_STATIC_PAUSED")));
    QTest::qWait(300);  // the scan reaches its next pause check
    const float held = f.reader.GetPrg(f.index);
    const std::int64_t heldContacts = f.page.Contacts().FoundCount();
    QTest::qWait(600);
    QCOMPARE(f.reader.GetPrg(f.index), held);
    QCOMPARE(static_cast<std::int64_t>(f.page.Contacts().FoundCount()), heldContacts);
    f.page.PauseOrResume();
    QCOMPARE(f.Button("resultsPause")->text(), Translate(QStringLiteral("IDS_RECOVER_MAIN_BTN_PAUSE")));
    QCOMPARE(status->text(), Translate(QStringLiteral("IDS_RECOVER_MAIN_STATIC_SCANNING")));

    // Stopped before the end: said with the percent; WhatsApp comes last, never reached,
    // and every unreached category says so.
    f.page.StopOrStart();
    QVERIFY(f.WaitFinished());
    const int at = f.page.ProgressValue();
    QVERIFY2(at < 100, "stopped before the end");
    QCOMPARE(status->text(), Translate(QStringLiteral("IDS_RECOVER_MAIN_STATIC_STOPPED")).arg(at));
    const QString note = Translate(QStringLiteral("IDS_RECOVER_MAIN_NOT_SCANNED"));
    QCOMPARE(f.page.Categories()->Entry(100064)->note(), note);
    for (CMenuItemEx* entry : f.page.Categories()->Entries()) {
      if (!entry->note().isEmpty()) QVERIFY(entry->DisplayText().endsWith(note));
    }

    // Start again, to the end: everything emptied first, nothing marked at the end, and
    // the window thread's worst gap (a 10 ms timer) small during it and the recovery.
    qint64 worst = 0;
    QElapsedTimer clock;
    QTimer ticker;
    ticker.setInterval(10);
    connect(&ticker, &QTimer::timeout, this, [&] { worst = std::max(worst, clock.restart()); });
    clock.start();
    ticker.start();
    f.page.StopOrStart();
    QVERIFY(f.page.Scanning());
    QCOMPARE(f.page.Tally().FoundCount(), AllViews(f.page).first);
    QVERIFY(f.WaitFinished(1));
    const qint64 scanWorst = worst;
    for (CMenuItemEx* entry : f.page.Categories()->Entries()) QVERIFY(entry->note().isEmpty());
    QCOMPARE(status->text(), Translate(QStringLiteral("IDS_RECOVERY_RECOVERYMAIN_SCANFINISH")));
    const qsizetype full = f.page.Contacts().FoundCount();
    QVERIFY(full > 0);
    const qint64 fullAll = AllViews(f.page).first;
    sieve::test::TempDir out;
    AppSettings().recoveryFolder = Q(out.Path());
    CloseRecoveryDialogWhenDone(&f.page);
    worst = 0;
    clock.restart();
    QVERIFY(f.page.Recover());
    const qint64 recoveryWorst = worst;
    ticker.stop();
    qInfo("worst window-thread gap: scan %lld ms, recovery %lld ms (%lld contacts, large profile of 60 MiB)",
          static_cast<long long>(scanWorst), static_cast<long long>(recoveryWorst), static_cast<long long>(full));
    QVERIFY2(scanWorst < 1000, "the window froze during the scan");
    QVERIFY2(recoveryWorst < 1000, "the window froze during the recovery");

    // Once more: the same finds, not twice as many.
    f.page.StopOrStart();
    QVERIFY(f.WaitFinished(2));
    QCOMPARE(f.page.Contacts().FoundCount(), full);
    QCOMPARE(f.page.Tally().FoundCount(), fullAll);

    // Stop while paused ends the scan; Start is offered only once it ended.
    f.page.StopOrStart();
    f.page.PauseOrResume();
    f.page.StopOrStart();
    QVERIFY(!f.Button("resultsStop")->isEnabled());
    QVERIFY(f.WaitFinished(3));
    QVERIFY(!f.page.Paused());
    QVERIFY(f.Button("resultsStop")->isEnabled());
    QCOMPARE(f.Button("resultsStop")->text(), Translate(QStringLiteral("IDS_RECOVER_MAIN_BTN_START")));
    QCOMPARE(f.Button("resultsPause")->text(), Translate(QStringLiteral("IDS_RECOVER_MAIN_BTN_PAUSE")));
    QCOMPARE(state.count(), 8);
    for (int i = 0; i < state.count(); ++i) QCOMPARE(state.at(i).at(0).toInt(), i % 2);
    QVERIFY(f.messages.isEmpty());
  }

  void TheCategoryBoxFollowsItsItemsChecksAndRecoverAsksWhere() {
    Fixture f(small_.Folder);
    QVERIFY(f.Scan());
    CMenuItemEx* entry = f.page.Categories()->Entry(page::kFirstCategoryView);
    views::ContactsModel& model = f.page.Contacts();
    QCOMPARE(entry->checkState(), Qt::Checked);
    // A click on one row's box, as the list does it.
    model.setData(model.index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
    QCOMPARE(entry->checkState(), Qt::PartiallyChecked);
    f.Button("resultsInvert")->click();  // now only that one is checked
    QCOMPARE(entry->checkState(), Qt::PartiallyChecked);
    model.setData(model.index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
    QCOMPARE(entry->checkState(), Qt::Unchecked);
    // A click on a partly checked box checks every item.
    model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole);
    QCOMPARE(entry->checkState(), Qt::PartiallyChecked);
    const QPoint box = entry->IconRect().center();
    QTest::mouseClick(entry, Qt::LeftButton, Qt::NoModifier, box);
    QCOMPARE(entry->checkState(), Qt::Checked);
    QCOMPARE(model.CheckedCount(), model.FoundCount());

    // Recover asks where, remembers it and refuses when nothing is checked.
    sieve::test::TempDir first;
    sieve::test::TempDir second;
    AppSettings().recoveryFolder = Q(first.Path());

    // Nothing checked: a message, no chooser, no folder.
    views::ForEachCategory([&f](const views::CategoryRow& row) {
      if (row.makeModel != nullptr) f.page.ShowCategory(row.pageId, false);
    });
    QVERIFY(!f.page.Recover());
    QCOMPARE(f.messages, QStringList{Translate(QStringLiteral("IDS_RECOVER_MAIN_NOTHING_CHECKED"))});
    QVERIFY(f.chooserStarts.isEmpty());
    QVERIFY(QDir(Q(first.Path())).isEmpty());

    // Cancelled chooser: nothing written, nothing remembered.
    f.page.ShowCategory(page::kFirstCategoryView, true);
    f.chosen = QStringLiteral("");
    QVERIFY(!f.page.Recover());
    QCOMPARE(f.chooserStarts, QStringList{Q(first.Path())});
    QCOMPARE(AppSettings().recoveryFolder, Q(first.Path()));

    // Another folder: written there, remembered as the next start; the
    // summary's Open folder opens it.
    f.chosen = Q(second.Path());
    CloseRecoveryDialogWhenDone(&f.page, [](CRecoveryDlg* dialog) {
      QVERIFY(dialog->OpenFolderButton()->isVisible());
      QTest::mouseClick(dialog->OpenFolderButton(), Qt::LeftButton);
    });
    QVERIFY(f.page.Recover());
    QCOMPARE(AppSettings().recoveryFolder, Q(second.Path()));
    const QString folder = views::test::OnlyRecoveryFolder(Q(second.Path()), QStringLiteral("Results_ Phone"));
    QVERIFY(!folder.isEmpty());
    QCOMPARE(f.opened, QStringList{folder});
    f.chosen = QStringLiteral("");  // the next Recover starts at the last choice
    QVERIFY(!f.page.Recover());
    QCOMPARE(f.chooserStarts.last(), Q(second.Path()));
  }
};

}  // namespace quarry

QTEST_MAIN(quarry::RecoveryMainDlgTest)
#include "recovery_main_dlg_test.moc"
