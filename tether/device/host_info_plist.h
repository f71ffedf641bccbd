// The Info.plist a backup host writes beside the device's files before it asks for
// the backup: who the device is (from lockdownd) and when the backup was made.
#pragma once

#include <libimobiledevice/lockdown.h>

#include <string>

#include "tether/device/device_error.h"
#include "tether/device/device_paths.h"

namespace tether {

// Writes <udid>/Info.plist below `root` (making <udid>). The device's values come
// from `lockdown`; the installed applications are not listed.
DeviceError WriteHostInfoPlist(lockdownd_client_t lockdown, const std::string& udid, const BackupRoot& root);

}  // namespace tether
