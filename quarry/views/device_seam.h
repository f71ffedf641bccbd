// What the device pages need from an attached device, as interfaces: the
// program implements them over Tether's device classes (tether_seam.h), the
// tests with scripted devices.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace quarry::views {

// Why an attached device is not yet usable (Tether's TrustWait).
enum class TrustWaitReason { None, DialogPending, Locked, Denied, StalePairing, NotActivated, Other };

struct TrustResult {
  int state = 0;  // 0 no usable device, 1 trusted, 2 waiting for trust
  TrustWaitReason reason = TrustWaitReason::None;
  QString detail;  // the device layer's own words for Other
};

struct DeviceDescription {
  QString name;  // "Anna's iPhone"
  QString kind;  // "iPhone 12, iOS 16.5"
};

class DeviceProbe {
 public:
  virtual ~DeviceProbe() = default;
  // A device is attached.
  virtual bool Attached() = 0;
  // More than one device is attached.
  virtual bool SeveralAttached() = 0;
  // Whether the device trusts this computer; pairs when needed and may take
  // seconds, so it is called away from the window thread.
  virtual TrustResult CheckTrust() = 0;
  // Name and kind; nullopt when the device cannot be read.
  virtual std::optional<DeviceDescription> Describe() = 0;
};

// One full backup of the attached device.
class DeviceBackupRun {
 public:
  virtual ~DeviceBackupRun() = default;
  // Starts the backup into `folder` and returns at once; false when it could
  // not start (ErrorCode then says why).
  virtual bool Start(const QString& folder) = 0;
  // 0.0 to 100.0; exactly 100.0 once it has finished well.
  virtual double Progress() = 0;
  // The device waits for its passcode to be typed on it.
  virtual bool PasscodeRequested() = 0;
  // Blocks until the backup has ended.
  virtual void WaitFinish() = 0;
  // The finished backup's folder.
  virtual QString BackupFolder() = 0;
  // 0 none, -105 too little disk space, other values failures.
  virtual int ErrorCode() = 0;
  virtual QString ErrorText() = 0;
  virtual void Stop() = 0;
};

// How the device flow reaches a device. Each call of makeProbe gives a probe
// of its own, so the trust check on its worker shares nothing with the window
// thread's probe.
struct DeviceSeam {
  std::function<std::unique_ptr<DeviceProbe>()> makeProbe;
  std::function<std::unique_ptr<DeviceBackupRun>()> makeBackup;
  // Empties `folder` (making it when missing) without following a link in
  // it; false with the reason in `error`.
  std::function<bool(const QString& folder, QString& error)> emptyFolder;
};

}  // namespace quarry::views
