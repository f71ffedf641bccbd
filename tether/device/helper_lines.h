// The lines quarry-backup-helper writes and CDeviceBackup reads (the protocol is
// described at the top of device_backup.h): one JSON object per line, made and read
// here so that both sides agree.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tether/device/device_error.h"

namespace tether {

struct HelperEvent {
  enum class Type { Progress, Passcode, Waiting, Error, Done };
  Type type = Type::Progress;
  double progress = 0;  // Progress
  bool passcode = false;  // Passcode
  std::string text;       // Waiting: the note; Done: the backup's folder
  DeviceError error;      // Error
};

std::string FormatHelperLine(const HelperEvent& event);  // without the newline
// The event of one line, or nothing for a line that is not one of ours.
std::optional<HelperEvent> ParseHelperLine(std::string_view line);

}  // namespace tether
