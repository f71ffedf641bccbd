// The Info.plist a backup host writes beside the device's files before it asks for
// the backup: who the device is (from lockdownd) and when the backup was made.
#pragma once

#include <string>

#include "tether/device/device_error.h"
#include "tether/device/device_paths.h"
#include "tether/device/lockdown_session.h"

namespace tether {

// Writes <udid>/Info.plist below `root` (making <udid>), with the values the session
// reads; the installed applications are not listed.
DeviceError WriteHostInfoPlist(LockdownSession& session, const BackupRoot& root);

}  // namespace tether
