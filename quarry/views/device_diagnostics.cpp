#include "quarry/views/device_diagnostics.h"

#include <QFileInfo>

#include "tether/device/child_process.h"

namespace quarry::views {

namespace {

using tether::DeviceVerdict;
using tether::UsbmuxState;

// The version word of a program's "name 1.2.3" line.
QString VersionOf(const std::string& program, const std::vector<std::string>& arguments) {
  const std::optional<std::string> line = tether::FirstOutputLine(program, arguments);
  if (!line) return {};
  const QString text = QString::fromStdString(*line).trimmed();
  return text.section(QLatin1Char(' '), -1);
}

QString StateKey(UsbmuxState state) {
  switch (state) {
    case UsbmuxState::Answers: return QStringLiteral("IDS_DIAG_STATE_ANSWERS");
    case UsbmuxState::Missing: return QStringLiteral("IDS_DIAG_STATE_MISSING");
    case UsbmuxState::NotASocket: return QStringLiteral("IDS_DIAG_STATE_NOT_A_SOCKET");
    case UsbmuxState::Refused: return QStringLiteral("IDS_DIAG_STATE_REFUSED");
    case UsbmuxState::Denied: return QStringLiteral("IDS_DIAG_STATE_DENIED");
    case UsbmuxState::Invalid: return QStringLiteral("IDS_DIAG_STATE_INVALID");
    case UsbmuxState::Failed: return QStringLiteral("IDS_DIAG_STATE_FAILED");
  }
  return QStringLiteral("IDS_DIAG_STATE_FAILED");
}

QString ModeKey(tether::UsbAppleDevice::Mode mode) {
  switch (mode) {
    case tether::UsbAppleDevice::Mode::Normal: return QStringLiteral("IDS_DIAG_MODE_NORMAL");
    case tether::UsbAppleDevice::Mode::Recovery: return QStringLiteral("IDS_DIAG_MODE_RECOVERY");
    case tether::UsbAppleDevice::Mode::Dfu: return QStringLiteral("IDS_DIAG_MODE_DFU");
    case tether::UsbAppleDevice::Mode::Other: return QStringLiteral("IDS_DIAG_MODE_OTHER");
  }
  return QStringLiteral("IDS_DIAG_MODE_OTHER");
}

QString AddressText(const tether::UsbmuxAddress& address) {
  if (address.kind == tether::UsbmuxAddress::Kind::Unix) return QString::fromStdString(address.path);
  if (address.kind == tether::UsbmuxAddress::Kind::Tcp) {
    return QStringLiteral("%1:%2").arg(QString::fromStdString(address.host)).arg(address.port);
  }
  return QString::fromStdString(address.text);
}

}  // namespace

DiagnosticsFacts GatherDiagnostics() {
  DiagnosticsFacts facts;
  facts.address = tether::CurrentUsbmuxAddress();
  facts.service = tether::ProbeUsbmux(facts.address);
  facts.devices = tether::AppleUsbDevices();
  facts.udevRunning = QFileInfo::exists(QStringLiteral("/run/udev/control"));
  // usbmuxd lives in /usr/sbin, which a user's PATH often lacks.
  facts.usbmuxdVersion = VersionOf("usbmuxd", {"--version"});
  if (facts.usbmuxdVersion.isEmpty()) facts.usbmuxdVersion = VersionOf("/usr/sbin/usbmuxd", {"--version"});
  facts.libimobiledeviceVersion = QStringLiteral(QUARRY_IMOBILEDEVICE_VERSION);
  facts.libirecoveryVersion = QStringLiteral(QUARRY_IRECOVERY_VERSION);
  facts.idevicerestoreVersion = VersionOf("idevicerestore", {"-v"});
  return facts;
}

QString VerdictKey(DeviceVerdict verdict) {
  switch (verdict) {
    case DeviceVerdict::Ready: return QStringLiteral("IDS_DIAG_READY");
    case DeviceVerdict::AddressInvalid: return QStringLiteral("IDS_DIAG_ADDRESS_INVALID");
    case DeviceVerdict::NoDevice: return QStringLiteral("IDS_DIAG_NO_DEVICE");
    case DeviceVerdict::ServiceMissing: return QStringLiteral("IDS_DIAG_SERVICE_MISSING");
    case DeviceVerdict::ServiceNotStartable: return QStringLiteral("IDS_DIAG_SERVICE_NOT_STARTABLE");
    case DeviceVerdict::ServiceNotAnswering: return QStringLiteral("IDS_DIAG_SERVICE_NOT_ANSWERING");
    case DeviceVerdict::ServiceDenied: return QStringLiteral("IDS_DIAG_SERVICE_DENIED");
    case DeviceVerdict::RecoveryMode: return QStringLiteral("IDS_DIAG_RECOVERY_MODE");
    case DeviceVerdict::DfuMode: return QStringLiteral("IDS_DIAG_DFU_MODE");
    case DeviceVerdict::NotReachable: return QStringLiteral("IDS_DIAG_NOT_REACHABLE");
  }
  return QStringLiteral("IDS_DIAG_NO_DEVICE");
}

DiagnosticsReport ExplainDiagnostics(const DiagnosticsFacts& facts, const TextLookup& lookup) {
  const auto text = [&lookup](const char* key) { return ViewText(lookup, QString::fromLatin1(key)); };
  DiagnosticsReport report;
  report.verdict = tether::Diagnose(facts.service, facts.devices, facts.udevRunning);
  const QString key = VerdictKey(report.verdict);
  const QString address = AddressText(facts.address);
  report.title = ViewText(lookup, key + QStringLiteral("_TITLE"));
  // Only some advice names the socket; arg() on a text without %1 would warn.
  report.advice = ViewText(lookup, key + QStringLiteral("_ADVICE"));
  if (report.advice.contains(QStringLiteral("%1"))) report.advice = report.advice.arg(address);
  if (report.verdict == DeviceVerdict::RecoveryMode || report.verdict == DeviceVerdict::DfuMode) {
    report.action = DiagnosticsReport::Action::RecoveryPages;
  }

  report.details << text("IDS_DIAG_DETAIL_SOCKET").arg(address, ViewText(lookup, StateKey(facts.service)));
  QStringList devices;
  for (const tether::UsbAppleDevice& device : facts.devices) {
    devices << QStringLiteral("%1 (05ac:%2, %3)")
                   .arg(QString::fromStdString(device.sysfsName))
                   .arg(device.productId, 4, 16, QLatin1Char('0'))
                   .arg(ViewText(lookup, ModeKey(device.mode)));
  }
  report.details << text("IDS_DIAG_DETAIL_USB").arg(devices.isEmpty() ? text("IDS_DIAG_NONE")
                                                                      : devices.join(QStringLiteral(", ")));
  report.details << text(facts.udevRunning ? "IDS_DIAG_DETAIL_UDEV_RUNNING" : "IDS_DIAG_DETAIL_UDEV_ABSENT");
  const QString unknown = text("IDS_DIAG_UNKNOWN_VERSION");
  const auto version = [&unknown](const QString& v) { return v.isEmpty() ? unknown : v; };
  report.details << text("IDS_DIAG_DETAIL_VERSIONS")
                        .arg(version(facts.usbmuxdVersion), version(facts.libimobiledeviceVersion),
                             version(facts.libirecoveryVersion), version(facts.idevicerestoreVersion));
  return report;
}

}  // namespace quarry::views
