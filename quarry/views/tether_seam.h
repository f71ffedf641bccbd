// The device seam over Tether's device classes: what the program uses; the
// tests script the seam instead. Built into a library of its own (the only
// part of the views that links the USB libraries).
#pragma once

#include "quarry/views/device_seam.h"

namespace quarry::views {

DeviceSeam TetherDeviceSeam();

}  // namespace quarry::views
