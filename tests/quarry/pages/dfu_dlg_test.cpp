// The recovery-mode page with a detector of the test's own: the counted steps that
// give up, a phone found in recovery or DFU mode with what each offers, and the
// repair dialog over the scripted idevicerestore, which erases only after a Yes.
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>

#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/dfu_dlg.h"
#include "quarry/pages/dfu_pro_dlg.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"

namespace quarry {

namespace {

tether::RecoveryDevice Phone(tether::RecoveryMode mode) {
  return tether::DescribeRecoveryDevice(mode, 0xA1B2C3, 0x8030, 0x04);  // an iPhone 11
}

// The page on a bus of its own, its messages and actions recorded.
struct Shown {
  PageBus bus;
  CDfuDlg page;
  std::vector<tether::RecoveryDevice> devices;
  QStringList told;
  std::vector<std::uint64_t> repaired;
  tether::DeviceError exitError;
  std::vector<std::uint64_t> exited;

  Shown() {
    PageBus::Attach(&page, &bus);
    page.SetDetector([this] { return devices; });
    page.SetTeller([this](const QString& text) { told << text; });
    page.SetRepair([this](const tether::RecoveryDevice& d) { repaired.push_back(d.ecid); });
    page.SetExit([this](std::uint64_t ecid) {
      exited.push_back(ecid);
      return exitError;
    });
    page.InitPage();
    page.show();
    page.OnShowPage();
  }
};

}  // namespace

class DfuDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(AppDictionary().LoadFile(QStringLiteral(QUARRY_DIC_DIR "/en/quarry.ini"))); }

  void CountsTheStepsAndGivesUp() {
    Shown shown;
    QSignalSpy pages(&shown.bus, &PageBus::showPage);
    QVERIFY(shown.page.StartButton()->isEnabled());
    shown.page.StartButton()->click();
    QVERIFY(!shown.page.StartButton()->isEnabled());
    QCOMPARE(shown.page.Steps().step(), views::DfuSteps::Step::Second);
    for (int i = 1; i < views::DfuSteps::kStepTicks; ++i) shown.page.Tick();
    QCOMPARE(shown.page.Steps().step(), views::DfuSteps::Step::Second);
    shown.page.Tick();
    QCOMPARE(shown.page.Steps().step(), views::DfuSteps::Step::Third);
    for (int i = views::DfuSteps::kStepTicks; i < views::DfuSteps::kGiveUpTicks; ++i) shown.page.Tick();
    QVERIFY(shown.told.isEmpty());  // gives up on the tick after kGiveUpTicks, not before
    shown.page.Tick();
    QCOMPARE(shown.told, QStringList{Translate(QStringLiteral("IDS_DFUMODE_FAILED"))});
    QCOMPARE(pages.count(), 1);
    QCOMPARE(pages.at(0).at(0).toInt(), page::kDeviceConnected);
    QVERIFY(shown.page.StartButton()->isEnabled());
    QVERIFY(!shown.page.Found());
  }

  void OffersWhatEachModeAllows() {
    for (const tether::RecoveryMode mode : {tether::RecoveryMode::Recovery, tether::RecoveryMode::Dfu}) {
      const bool recovery = mode == tether::RecoveryMode::Recovery;
      Shown shown;
      shown.page.StartButton()->click();
      shown.page.Tick();
      QVERIFY(!shown.page.Found());
      shown.devices = {Phone(mode)};
      shown.page.Tick();
      QVERIFY(shown.page.Found());
      QVERIFY(shown.page.FoundText()->text().contains(QStringLiteral("iPhone12,1")));
      QCOMPARE(shown.page.ExitButton()->isVisible(), recovery);
      QVERIFY(shown.page.RepairButton()->isVisible());
      shown.page.RepairButton()->click();
      QCOMPARE(shown.repaired, std::vector<std::uint64_t>{0xA1B2C3});
      if (!recovery) continue;
      // The kick-out fails, then works.
      shown.exitError = {tether::DeviceErrorKind::Disconnected, -10, "the USB connection failed"};
      shown.page.ExitButton()->click();
      QTRY_COMPARE(shown.told.size(), 1);
      QVERIFY(shown.told[0].contains(QStringLiteral("the USB connection failed")));
      QVERIFY(shown.page.ExitButton()->isEnabled());
      shown.exitError = {};
      shown.page.ExitButton()->click();
      QTRY_COMPARE(shown.page.FoundText()->text(), Translate(QStringLiteral("IDS_DFU_EXIT_DONE")));
      QCOMPARE(shown.exited, (std::vector<std::uint64_t>{0xA1B2C3, 0xA1B2C3}));
    }
    // A phone already in recovery mode when the page opens needs no steps.
    Shown shown;
    shown.devices = {Phone(tether::RecoveryMode::Recovery)};
    shown.page.OnShowPage();
    QVERIFY(shown.page.Found());
  }

  void RepairErasesOnlyAfterYes() {
    QTemporaryDir dir;
    QVERIFY(QFile::link(QStringLiteral(FAKE_IDEVICERESTORE), dir.filePath(QStringLiteral("idevicerestore"))));
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", dir.path().toUtf8() + ':' + oldPath);
    qputenv("FAKE_IDEVICERESTORE_VERSION", "idevicerestore 1.0.0+git20240709");
    qputenv("FAKE_IDEVICERESTORE_ARGS", dir.filePath(QStringLiteral("args")).toUtf8());
    QFile script(dir.filePath(QStringLiteral("script")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("out progress: 0 1.0\nout This restore will erase your device data.\nout progress: 6 1.0\n");
    script.close();
    qputenv("FAKE_IDEVICERESTORE_SCRIPT", script.fileName().toUtf8());
    for (const bool yes : {false, true}) {
      CDfuProDlg dialog(Phone(tether::RecoveryMode::Recovery), dir.filePath(QStringLiteral("cache")));
      QStringList asked;
      dialog.SetEraseQuestion([&](const QString& text) {
        asked << text;
        return yes;
      });
      QSignalSpy repaired(&dialog, &CDfuProDlg::repaired);
      dialog.show();
      QTRY_VERIFY_WITH_TIMEOUT(!dialog.Running() && dialog.Flow().state() != views::RepairFlow::State::CheckingTool &&
                                   dialog.Flow().state() != views::RepairFlow::State::Running,
                               10000);
      QCOMPARE(asked, QStringList{Translate(QStringLiteral("IDS_DFUDLG_ERASE_WARNING"))});
      QCOMPARE(dialog.Flow().state(), yes ? views::RepairFlow::State::Succeeded : views::RepairFlow::State::Cancelled);
      QCOMPARE(repaired.count(), yes ? 1 : 0);
      QFile args(dir.filePath(QStringLiteral("args")));
      QVERIFY(args.open(QIODevice::ReadOnly));
      QCOMPARE(args.readAll().contains("-e\n"), yes);
    }
    qputenv("PATH", oldPath);
  }
};

}  // namespace quarry

QTEST_MAIN(quarry::DfuDlgTest)
#include "dfu_dlg_test.moc"
