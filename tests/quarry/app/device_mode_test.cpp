// Device mode with a scripted device: the flow's page changes and texts (trust
// reasons, several devices, unplugging), pages the user left staying inert
// (a late trust answer included), the backup's progress, stop and failures,
// a finished folder the reader rejects, and through the real window and pages
// an encrypted device backup whose password is first wrong, then cancelled or
// right (reaching the results by its folder); and once over the real device
// layer, against the scripted fake phone.
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <thread>

#include "quarry/app/rb_dictionary.h"
#include "quarry/app/salvage_dlg.h"
#include "quarry/controls/image_button.h"
#include "quarry/pages/device_pages.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"
#include "quarry/views/device_flow.h"
#include "quarry/views/scripted_device.h"
#include "quarry/views/tether_seam.h"
#include "support/test_support.h"
#include "tether/device/fake_device.h"

using namespace quarry;
using views::DeviceFlow;
using views::ScriptedDeviceState;
using views::TrustWaitReason;

namespace {

QString English(const char* key) { return views::EnglishViewText(QString::fromLatin1(key)); }

// A flow followed as the window follows it: the page it asks for is shown, queued.
struct Flow {
  std::shared_ptr<views::ScriptedDevice> device = std::make_shared<views::ScriptedDevice>();
  views::BackupShelf shelf;
  DeviceFlow flow;
  int page = 0;
  QList<int> states;
  QList<int> scans;
  QStringList messages;
  QStringList sources;
  QStringList trustTexts;  // what the trust page said each time it was shown

  explicit Flow(const QString& folder = QStringLiteral("/nonexistent/DeviceBackup"), views::DeviceSeam seam = {})
      : flow(seam.makeProbe ? std::move(seam) : device->Seam(), shelf, folder) {
    QObject::connect(&flow, &DeviceFlow::showPage, &flow, [this](int id) { Show(id); }, Qt::QueuedConnection);
    QObject::connect(&flow, &DeviceFlow::deviceState, [this](int state) { states << state; });
    QObject::connect(&flow, &DeviceFlow::scanState, [this](int state) { scans << state; });
    QObject::connect(&flow, &DeviceFlow::message, [this](const QString& text, bool) { messages << text; });
    QObject::connect(&flow, &DeviceFlow::setScanSource, [this](const QString& folder) { sources << folder; });
  }
  void Set(const std::function<void(ScriptedDeviceState&)>& change) { device->Set(change); }
  void Show(int id) {
    page = id;
    if (id == page::kTrust) trustTexts << flow.TrustText();
    flow.PageShown(id);
  }
  // From the connected page to a running backup.
  bool StartBackup() {
    Show(page::kDeviceConnected);
    flow.Scan();
    return QTest::qWaitFor([this] { return page == page::kDeviceBackup; }) && flow.BackupRunning();
  }
};

}  // namespace

class DeviceModeTest : public QObject {
  Q_OBJECT

 private:
  sieve::test::TempDir dir_;

 private slots:
  void initTestCase() {
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(AppDictionary().LoadFile(QStringLiteral(QUARRY_SOURCE_DIC "/en/quarry.ini")));
  }

