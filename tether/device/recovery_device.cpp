#include "tether/device/recovery_device.h"

#include "tether/device/usbmux_socket.h"

#include <libirecovery.h>

#include <charconv>
#include <cstdio>

namespace tether {

namespace {

constexpr int kOpenAttempts = 2;

bool RecoveryDeviceOnBus() {
  for (const UsbAppleDevice& device : AppleUsbDevices()) {
    if (RecoveryModeOfProduct(device.productId)) return true;
  }
  return false;
}

// libirecovery's codes as our kinds; the text says what the user can do.
DeviceError Mapped(irecv_error_t code, const std::string& doing) {
  DeviceError error;
  error.code = static_cast<int>(code);
  const std::string detail = std::string(" (") + irecv_strerror(code) + ")";
  switch (code) {
    case IRECV_E_SUCCESS: return {};
    case IRECV_E_NO_DEVICE:
      error.kind = DeviceErrorKind::NoDevice;
      error.text = "no phone in recovery or DFU mode is attached" + detail;
      return error;
    case IRECV_E_UNABLE_TO_CONNECT:
      // libirecovery says this both when nothing is attached and when it may not
      // open what is; the bus tells the two apart.
      if (!RecoveryDeviceOnBus()) return Mapped(IRECV_E_NO_DEVICE, doing);
      // udev grants access to recovery devices only to the user at the machine's own seat.
      error.kind = DeviceErrorKind::Failed;
      error.text = doing + ": the device cannot be opened; log in at this computer itself (not over SSH or in a "
                           "container), or check the udev rules of libirecovery" + detail;
      return error;
    case IRECV_E_TIMEOUT:
      error.kind = DeviceErrorKind::Timeout;
      error.text = doing + ": the device stopped answering" + detail;
      return error;
    case IRECV_E_USB_UPLOAD:
    case IRECV_E_USB_STATUS:
    case IRECV_E_USB_INTERFACE:
    case IRECV_E_USB_CONFIGURATION:
    case IRECV_E_PIPE:
      error.kind = DeviceErrorKind::Disconnected;
      error.text = doing + ": the USB connection failed; replug the cable" + detail;
      return error;
    default:
      error.kind = DeviceErrorKind::Failed;
      error.text = doing + " failed" + detail;
      return error;
  }
}

// Closes the client on every way out.
struct Client {
  irecv_client_t client = nullptr;
  ~Client() {
    if (client != nullptr) irecv_close(client);
  }
};

DeviceError Open(std::uint64_t ecid, Client& opened, RecoveryDevice& device) {
  const irecv_error_t code = irecv_open_with_ecid_and_attempts(&opened.client, ecid, kOpenAttempts);
  if (code != IRECV_E_SUCCESS) {
    opened.client = nullptr;
    return Mapped(code, "opening the device");
  }
  int mode = 0;
  if (const irecv_error_t m = irecv_get_mode(opened.client, &mode); m != IRECV_E_SUCCESS) {
    return Mapped(m, "asking the device's mode");
  }
  const std::optional<RecoveryMode> known = RecoveryModeOfProduct(static_cast<unsigned>(mode));
  const irecv_device_info* info = irecv_get_device_info(opened.client);
  if (!known || info == nullptr) {
    char text[64];
    std::snprintf(text, sizeof text, "the device is in an unknown mode (USB product 0x%04x)", static_cast<unsigned>(mode));
    return {DeviceErrorKind::Failed, mode, text};
  }
  device = DescribeRecoveryDevice(*known, info->ecid, info->cpid, info->bdid);
  return {};
}

}  // namespace

const char* RecoveryModeName(RecoveryMode mode) {
  switch (mode) {
    case RecoveryMode::Recovery: return "recovery";
    case RecoveryMode::Dfu: return "dfu";
    case RecoveryMode::Wtf: return "wtf";
  }
  return "recovery";
}

std::optional<RecoveryMode> RecoveryModeOfProduct(unsigned productId) {
  switch (productId) {
    case IRECV_K_RECOVERY_MODE_1:
    case IRECV_K_RECOVERY_MODE_2:
    case IRECV_K_RECOVERY_MODE_3:
    case IRECV_K_RECOVERY_MODE_4: return RecoveryMode::Recovery;
    case IRECV_K_DFU_MODE: return RecoveryMode::Dfu;
    case IRECV_K_WTF_MODE: return RecoveryMode::Wtf;
    default: return std::nullopt;
  }
}

RecoveryDevice DescribeRecoveryDevice(RecoveryMode mode, std::uint64_t ecid, unsigned cpid, unsigned bdid) {
  RecoveryDevice device;
  device.mode = mode;
  device.ecid = ecid;
  device.cpid = cpid;
  device.bdid = bdid;
  for (irecv_device_t entry = irecv_devices_get_all(); entry != nullptr && entry->product_type != nullptr; ++entry) {
    if (entry->chip_id == cpid && entry->board_id == bdid) {
      device.productType = entry->product_type;
      if (entry->display_name != nullptr) device.displayName = entry->display_name;
      break;
    }
  }
  return device;
}

std::string RecoveryDeviceLabel(const RecoveryDevice& device) {
  if (!device.productType.empty()) {
    return device.displayName.empty() ? device.productType : device.displayName + " (" + device.productType + ")";
  }
  char text[48];
  std::snprintf(text, sizeof text, "Apple device CPID 0x%04X", device.cpid);
  return text;
}

std::string EcidText(std::uint64_t ecid) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(ecid));
  return text;
}

