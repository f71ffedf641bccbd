// The device diagnostics and the recovery-mode rules apart from their windows: one
// explanation per verdict with its facts, and the repair's states, erase asked for
// once and only after the tool said so.
#include <gtest/gtest.h>

#include "quarry/views/device_diagnostics.h"
#include "quarry/views/repair_flow.h"

namespace quarry::views {
namespace {

using tether::DeviceVerdict;
using tether::UsbAppleDevice;
using tether::UsbmuxState;
using Mode = UsbAppleDevice::Mode;

TEST(DeviceDiagnostics, ExplainsEveryVerdictWithItsFacts) {
  const UsbAppleDevice phone{0x12a8, Mode::Normal, "1-2"};
  const UsbAppleDevice recovery{0x1281, Mode::Recovery, "1-3"};
  const UsbAppleDevice dfu{0x1227, Mode::Dfu, "1-4"};
  const UsbAppleDevice keyboard{0x024f, Mode::Other, "1-5"};
  const struct {
    UsbmuxState service;
    std::vector<UsbAppleDevice> devices;
    bool udev;
    const char* address;
    DeviceVerdict verdict;
    const char* adviceHas;
  } cases[] = {
      {UsbmuxState::Answers, {phone}, true, nullptr, DeviceVerdict::Ready, "Trust"},
      {UsbmuxState::Invalid, {phone}, true, "nonsense", DeviceVerdict::AddressInvalid, "nonsense"},
      {UsbmuxState::Missing, {}, true, nullptr, DeviceVerdict::NoDevice, "cable"},
      {UsbmuxState::Missing, {phone}, true, nullptr, DeviceVerdict::ServiceMissing, "apt install usbmuxd"},
      {UsbmuxState::Missing, {phone}, false, nullptr, DeviceVerdict::ServiceNotStartable, "by hand"},
      {UsbmuxState::Refused, {phone}, true, "UNIX:/tmp/mux.sock", DeviceVerdict::ServiceNotAnswering, "/tmp/mux.sock"},
      {UsbmuxState::Denied, {phone}, true, nullptr, DeviceVerdict::ServiceDenied, "/var/run/usbmuxd"},
      {UsbmuxState::Missing, {recovery}, true, nullptr, DeviceVerdict::RecoveryMode, "recovery-mode help"},
      {UsbmuxState::Answers, {dfu}, true, nullptr, DeviceVerdict::DfuMode, "buttons"},
      {UsbmuxState::Answers, {keyboard}, true, nullptr, DeviceVerdict::NotReachable, "iPhone itself"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(VerdictKey(c.verdict).toStdString());
    DiagnosticsFacts facts;
    facts.address = tether::UsbmuxAddressFrom(c.address);
    facts.service = c.service;
    facts.devices = c.devices;
    facts.udevRunning = c.udev;
    facts.libimobiledeviceVersion = QStringLiteral("1.3.0");
    const DiagnosticsReport report = ExplainDiagnostics(facts);
    EXPECT_EQ(report.verdict, c.verdict);
    EXPECT_EQ(report.title, EnglishViewText(VerdictKey(c.verdict) + QStringLiteral("_TITLE")));
    EXPECT_FALSE(report.title.startsWith(QStringLiteral("IDS_")));
    EXPECT_TRUE(report.advice.contains(QLatin1String(c.adviceHas))) << report.advice.toStdString();
    EXPECT_FALSE(report.advice.contains(QStringLiteral("%1")));
    const bool recoveryPages = c.verdict == DeviceVerdict::RecoveryMode || c.verdict == DeviceVerdict::DfuMode;
    EXPECT_EQ(report.action == DiagnosticsReport::Action::RecoveryPages, recoveryPages);
    const QString details = report.details.join(QLatin1Char('\n'));
    EXPECT_TRUE(details.contains(QStringLiteral("libimobiledevice 1.3.0"))) << details.toStdString();
    EXPECT_TRUE(details.contains(QStringLiteral("usbmuxd unknown"))) << details.toStdString();
    EXPECT_TRUE(details.contains(c.udev ? QStringLiteral("udev: running") : QStringLiteral("udev: not running")));
    for (const UsbAppleDevice& d : c.devices) {
      EXPECT_TRUE(details.contains(QString::number(d.productId, 16))) << details.toStdString();
    }
  }
}

// The count itself is the recovery-mode page's test (dfu_dlg_test).
TEST(DfuSteps, NothingCountsBeforeStartAndAFindEndsTheSteps) {
  DfuSteps steps;
  steps.Show();
  EXPECT_EQ(steps.Tick(true), DfuSteps::Outcome::Waiting);
  steps.Start();
  EXPECT_EQ(steps.Tick(false), DfuSteps::Outcome::Waiting);
  EXPECT_EQ(steps.Tick(true), DfuSteps::Outcome::Found);
  EXPECT_FALSE(steps.running());
}

TEST(RepairFlow, AsksBeforeEraseOnceAndRefusesToCloseWhileWriting) {
  using State = RepairFlow::State;
  using tether::RestoreEnd;
  const struct {
    const char* name;
    bool toolTooOld;
    std::vector<RestoreEnd> ends;  // each run's end, in turn
    std::vector<bool> answers;     // the user's answers to the erase question
    State state;
    bool erase;
  } cases[] = {
      {"tool too old", true, {}, {}, State::Failed, false},
      {"update works", false, {RestoreEnd::Succeeded}, {}, State::Succeeded, false},
      {"would erase, user says no", false, {RestoreEnd::WouldErase}, {false}, State::Cancelled, false},
      {"would erase, user erases", false, {RestoreEnd::WouldErase, RestoreEnd::Succeeded}, {true}, State::Succeeded, true},
      {"erase run still says erase", false, {RestoreEnd::WouldErase, RestoreEnd::WouldErase}, {true}, State::Failed, true},
      {"fails", false, {RestoreEnd::Failed}, {}, State::Failed, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RepairFlow flow;
    tether::RestoreToolCheck check;
    if (c.toolTooOld) check.error = {tether::DeviceErrorKind::ProtocolMismatch, 0, "too old"};
    flow.ToolChecked(check);
    std::size_t answer = 0;
    for (RestoreEnd end : c.ends) {
      ASSERT_EQ(flow.state(), State::Running);
      flow.Ended({end, {}});
      if (flow.state() == State::AskingErase && answer < c.answers.size()) flow.EraseAnswered(c.answers[answer++]);
    }
    EXPECT_EQ(flow.state(), c.state);
    EXPECT_EQ(flow.erase(), c.erase);
  }

  RepairFlow running;
  running.ToolChecked({});
  tether::RestoreProgress progress;
  progress.stage = tether::RestoreStage::Downloading;
  progress.downloadPercent = 42;
  EXPECT_TRUE(running.CanClose(progress));
  EXPECT_EQ(running.StatusText(progress), EnglishViewText(QStringLiteral("IDS_DFUDLG_STAGE_DOWNLOAD")).arg(42));
  progress.stage = tether::RestoreStage::FlashFw;
  progress.cancellable = false;
  EXPECT_FALSE(running.CanClose(progress));
  running.Ended({tether::RestoreEnd::Succeeded, {}});
  EXPECT_TRUE(running.CanClose(progress));
}

}  // namespace
}  // namespace quarry::views
