// Phones in recovery or DFU mode, through libirecovery: which ones are attached,
// what they are, and the kick-out that leaves recovery mode. A phone in these
// modes has no lockdownd and is not seen by usbmuxd, so this is the only way to
// talk to it before a repair.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tether/device/device_error.h"

namespace tether {

enum class RecoveryMode {
  Recovery,  // iBoot: holds the boot environment, so a command can leave it
  Dfu,       // the boot ROM: only a forced restart with the buttons leaves it
  Wtf,       // the boot ROM of old devices, treated as DFU
};

// A stable English word: "recovery", "dfu", "wtf".
const char* RecoveryModeName(RecoveryMode mode);
// The mode a USB product id of Apple's stands for (0x1280-0x1283, 0x1227, 0x1222).
std::optional<RecoveryMode> RecoveryModeOfProduct(unsigned productId);

struct RecoveryDevice {
  std::uint64_t ecid = 0;
  RecoveryMode mode = RecoveryMode::Recovery;
  unsigned cpid = 0;        // chip id
  unsigned bdid = 0;        // board id
  std::string productType;  // "iPhone12,1"; empty when libirecovery's table does not know the device
  std::string displayName;  // "iPhone 11"; empty as above
};

// The device from what the USB descriptor tells; the product type is looked up in
// libirecovery's table by chip and board (1.0.0's table ends at iPhone12,8).
RecoveryDevice DescribeRecoveryDevice(RecoveryMode mode, std::uint64_t ecid, unsigned cpid, unsigned bdid);
// What the user reads: the display name and product type, else "Apple device CPID 0x8101".
std::string RecoveryDeviceLabel(const RecoveryDevice& device);
// The ECID as the tools print it: "0x" and upper-case hex.
std::string EcidText(std::uint64_t ecid);
// "0x1A2B" (hex) or "6699" (decimal), as idevicerestore -i takes it; nothing on bad
// input or 0, which names no device.
std::optional<std::uint64_t> ParseEcid(const std::string& text);

// Watches for phones entering and leaving recovery and DFU mode. The callback runs
// on libusb's event thread, never on the caller's: a window must queue what it
// does with it. Devices() may be asked from any thread.
class RecoveryWatcher {
 public:
  using Callback = std::function<void(const RecoveryDevice& device, bool attached)>;

  RecoveryWatcher();
  // Stops watching; no callback runs after it returns.
  ~RecoveryWatcher();
  RecoveryWatcher(const RecoveryWatcher&) = delete;
  RecoveryWatcher& operator=(const RecoveryWatcher&) = delete;

  // Starts watching (once); an error when libirecovery cannot watch the bus.
  DeviceError Start(Callback callback);
  void Stop();
  // The devices attached now, in ECID order.
  std::vector<RecoveryDevice> Devices() const;

  struct Shared;  // what libusb's thread and the watcher share

 private:
  std::shared_ptr<Shared> shared_;
  void* context_ = nullptr;
};

// Opens the device with this ECID (0: the first one found) and tells what it is.
DeviceError QueryRecoveryDevice(std::uint64_t ecid, RecoveryDevice& device);

// Leaves recovery mode: sets auto-boot to true, saves the environment and reboots,
// so the phone starts its system again. Refused in DFU mode, which no command
// leaves. ecid 0 takes the first device found.
DeviceError ExitRecovery(std::uint64_t ecid);

}  // namespace tether
