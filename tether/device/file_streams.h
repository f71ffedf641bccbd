// The file streams of a backup: files the device asks for (DLMessageDownloadFiles)
// go out in blocks, files it sends (DLMessageUploadFiles) are written in blocks below
// the backup folder, so memory stays flat whatever the file sizes. Each answers the
// message with its status reply: a name we refuse or a file the device could not
// read fails that item alone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tether/device/device_error.h"
#include "tether/device/device_paths.h"
#include "tether/device/dl_link.h"

namespace tether {

// Sends the named files (a missing one is reported to the device as such, which is
// how a fresh backup learns there is nothing to build on). An error only when the
// connection broke.
DeviceError SendFiles(DlLink& link, const BackupRoot& root, const std::vector<std::string>& paths);

// Receives files until the device ends the list. `totalBytes` is what the device
// announced (checked against the free space first); `onBytes` hears the bytes
// written so far. An error when the connection broke, the disk is full or a write
// failed: the backup cannot go on then.
DeviceError ReceiveFiles(DlLink& link, const BackupRoot& root, const std::string& folder,
                         std::uint64_t totalBytes, const std::function<void(std::uint64_t)>& onBytes);

// Bytes free for us in `folder`, or -1 when it cannot be told.
std::int64_t FreeBytes(const std::string& folder);

}  // namespace tether
