// Whether a device is attached, whether it trusts this computer (and if not, why we
// wait), and what it is. Over libusbmuxd and lockdownd; pairing as libimobiledevice
// does it (the pair record is kept by usbmuxd, never read from its folder by us).
#pragma once

#include <string>
#include <vector>

#include "tether/device/device_error.h"

namespace tether {

// Why a device that is attached is not yet usable.
enum class TrustWait {
  None,
  DialogPending,  // "Trust This Computer?" is on the screen
  Locked,         // unlock the device so that it can ask
  Denied,         // "Don't Trust" was tapped: unplug and plug in again to be asked again
  StalePairing,   // our pairing was forgotten by the device; we pair again
  NotActivated,   // the device is not activated
  Other,          // see WaitError()
};

// A stable word for a reason ("dialog-pending"), for JSON.
const char* WaitName(TrustWait wait);
// What the user should do, in English ("Tap Trust on the device"); for Other, the
// error's own text. Empty for None.
std::string WaitText(TrustWait wait, const DeviceError& error);

// How a device is running: normally (usbmuxd sees it), or in recovery or DFU mode (only
// libirecovery sees it).
enum class DeviceMode { Normal, Recovery, Dfu };
const char* ModeName(DeviceMode mode);

// One attached device as usbmuxd lists it, with what lockdownd told us (the names stay
// empty until the device trusts us).
struct DeviceSummary {
  std::string udid;
  std::string name;            // "Anna's iPhone"
  std::string productType;     // "iPhone12,1"
  std::string productVersion;  // "16.5"
  std::string deviceClass;     // "iPhone", "iPad", "iPod"
  int trust = 0;               // 0 none, 1 trusted, 2 waiting (see wait)
  TrustWait wait = TrustWait::None;
  DeviceError waitError;       // the reason in words when trust is 0 or 2
  DeviceMode mode = DeviceMode::Normal;
};

class CDeviceConnect {
 public:
  // `udid` picks one device; empty means the only (or the first) attached one.
  explicit CDeviceConnect(std::string udid = {});

  // Non-zero when a device is attached (usbmuxd lists one).
  int CheckConnection();
  // 1 when more than one device is attached.
  int IsHaveMoreDevice();
  // 0 no usable device, 1 attached and trusting this computer, 2 attached and waiting
  // (WaitReason says why). Pairs when there is no pairing yet; may block for a few
  // seconds, so callers run it off the user-interface thread.
  int IsTrueConnect();
  TrustWait WaitReason() const { return wait_; }
  const DeviceError& WaitError() const { return waitError_; }

  // The device's name and a second text ("iPhone 12, iOS 16.5"); 0 on failure.
  int GetDeviceInfo(std::string& name, std::string& kind);

  // The udid of the device this object talks to (after CheckConnection or IsTrueConnect).
  const std::string& Udid() const { return udid_; }

  // Every device usbmuxd lists, with its trust state and names (for `sieve device
  // list`). Checking trust pairs with a device that has no pairing yet, as
  // IsTrueConnect does. `error` is set when usbmuxd is there but failed.
  static std::vector<DeviceSummary> ListDevices(DeviceError* error = nullptr);

 private:
  // Settles udid_ from the attached devices: the one asked for, else the one we talk
  // to while it stays, else the first. False when none fits.
  bool ChooseDevice();

  std::string wantedUdid_;
  std::string udid_;
  TrustWait wait_ = TrustWait::None;
  DeviceError waitError_;
};

}  // namespace tether
