#include "tether/device/attached_devices.h"

#include <usbmuxd.h>

#include <algorithm>
#include <cstring>

#include "tether/device/usbmux_socket.h"

namespace tether {

namespace {

// libusbmuxd answers -1 for every way of failing to connect; our own probe tells a
// service that is simply not running from one that is broken.
bool ServiceAbsent(DeviceError& error) {
  const UsbmuxAddress address = CurrentUsbmuxAddress();
  const std::string where = "listing devices: usbmuxd at " + address.text;
  switch (ProbeUsbmux(address)) {
    case UsbmuxState::Missing: return true;
    case UsbmuxState::Answers: error = {DeviceErrorKind::ServiceUnreachable, 0, where + " gave no device list"}; break;
    case UsbmuxState::Refused:
      error = {DeviceErrorKind::ServiceUnreachable, 0, where + " does not accept connections (restart usbmuxd)"};
      break;
    case UsbmuxState::Denied: error = {DeviceErrorKind::ServiceUnreachable, 0, where + ": permission denied"}; break;
    case UsbmuxState::NotASocket: error = {DeviceErrorKind::ServiceUnreachable, 0, where + " is not a socket"}; break;
    case UsbmuxState::Invalid:
      error = {DeviceErrorKind::ServiceUnreachable, 0, where + ": USBMUXD_SOCKET_ADDRESS cannot be used"};
      break;
    case UsbmuxState::Failed: error = {DeviceErrorKind::ServiceUnreachable, 0, where + " could not be reached"}; break;
  }
  return false;
}

}  // namespace

std::vector<std::string> AttachedUdids(DeviceError* error) {
  usbmuxd_device_info_t* list = nullptr;
  const int count = usbmuxd_get_device_list(&list);
  std::vector<std::string> udids;
  if (count < 0) {
    DeviceError failure;
    if (error && !ServiceAbsent(failure)) *error = std::move(failure);
    return udids;
  }
  for (int i = 0; i < count; ++i) {
    const usbmuxd_device_info_t& device = list[i];
    if (device.conn_type != CONNECTION_TYPE_USB) continue;
    const std::string udid(device.udid, strnlen(device.udid, sizeof device.udid));
    if (!udid.empty() && std::find(udids.begin(), udids.end(), udid) == udids.end()) udids.push_back(udid);
  }
  usbmuxd_device_list_free(&list);
  return udids;
}

}  // namespace tether
