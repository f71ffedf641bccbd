// Whether an attached device trusts this computer, pairing when there is no pairing
// yet and once more when the device forgot ours (it was reset). The verdict is the
// three-way answer the device pages branch on, with the reason when we wait.
#pragma once

#include <memory>
#include <string>

#include "tether/device/device_connect.h"
#include "tether/device/device_error.h"
#include "tether/device/lockdown_session.h"

namespace tether {

struct TrustVerdict {
  int trust = 0;  // 0 no usable device, 1 trusted, 2 waiting
  TrustWait wait = TrustWait::None;
  DeviceError error;                         // why 0 or 2
  std::unique_ptr<LockdownSession> session;  // open when trusted
};

// Why we wait, for an error of the handshake; None for an error that means the device
// is not (or no longer) there.
TrustWait WaitOf(DeviceErrorKind kind);

// The verdict for an error of the handshake: 0 when the device is gone or usbmuxd
// failed, else 2 with the reason.
TrustVerdict VerdictOf(DeviceError error);

// Runs the handshake with `udid` (pairing as needed). A stale pairing is forgotten and
// the handshake run once more. A trusted device that is not activated waits too: it
// would refuse the backup.
TrustVerdict CheckTrust(const std::string& udid);

}  // namespace tether
