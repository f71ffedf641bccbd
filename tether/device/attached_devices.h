// The devices usbmuxd lists over USB, each once, in its order. A device reached over
// the network is left out: backups and pairing here are USB only.
#pragma once

#include <string>
#include <vector>

#include "tether/device/device_error.h"

namespace tether {

// `error` (when given) is set only when usbmuxd is there but failed to answer; no
// socket at all is the normal state with nothing plugged in (udev starts usbmuxd
// when a device arrives and it ends after the last one) and gives an empty list.
std::vector<std::string> AttachedUdids(DeviceError* error = nullptr);

}  // namespace tether
