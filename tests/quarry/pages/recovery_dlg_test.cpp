// The recovery dialog over real contact exports: progress to the end with a window
// thread that keeps answering, a cancel or close in the middle that returns at once and
// says so, destroying it mid-run, and writes that fail with their names.
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <unistd.h>

#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/recovery_dlg.h"
#include "quarry/views/contacts_model.h"

namespace quarry {

namespace {

// `copies` exports of `count` contacts named "Person <n>", so every one gets its own vCard.
// An export is a copy: it outlives the list it was taken from.
std::vector<std::unique_ptr<views::CategoryExport>> Exports(int count, int copies) {
  views::ContactsModel model;
  for (int n = 0; n < count; ++n) {
    sieve::ContactRecord r;
    r.First = "Person " + std::to_string(n);
    r.Phone = "555 " + std::to_string(1000 + n);
    r.Deleted = n % 7 == 0 ? 1 : 0;
    model.AddContact(r);
  }
  std::vector<std::unique_ptr<views::CategoryExport>> exports;
  for (int k = 0; k < copies; ++k) exports.push_back(model.SnapshotChecked());
  return exports;
}

int FilesBelow(const QString& folder, const QString& pattern = QStringLiteral("*")) {
  int count = 0;
  QDirIterator it(folder, {pattern}, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    it.next();
    ++count;
  }
  return count;
}

// Longest pause between the ticks of a 10 ms timer while `running` holds.
qint64 WorstGapWhile(const std::function<bool()>& running, int limitMs) {
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0;
  qint64 worst = 0;
  QTimer tick;
  tick.setInterval(10);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    worst = std::max(worst, now - last);
    last = now;
  });
  tick.start();
  while (running() && clock.elapsed() < limitMs) QTest::qWait(5);
  return worst;
}

}  // namespace

class RecoveryDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(AppDictionary().LoadFile(QStringLiteral(QUARRY_DIC_DIR "/en/quarry.ini")));
    QCOMPARE(Translate(QStringLiteral("IDS_RECOVERY_DLG_CLOSE")), QStringLiteral("Close"));
  }

  void RunsToTheEndWhileTheWindowKeepsAnswering() {
    QTemporaryDir dir;
    CRecoveryDlg dialog(dir.path(), Exports(2000, 6));
    QList<int> seen;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] { seen.append(dialog.Progress()->value()); });
    sample.start(5);
    QElapsedTimer clock;
    clock.start();
    dialog.show();
    const qint64 worstGap = WorstGapWhile([&] { return !dialog.Finished(); }, 120000);
    sample.stop();
    QVERIFY(dialog.Finished());
    qInfo("recovery of 6 x 2000 contacts: %lld ms, worst window-thread gap %lld ms",
          static_cast<long long>(clock.elapsed()), static_cast<long long>(worstGap));
    QVERIFY2(worstGap < 1000, qPrintable(QString::number(worstGap)));

    QCOMPARE(dialog.Progress()->value(), 100);
    QCOMPARE(dialog.Percent(), 100);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
    const views::RecoverySummary summary = dialog.Summary();
    QVERIFY(!summary.Cancelled);
    QVERIFY2(summary.Report.Failed.isEmpty(), qPrintable(summary.Report.Failed.join('\n')));
    QCOMPARE(summary.Report.Written.size(), FilesBelow(dir.path()));
    QCOMPARE(FilesBelow(dir.path(), QStringLiteral("*.vcf")), 6 * 2000);
    QVERIFY(dialog.StatusText().startsWith(Translate(QStringLiteral("IDS_RECOVERY_DLG_DONE"))));
    QVERIFY(dialog.StatusText().contains(QString::number(summary.Report.Written.size())));
    QVERIFY(dialog.FailureText().isEmpty());
    QCOMPARE(dialog.CancelButton()->text(), Translate(QStringLiteral("IDS_RECOVERY_DLG_CLOSE")));
    dialog.CancelButton()->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
  }

  // Cancel, or the title bar's close, in the middle: the dialog stays to say so, the worker
  // stops at once and nothing is written after; destroying the dialog mid-run joins it promptly.
  void CancelOrCloseMidwayStopsPromptlyAndSaysCancelled() {
    for (const bool destroy : {false, true}) {
      QTemporaryDir dir;
      auto dialog = std::make_unique<CRecoveryDlg>(dir.path(), Exports(3000, 8));
      dialog->show();
      QTRY_VERIFY_WITH_TIMEOUT(FilesBelow(dir.path(), QStringLiteral("*.vcf")) > 50, 60000);
      QVERIFY(!dialog->Finished());
      QElapsedTimer clock;
      clock.start();
      if (destroy) {
        dialog->close();
      } else {
        dialog->CancelButton()->click();
      }
      QVERIFY(dialog->isVisible());
      QCOMPARE(dialog->StatusText(), Translate(QStringLiteral("IDS_RECOVERY_DLG_CANCELLING")));
      if (destroy) {
        dialog.reset();  // joins the worker, which has been told to stop
      } else {
        QTRY_VERIFY_WITH_TIMEOUT(dialog->Finished(), 5000);
      }
      qInfo("cancel answered after %lld ms", static_cast<long long>(clock.elapsed()));
      QVERIFY(clock.elapsed() < 1000);
      const int cards = FilesBelow(dir.path(), QStringLiteral("*.vcf"));
      QTest::qWait(200);  // also drains a result queued for a gone dialog
      QCOMPARE(FilesBelow(dir.path(), QStringLiteral("*.vcf")), cards);
      if (destroy) continue;
      const views::RecoverySummary summary = dialog->Summary();
      QVERIFY(summary.Cancelled);
      QVERIFY(dialog->StatusText().startsWith(Translate(QStringLiteral("IDS_RECOVERY_DLG_CANCELLED"))));
      QVERIFY(dialog->Progress()->value() < 100);
      QVERIFY(cards < 8 * 3000);
      QCOMPARE(summary.Report.Written.size(), FilesBelow(dir.path()));
      dialog->CancelButton()->click();
      QCOMPARE(dialog->result(), int(QDialog::Rejected));
    }
  }

  // A file in the way of the category's folder (nothing written), and a read-only vCard
  // folder (each card fails, the page and CSV go through): every failure named.
  void WritesThatFailAreReportedWithTheirNames() {
    for (const bool readOnly : {false, true}) {
      QTemporaryDir dir;
      const QString category = QDir(dir.path()).filePath(QStringLiteral("Contacts"));
      const QString vcf = QDir(category).filePath(QStringLiteral("VCF"));
      const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                        QFile::WriteOther | QFile::ExeOther;
      QVERIFY(QFile::setPermissions(dir.path(), open));
      if (readOnly) {
        QVERIFY(QDir().mkpath(vcf));
        QVERIFY(QFile::setPermissions(category, open));
        QVERIFY(QFile::setPermissions(vcf, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
      } else {
        QFile blocker(category);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
      }
      // Permissions do not stop root, so run the recovery as an ordinary user
      // (group too: the root group would pick the folders' empty group bits).
      struct AsUser {
        bool Root = geteuid() == 0;
        bool Switched = Root && setegid(65534) == 0 && seteuid(65534) == 0;
        ~AsUser() {
          if (Root) (void)(seteuid(0) == 0 && setegid(0) == 0);
        }
      } user;
      QVERIFY(!user.Root || user.Switched);
      views::RecoverySummary summary;
      QString failureText, statusText;
      {
        CRecoveryDlg dialog(dir.path(), Exports(3, 1));
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.Finished(), 10000);
        summary = dialog.Summary();
        failureText = dialog.FailureText();
        statusText = dialog.StatusText();
      }
      QFile::setPermissions(vcf, open);
      QVERIFY(!summary.Cancelled);
      QVERIFY(statusText.startsWith(Translate(QStringLiteral("IDS_RECOVERY_DLG_FAILED"))));
      QCOMPARE(summary.Report.Failed.size(), 3);  // HTML, CSV and VCF folders; or each vCard
      for (const QString& failure : summary.Report.Failed) QVERIFY(failureText.contains(failure));
      QCOMPARE(summary.Report.Written.isEmpty(), !readOnly);
      QVERIFY2(failureText.contains(readOnly ? QStringLiteral("Person 1.vcf") : QDir::toNativeSeparators(vcf)),
               qPrintable(failureText));
    }
  }
};

}  // namespace quarry

QTEST_MAIN(quarry::RecoveryDlgTest)
#include "recovery_dlg_test.moc"
