// The places devices are listed from. usbmuxd sees devices running normally; a device
// in recovery or DFU mode is seen only over libirecovery, which is a source of its own.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tether/device/device_connect.h"
#include "tether/device/device_error.h"

namespace tether {

struct DeviceSource {
  std::string name;  // for messages: "usbmuxd"
  // The devices it sees; `error` set when the source itself failed.
  std::function<std::vector<DeviceSummary>(DeviceError& error)> list;
};

// Phones in recovery or DFU mode on the USB bus below `sysfsDevices` (normally
// /sys/bus/usb/devices), named by their ECID ("0x1A2B..."), with their model when
// libirecovery can open them.
std::vector<DeviceSummary> ListRecoveryDevices(const std::string& sysfsDevices, DeviceError& error);

// Every source this build knows, in listing order.
std::vector<DeviceSource> DeviceSources();

}  // namespace tether