  // The real seam, Tether's device classes, Debian's libraries and the backup helper, against
  // the fake phone: trust asked, then given; its name; a backup that reaches the results by
  // its folder, holding the phone's files.
  void theRealDeviceLayerCarriesAFakePhoneFromTrustToTheResults() {
    const auto& backup = sieve::test::SmallBackup("10.3.3");
    const std::string udid = "00008030-001A2B3C4D5E6F70";
    tether::test::FakeDevice fake(R"({"devices": [{"udid": ")" + udid +
                                  R"(", "name": "Fake Phone", "pair": ["pending", "ok"], "backup": {"replay": ")" +
                                  backup.Backup.Folder + R"("}}]})");
    QVERIFY2(fake.Ready(), fake.Failure().c_str());
    qputenv("QUARRY_BACKUP_HELPER", BACKUP_HELPER);
    const QString folder = QString::fromStdString(dir_.Join("real-device-backup"));
    Flow f(folder, views::TetherDeviceSeam());
    f.Show(page::kNoDevice);
    QTRY_COMPARE_WITH_TIMEOUT(f.page, page::kDeviceConnected, 20000);
    QVERIFY2(!f.trustTexts.isEmpty() && f.trustTexts.front().contains(QStringLiteral("Trust")),
             qPrintable(f.trustTexts.join(QLatin1Char('|'))));
    QVERIFY2(f.flow.DeviceText().startsWith(QStringLiteral("Fake Phone (")), qPrintable(f.flow.DeviceText()));
    f.flow.Scan();
    QTRY_VERIFY_WITH_TIMEOUT(f.page == page::kResults || !f.messages.isEmpty(), 60000);
    QVERIFY2(f.messages.isEmpty(), qPrintable(f.messages.join(QLatin1Char('\n')) + QString::fromStdString(fake.Log())));
    QCOMPARE(f.page, page::kResults);
    QCOMPARE(f.sources, QStringList{QDir(folder).filePath(QString::fromStdString(udid))});
    QVERIFY(QFile::exists(f.sources.front() + QStringLiteral("/Manifest.plist")));
    qunsetenv("QUARRY_BACKUP_HELPER");
  }

  void theTrustCheckDecidesTheNextPageAndSaysWhyItWaits() {
    struct Row { views::TrustResult trust; int page; int state; QString says; };
    const Row rows[] = {
        {{1, TrustWaitReason::None, {}}, page::kDeviceConnected, 1, {}},
        {{0, TrustWaitReason::None, {}}, page::kNoDevice, 0, {}},
        {{2, TrustWaitReason::DialogPending, {}}, page::kTrust, 2, QStringLiteral("Tap Trust")},
        {{2, TrustWaitReason::Locked, {}}, page::kTrust, 2, QStringLiteral("Unlock")},
        {{2, TrustWaitReason::Denied, {}}, page::kTrust, 2, QStringLiteral("Unplug it and plug it in again")},
        {{2, TrustWaitReason::StalePairing, {}}, page::kTrust, 2, QStringLiteral("no longer knows")},
        {{2, TrustWaitReason::Other, QStringLiteral("lockdownd: -5")}, page::kTrust, 2, QStringLiteral("(lockdownd: -5)")},
    };
    for (const Row& row : rows) {
      Flow f;
      f.Set([&row](ScriptedDeviceState& s) { s.trust = row.trust; });
      f.Show(page::kConnecting);
      QTRY_COMPARE(f.page, row.page);
      QCOMPARE(f.states.last(), row.state);
      QVERIFY2(f.flow.TrustText().contains(row.says), qPrintable(f.flow.TrustText()));
      // The check ran away from the window thread.
      QVERIFY(f.device->State().trustThread != std::this_thread::get_id());
    }

    // Waiting for trust: asked again each turn until trusted, then through connecting to connected.
    Flow f;
    f.Set([](ScriptedDeviceState& s) { s.trust = {2, TrustWaitReason::DialogPending, {}}; });
    f.Show(page::kTrust);
    f.flow.Tick();
    QTRY_VERIFY(!f.flow.TrustCheckRunning());
    QCOMPARE(f.page, page::kTrust);
    f.Set([](ScriptedDeviceState& s) { s.trust = {2, TrustWaitReason::Locked, {}}; });
    f.flow.Tick();
    QTRY_VERIFY(f.flow.TrustText().contains(QStringLiteral("Unlock")));
    f.Set([](ScriptedDeviceState& s) { s.trust = {1, TrustWaitReason::None, {}}; });
    f.flow.Tick();
    QTRY_COMPARE(f.page, page::kDeviceConnected);
    QCOMPARE(f.flow.DeviceText(), QStringLiteral("Test iPhone (iPhone 12, iOS 16.5)"));
  }

  void pollingFindsTheDeviceAndItsLeavingAndSeveralDevicesOnce() {
    Flow f;
    f.Set([](ScriptedDeviceState& s) { s.attached = false; });
    f.Show(page::kNoDevice);
    f.flow.Tick();
    QTest::qWait(20);
    QCOMPARE(f.page, page::kNoDevice);
    f.Set([](ScriptedDeviceState& s) { s.attached = true; });
    f.flow.Tick();
    QTRY_COMPARE(f.page, page::kDeviceConnected);  // through connecting

    f.Set([](ScriptedDeviceState& s) { s.several = true; });
    f.flow.Tick();
    f.flow.Tick();
    QCOMPARE(f.messages, QStringList{English("HAVE_MORE_DEVICE")});  // once while they stay
    f.flow.Scan();  // refused, and said again
    QCOMPARE(f.messages.size(), 2);
    QTest::qWait(20);
    QCOMPARE(f.page, page::kDeviceConnected);
    // The other one unplugged: the device is read again (it may be the other one).
    f.Set([](ScriptedDeviceState& s) {
      s.several = false;
      s.description = views::DeviceDescription{QStringLiteral("Anna"), QStringLiteral("iPad")};
    });
    f.flow.Tick();
    QCOMPARE(f.flow.DeviceText(), QStringLiteral("Anna (iPad)"));
    QCOMPARE(f.states.last(), 1);

    f.Set([](ScriptedDeviceState& s) { s.attached = false; });
    f.flow.Tick();
    QTRY_COMPARE(f.page, page::kNoDevice);
    QCOMPARE(f.states.last(), 0);
    // A device that cannot be read is no device.
    f.Set([](ScriptedDeviceState& s) { s.description.reset(); });
    f.Show(page::kDeviceConnected);
    QTRY_COMPARE(f.page, page::kNoDevice);
  }

  void aPageTheUserLeftNeverTakesTheWindowBack() {
    Flow f;
    f.Set([](ScriptedDeviceState& s) { s.attached = false; });
    f.Show(page::kNoDevice);
    f.Show(page::kHome);
    f.Set([](ScriptedDeviceState& s) { s.attached = true; });
    f.flow.Tick();
    QTest::qWait(20);
    QCOMPARE(f.page, page::kHome);

    // A trust answer that comes after its page was left is dropped.
    f.Set([](ScriptedDeviceState& s) { s.holdTrust = true; });
    f.Show(page::kConnecting);
    QTRY_VERIFY(f.device->State().trustChecks == 1);
    f.Show(page::kHome);
    f.Set([](ScriptedDeviceState& s) { s.holdTrust = false; });
    QTRY_VERIFY(!f.flow.TrustCheckRunning());
    QTest::qWait(50);
    QCOMPARE(f.page, page::kHome);
    QVERIFY(f.states.isEmpty());
  }

  void theBackupBarNeverGoesBackButToItsStartAndShowsThePasscodeNotice() {
    Flow f;
    QVERIFY(f.StartBackup());
    QCOMPARE(f.scans, QList<int>{page::kScanStarted});
    QCOMPARE(f.device->State().emptied, f.flow.BackupFolder());
    const std::pair<double, std::pair<int, const char*>> steps[] = {
        {10.5, {1050, "10.50%"}}, {5.0, {1050, "10.50%"}}, {42.17, {4217, "42.17%"}},
        {99.99, {9999, "99.99%"}}, {0.0, {0, "0.00%"}},
    };
    for (const auto& [progress, shown] : steps) {
      f.Set([progress = progress](ScriptedDeviceState& s) { s.progress = progress; });
      f.flow.Tick();
      QCOMPARE(f.flow.BackupValue(), shown.first);
      QCOMPARE(f.flow.PercentText(), QLatin1String(shown.second));
    }
    QCOMPARE(f.page, page::kDeviceBackup);  // 99.99 is not finished
    QVERIFY(!f.flow.PasscodeRequested());
    f.Set([](ScriptedDeviceState& s) { s.passcode = true; });
    f.flow.Tick();
    QVERIFY(f.flow.PasscodeRequested());

    f.flow.Stop();
    QCOMPARE(f.device->State().stopped, 1);
    QCOMPARE(f.scans, (QList<int>{page::kScanStarted, page::kScanEnded}));
    QTRY_COMPARE(f.page, page::kDeviceConnected);
    QVERIFY(f.messages.isEmpty());
  }

  void failuresAreToldAndLeadBackToTheConnectedPage() {
    const QString empty = QString::fromStdString(dir_.Join("empty"));
    QVERIFY(QDir().mkpath(empty));
    struct Row {
      const char* name;
      std::function<void(ScriptedDeviceState&)> script;
      bool starts;   // the backup starts before it fails
      QString says;  // the whole message, or (when not whole) what it must hold
      bool whole;
    };
    const Row rows[] = {
        {"disk full", [](ScriptedDeviceState& s) { s.errorCode = -105; }, true, English("IDS_SCAN_ERROR_SPACE"), true},
        {"device error",
         [](ScriptedDeviceState& s) { s.errorCode = 208; s.errorText = QStringLiteral("Device locked"); }, true, QStringLiteral("208\nDevice locked\n") + English("IDS_SCAN_ERROR"), true},
        {"no start", [](ScriptedDeviceState& s) { s.startOk = false; s.errorCode = -105; }, false,
         English("IDS_SCAN_ERROR_SPACE"), true},
        {"folder not emptied", [](ScriptedDeviceState& s) { s.emptyOk = false; }, false,
         QStringLiteral("refused by the script"), false},
        // Finished, but its folder holds no backup: told once, not polled for ever.
        {"rejected folder", [empty](ScriptedDeviceState& s) { s.progress = 100.0; s.doneFolder = empty; }, true,
         QDir::toNativeSeparators(empty), false},
    };
    for (const Row& row : rows) {
      Flow f;
      f.Set(row.script);
      f.Show(page::kDeviceConnected);
      f.flow.Scan();
      QTRY_VERIFY2(f.flow.BackupRunning() || !f.messages.isEmpty(), row.name);
      if (row.starts) f.flow.Tick();
      QTRY_VERIFY2(f.page == page::kDeviceConnected && !f.messages.isEmpty(), row.name);
      QCOMPARE(f.messages.size(), 1);
      QVERIFY2(row.whole ? f.messages[0] == row.says : f.messages[0].contains(row.says), qPrintable(f.messages[0]));
      QCOMPARE(f.scans, (QList<int>{page::kScanStarted, page::kScanEnded}));
      QVERIFY(!f.flow.BackupRunning());
      QCOMPARE(f.flow.BackupValue(), 0);
      QVERIFY(f.sources.isEmpty());
    }
  }

  void anEncryptedDeviceBackupAsksAgainAfterAWrongPasswordAndACancelFreesTheWindow() {
    const QString password = QStringLiteral("dev ✓ pw");
    const auto encrypted = sieve::test::MakeBackup(
        dir_, "device-enc", {"--profile", "small", "--display-name", "Device Locked", "--encrypted", "--password-file",
                             sieve::test::WritePasswordFile(dir_, password.toUtf8().toStdString())});
    const QString folder = QString::fromStdString(encrypted.Folder);
    for (const bool cancel : {true, false}) {
      CSalvageDlg window;
      auto device = std::make_shared<views::ScriptedDevice>();
      window.deviceFlow()->SetSeam(device->Seam());
      QStringList told;
      window.tellUser = [&told](const QString& text, bool) { told << text; };
      auto* analysis = qobject_cast<CAnalysisDlg*>(window.pageContainer()->Page(page::kDeviceBackup));
      QStringList asked;
      QStringList answers{QStringLiteral("wrong")};
      if (!cancel) answers << password;
      // Checked on this thread: a worker of the global pool may outlive OpenSSL's clean-up at exit.
      analysis->SetPasswordPrompt([&](const QString&, const QString& message, const views::PasswordChecker&)
                                      -> std::optional<views::PasswordOutcome> {
        asked << message;
        if (answers.isEmpty()) return std::nullopt;
        std::string typed = answers.takeFirst().toStdString();
        return views::DerivePasswordKey(encrypted.Folder, typed);
      });
      QSignalSpy sources(window.bus(), &PageBus::setScanSource);
      QSignalSpy scans(window.bus(), &PageBus::scanState);
      window.show();

      // The Device button follows the device state; the connected page's Scan starts the backup.
      emit window.bus()->deviceState(1);
      QTest::mouseClick(window.topButton(CSalvageDlg::kDeviceButton), Qt::LeftButton);
      QCOMPARE(window.pageContainer()->currentPageId(), page::kDeviceConnected);
      QCOMPARE(window.pageContainer()->Page(page::kDeviceConnected)->findChild<QLabel*>(QStringLiteral("deviceName"))->text(),
               QStringLiteral("Test iPhone (iPhone 12, iOS 16.5)"));
      // Recovery-mode help is offered only where the window has its pages.
      QCOMPARE(!window.findChild<QPushButton*>(QStringLiteral("deviceRecoveryMode"))->isHidden(),
               window.pageContainer()->Page(page::kRecoveryMode) != nullptr);
      QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("deviceScan")), Qt::LeftButton);
      QTRY_COMPARE(window.pageContainer()->currentPageId(), page::kDeviceBackup);
      QVERIFY(window.busy());
      QVERIFY(!window.topButton(CSalvageDlg::kHomeButton)->isEnabled());
      device->Set([](ScriptedDeviceState& s) { s.progress = 42.17; s.passcode = true; });
      QTRY_COMPARE(analysis->PercentText(), QStringLiteral("42.17%"));
      QCOMPARE(analysis->Bar()->value(), 4217);
      QVERIFY(analysis->PasscodeNoticeShown());
      QVERIFY(analysis->Animating());

      device->Set([&folder](ScriptedDeviceState& s) { s.progress = 100.0; s.doneFolder = folder; });
      const int end = cancel ? page::kDeviceConnected : page::kResults;
      QTRY_COMPARE_WITH_TIMEOUT(window.pageContainer()->currentPageId(), end, 60000);
      QCOMPARE(asked.size(), 2);  // the same backup again after the wrong one
      QVERIFY(asked[0].isEmpty());
      QCOMPARE(asked[1], Translate(QStringLiteral("ITUNES_ERROR_PWD")));
      QCOMPARE(sources.count(), cancel ? 0 : 1);
      // The backup's busy time ends also when the prompt is cancelled; the results page then starts its scan.
      QVERIFY(scans.count() >= (cancel ? 2 : 3));
      QCOMPARE(scans.at(0).at(0).toInt(), page::kScanStarted);
      QCOMPARE(scans.at(1).at(0).toInt(), page::kScanEnded);
      if (cancel) {
        QCOMPARE(scans.count(), 2);
        QVERIFY(!window.busy());
      } else {
        QCOMPARE(scans.at(2).at(0).toInt(), page::kScanStarted);  // the results page's scan
      }
      QVERIFY(told.isEmpty());
      if (!cancel) QCOMPARE(sources.at(0).at(0).toString(), views::BackupShelf::FolderName(folder));
    }
  }
};

QTEST_MAIN(DeviceModeTest)
#include "device_mode_test.moc"
