// One full backup of an attached device into a folder, in this process: the lockdown
// handshake, the sync lock, the host's Info.plist, mobilebackup2 and its DL message
// loop, then the check that the device called the backup finished. Blocking; run by
// quarry-backup-helper, which CDeviceBackup supervises.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "tether/device/device_error.h"
#include "tether/device/lockdown_session.h"

namespace tether {

struct BackupEvents {
  std::function<void(double)> progress;              // percent of the whole backup
  std::function<void(bool)> passcode;                // the device waits for its passcode (or no longer)
  std::function<void(const std::string&)> waiting;   // a note for the user meanwhile
};

class BackupSession {
 public:
  // `udid` empty: the only attached device. `folder` must exist; the backup goes to
  // folder/<udid>, which should not hold an earlier backup.
  BackupSession(std::string udid, std::string folder, BackupEvents events);

  // Runs the backup; on success `backupFolder` is folder/<udid>.
  DeviceError Run(std::string& backupFolder);
  // From any thread: the backup stops before the next message of the device.
  void Stop() { stop_ = true; }

 private:
  // The lockdown session once the device trusts us, waiting (with a note) while it
  // asks the user to trust this computer or to unlock it.
  std::unique_ptr<LockdownSession> OpenTrusted(const std::function<void(const std::string&)>& note,
                                               DeviceError& error);

  std::string udid_;
  std::string folder_;
  BackupEvents events_;
  std::atomic<bool> stop_{false};
};

// The udid of the only device usbmuxd lists, or an error (none, or several).
DeviceError OnlyAttachedDevice(std::string& udid);

// Whether folder/Status.plist says the device finished the backup.
DeviceError CheckSnapshotFinished(const std::string& backupFolder);

}  // namespace tether
