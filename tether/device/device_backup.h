// A full backup of an attached device into a folder, run by a helper process
// (quarry-backup-helper) that this object starts and supervises: a stop is instant
// (the helper is killed; libimobiledevice 1.3.0 cannot interrupt a blocking receive)
// and a crash in the USB stack cannot take the caller down.
//
// The helper writes one JSON object per line on its standard output:
//   {"progress": 12.5}                         percentage of the whole backup
//   {"passcode": true} / {"passcode": false}   the device asks for its passcode (iOS 16.1+)
//   {"waiting": "text"}                        anything else the user should know meanwhile
//   {"error": {"kind": "disk-full", "code": -105, "text": "..."}}
//   {"done": "/folder/<udid>"}                 the finished backup's folder (its last line)
// Anything else on the pipe is ignored; a helper that ends without "done" or "error"
// has failed.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "tether/device/device_error.h"

namespace tether {

class CDeviceBackup {
 public:
  CDeviceBackup();
  ~CDeviceBackup();  // stops a running backup
  CDeviceBackup(const CDeviceBackup&) = delete;
  CDeviceBackup& operator=(const CDeviceBackup&) = delete;

  // The device to back up (empty: the only attached one) and where the helper is
  // (empty: QUARRY_BACKUP_HELPER, else beside the running program, else
  // ../libexec/quarry/ from it).
  void SetUdid(std::string udid);
  void SetHelperPath(std::string path);

  // Starts a full backup into `folder` (which must exist and be empty) and returns at
  // once; 0, or an error number as GetErrorCode gives it.
  int StartBackup(const std::string& folder);
  // 0.0 to 100.0; exactly 100.0 only once the backup has finished well.
  double GetBackProgress() const;
  // Blocks until the helper has ended.
  void WaitFinish();
  // The finished backup's folder (folder/<udid>), empty before.
  std::string GetDeviceBackDir() const;
  // 0 none, -105 too little disk space, other values failures (ErrorNumber).
  int GetErrorCode() const;
  std::string GetErrorDsp() const;
  DeviceError GetError() const;
  // Whether the device is waiting for its passcode to be typed on it.
  bool PasscodeRequested() const;
  // The helper's latest note on what the backup waits for ("" before the first).
  std::string WaitingNote() const;
  // Asks a running backup to stop; the helper is ended at once (SIGTERM, then
  // SIGKILL when it has not gone within a short grace).
  void StopDeviceBackup();

  // Where the helper is looked for when none was set (see SetHelperPath).
  static std::string FindHelper();

 private:
  // Reads the helper's lines until it ends, then gives the verdict.
  void ReadLines(int fd);
  void Ended(int waitStatus);
  void Reap();

  std::string udid_;
  std::string helperPath_;
  mutable std::mutex mutex_;
  std::condition_variable endedSignal_;
  std::thread reader_;
  pid_t pid_ = -1;
  bool running_ = false;  // started and its verdict not yet given
  bool exited_ = false;   // the helper has ended (it may not be reaped yet)
  bool stopRequested_ = false;
  bool done_ = false;     // a "done" line came and the helper exited well
  bool passcode_ = false;
  double progress_ = 0;
  std::string backupDir_;
  std::string doneDir_;
  std::string note_;
  DeviceError error_;
};

// Empties the folder of device backups (made when missing) before a new backup,
// following no link: 0 or an error as GetErrorCode gives it, with its text in `error`.
int EmptyDeviceBackupFolder(const std::string& folder, DeviceError& error);

}  // namespace tether
