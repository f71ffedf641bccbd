#include "tether/device/device_sources.h"

namespace tether {

std::vector<DeviceSource> DeviceSources() {
  return {
      {"usbmuxd", [](DeviceError& error) { return CDeviceConnect::ListDevices(&error); }},
  };
}

}  // namespace tether
