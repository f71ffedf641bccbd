#include "tether/device/device_sources.h"

#include <filesystem>
#include <fstream>
#include <optional>

#include "tether/device/recovery_device.h"
#include "tether/device/usbmux_socket.h"

namespace tether {

namespace {

// iBoot names itself in the USB serial string: "CPID:8030 CPRV:11 ... ECID:001A2B3C4D5E6F70 ...".
std::optional<std::uint64_t> EcidOfSerial(const std::string& serial) {
  const std::string::size_type at = serial.find("ECID:");
  if (at == std::string::npos) return std::nullopt;
  const std::string::size_type begin = at + 5;
  const std::string::size_type end = serial.find_first_not_of("0123456789abcdefABCDEF", begin);
  const std::string hex = serial.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  if (hex.empty() || hex.size() > 16) return std::nullopt;
  return ParseEcid("0x" + hex);
}

std::string FirstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

std::vector<DeviceSummary> ListRecoveryDevices(const std::string& sysfsDevices, DeviceError& error) {
  error = {};
  std::vector<DeviceSummary> found;
  for (const UsbAppleDevice& usb : AppleUsbDevices(sysfsDevices)) {
    if (usb.mode != UsbAppleDevice::Mode::Recovery && usb.mode != UsbAppleDevice::Mode::Dfu) continue;
    DeviceSummary device;
    device.mode = usb.mode == UsbAppleDevice::Mode::Recovery ? DeviceMode::Recovery : DeviceMode::Dfu;
    const std::optional<std::uint64_t> ecid =
        EcidOfSerial(FirstLine(std::filesystem::path(sysfsDevices) / usb.sysfsName / "serial"));
    // Such a device has no UDID to show; its ECID is what the recovery commands take.
    device.udid = ecid ? EcidText(*ecid) : "usb:" + usb.sysfsName;
    RecoveryDevice described;
    // Opening it needs the access udev gives the local seat; without it the mode is still known.
    if (ecid && !QueryRecoveryDevice(*ecid, described)) {
      device.productType = described.productType;
      device.name = RecoveryDeviceLabel(described);
    }
    found.push_back(std::move(device));
  }
  return found;
}

std::vector<DeviceSource> DeviceSources() {
  return {
      {"usbmuxd", [](DeviceError& error) { return CDeviceConnect::ListDevices(&error); }},
      {"USB bus (recovery and DFU mode)",
       [](DeviceError& error) { return ListRecoveryDevices("/sys/bus/usb/devices", error); }},
  };
}

}  // namespace tether
