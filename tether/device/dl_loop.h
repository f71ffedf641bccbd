// The DeviceLink message loop of a backup: the device drives, we answer every
// message against the backup folder until it sends its final word
// (DLMessageProcessMessage) or disconnects.
#pragma once

#include <functional>
#include <string>

#include "tether/device/device_error.h"
#include "tether/device/dl_link.h"

namespace tether {

struct DlLoopHooks {
  std::function<void(double)> progress;  // percent of the whole backup, as the device counts
  // Asked before each message; an error (Cancelled) ends the loop with it.
  std::function<DeviceError()> stopRequested;
};

// Runs the loop over the backup folder `folder`; no error when the device ended with
// ErrorCode 0 or disconnected, else why not (the device's own code and text when it
// reported one).
DeviceError RunDlLoop(DlLink& link, const std::string& folder, const DlLoopHooks& hooks);

}  // namespace tether
