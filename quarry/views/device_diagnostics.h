// The device diagnostics: why no phone shows up, and what to do about it, from
// the usbmuxd socket, the USB bus and whether udev runs. It stands where a
// Windows program checks Apple's drivers: on Linux usbmuxd is the driver.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "quarry/views/view_texts.h"
#include "tether/device/usbmux_socket.h"

namespace quarry::views {

struct DiagnosticsFacts {
  tether::UsbmuxAddress address;
  tether::UsbmuxState service = tether::UsbmuxState::Failed;
  std::vector<tether::UsbAppleDevice> devices;
  bool udevRunning = false;
  // Versions, empty when unknown: the usbmuxd program's, the libraries' this
  // program was built with, the installed idevicerestore's.
  QString usbmuxdVersion;
  QString libimobiledeviceVersion;
  QString libirecoveryVersion;
  QString idevicerestoreVersion;
};

// Looks at this computer now. Runs usbmuxd --version and idevicerestore -v, so
// call it off the window thread when the answer may take a moment.
DiagnosticsFacts GatherDiagnostics();

struct DiagnosticsReport {
  enum class Action { None, RecoveryPages };
  tether::DeviceVerdict verdict = tether::DeviceVerdict::NoDevice;
  QString title;       // one line: what is wrong (or that all is well)
  QString advice;      // what to do
  QStringList details; // the facts behind it, with the versions
  Action action = Action::None;
};

DiagnosticsReport ExplainDiagnostics(const DiagnosticsFacts& facts, const TextLookup& lookup = {});

// The dictionary key stem of a verdict ("IDS_DIAG_NO_DEVICE"): + "_TITLE", + "_ADVICE".
QString VerdictKey(tether::DeviceVerdict verdict);

}  // namespace quarry::views
