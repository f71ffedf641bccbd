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

// Every source this build knows, in listing order.
std::vector<DeviceSource> DeviceSources();

}  // namespace tether