std::optional<std::uint64_t> ParseEcid(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* begin = text.data() + (hex ? 2 : 0);
  const char* end = text.data() + text.size();
  std::uint64_t value = 0;
  const auto [stop, error] = std::from_chars(begin, end, value, hex ? 16 : 10);
  if (begin == end || error != std::errc() || stop != end || value == 0) return std::nullopt;
  return value;
}

// What the libusb thread and the watcher share; the thread may still hold it for a
// moment while the watcher goes away.
struct RecoveryWatcher::Shared {
  mutable std::mutex lock;
  bool running = false;
  Callback callback;
  std::map<std::uint64_t, RecoveryDevice> devices;
};

namespace {

void OnDeviceEvent(const irecv_device_event_t* event, void* userData) {
  auto* shared = static_cast<RecoveryWatcher::Shared*>(userData);
  if (event == nullptr || event->device_info == nullptr) return;
  const std::optional<RecoveryMode> mode = RecoveryModeOfProduct(static_cast<unsigned>(event->mode));
  if (!mode) return;
  const irecv_device_info& info = *event->device_info;
  const RecoveryDevice device = DescribeRecoveryDevice(*mode, info.ecid, info.cpid, info.bdid);
  const bool attached = event->type == IRECV_DEVICE_ADD;
  RecoveryWatcher::Callback callback;
  {
    std::lock_guard<std::mutex> hold(shared->lock);
    if (!shared->running) return;
    if (attached) {
      shared->devices[device.ecid] = device;
    } else {
      shared->devices.erase(device.ecid);
    }
    callback = shared->callback;
  }
  if (callback) callback(device, attached);
}

}  // namespace

RecoveryWatcher::RecoveryWatcher() : shared_(std::make_shared<Shared>()) {}

RecoveryWatcher::~RecoveryWatcher() { Stop(); }

DeviceError RecoveryWatcher::Start(Callback callback) {
  {
    std::lock_guard<std::mutex> hold(shared_->lock);
    if (shared_->running) return {};
    shared_->callback = std::move(callback);
    shared_->running = true;
  }
  irecv_device_event_context_t context = nullptr;
  const irecv_error_t code = irecv_device_event_subscribe(&context, OnDeviceEvent, shared_.get());
  if (code != IRECV_E_SUCCESS) {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->running = false;
    return Mapped(code, "watching for devices in recovery mode");
  }
  context_ = context;
  return {};
}

void RecoveryWatcher::Stop() {
  {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->running = false;
    shared_->devices.clear();
  }
  if (context_ != nullptr) {
    // Unsubscribing ends libusb's event thread, so no callback outlives this.
    irecv_device_event_unsubscribe(static_cast<irecv_device_event_context_t>(context_));
    context_ = nullptr;
  }
}

std::vector<RecoveryDevice> RecoveryWatcher::Devices() const {
  std::lock_guard<std::mutex> hold(shared_->lock);
  std::vector<RecoveryDevice> devices;
  for (const auto& [ecid, device] : shared_->devices) devices.push_back(device);
  return devices;
}

DeviceError QueryRecoveryDevice(std::uint64_t ecid, RecoveryDevice& device) {
  Client client;
  return Open(ecid, client, device);
}

DeviceError ExitRecovery(std::uint64_t ecid) {
  Client client;
  RecoveryDevice device;
  if (DeviceError error = Open(ecid, client, device)) return error;
  if (device.mode != RecoveryMode::Recovery) {
    return {DeviceErrorKind::Failed, 0,
            RecoveryDeviceLabel(device) + " is in DFU mode, which no command can leave: force a restart with its "
                                          "buttons (see the recovery-mode help)"};
  }
  if (irecv_error_t code = irecv_setenv(client.client, "auto-boot", "true"); code != IRECV_E_SUCCESS) {
    return Mapped(code, "setting auto-boot");
  }
  if (irecv_error_t code = irecv_saveenv(client.client); code != IRECV_E_SUCCESS) {
    return Mapped(code, "saving the boot environment");
  }
  // The device goes away while it reboots, so a broken pipe here is the reboot itself.
  if (irecv_error_t code = irecv_reboot(client.client);
      code != IRECV_E_SUCCESS && code != IRECV_E_PIPE && code != IRECV_E_USB_STATUS) {
    return Mapped(code, "restarting the device");
  }
  return {};
}

}  // namespace tether
