// Where libusbmuxd looks for the usbmuxd service and whether the service answers
// there, and which Apple devices the USB bus shows: the facts the device
// diagnostics explain ("usbmuxd is not running", "a phone in recovery mode").
//
// libusbmuxd reads USBMUXD_SOCKET_ADDRESS on every connect: "UNIX:/path" selects a
// UNIX socket, "host:port" a TCP address; without it the socket is /var/run/usbmuxd.
// We read the same variable the same way, so a test's fake service is found too.
#pragma once

#include <string>
#include <vector>

namespace tether {

struct UsbmuxAddress {
  enum class Kind { Unix, Tcp, Invalid };
  Kind kind = Kind::Invalid;
  std::string path;  // Unix
  std::string host;  // Tcp
  int port = 0;      // Tcp
  std::string text;  // as given, for messages
};

// The address from the variable's value; null or empty gives the default socket.
UsbmuxAddress UsbmuxAddressFrom(const char* value);
// The address the environment names now.
UsbmuxAddress CurrentUsbmuxAddress();

enum class UsbmuxState {
  Answers,     // a connection was accepted
  Missing,     // no such socket file (the service is not installed or not started)
  NotASocket,  // something else is at that path
  Refused,     // the socket is there but nobody accepts (a stale socket, a stopped service)
  Denied,      // no permission to connect
  Invalid,     // the address cannot be used (a malformed variable)
  Failed,      // any other error
};

// Tries one connection (closed at once) to the address; gives up after `timeoutMs`
// for a TCP address that does not answer.
UsbmuxState ProbeUsbmux(const UsbmuxAddress& address, int timeoutMs = 1000);

// An Apple device on the USB bus, as the kernel lists it.
struct UsbAppleDevice {
  enum class Mode { Normal, Recovery, Dfu, Other };
  unsigned productId = 0;
  Mode mode = Mode::Other;
  std::string sysfsName;  // e.g. "1-2"
};

// Apple devices (vendor 05ac) below `sysfsDevices` (normally /sys/bus/usb/devices),
// in name order; an unreadable folder gives none.
std::vector<UsbAppleDevice> AppleUsbDevices(const std::string& sysfsDevices = "/sys/bus/usb/devices");

// What a product id says about the device's mode: 0x1280-0x1283 recovery, 0x1227
// DFU, 0x1290-0x12ff a phone or tablet running normally.
UsbAppleDevice::Mode ModeOfProduct(unsigned productId);

// What the diagnostics tell the user, checked in this order: the service's socket,
// the devices on the bus, their modes.
enum class DeviceVerdict {
  Ready,               // usbmuxd answers (the device list says which phones it sees)
  AddressInvalid,      // USBMUXD_SOCKET_ADDRESS cannot be used
  NoDevice,            // nothing of Apple's on the bus: connect the phone (or a better cable)
  ServiceMissing,      // a phone on the bus but no usbmuxd socket: install or start usbmuxd
  ServiceNotStartable, // the same, and udev is not running (a container): usbmuxd must be started by hand
  ServiceNotAnswering, // a socket nobody answers on: restart usbmuxd, replug
  ServiceDenied,       // no permission on the socket
  RecoveryMode,        // a phone in recovery mode: the recovery pages, not a backup
  DfuMode,             // a phone in DFU mode
  NotReachable,        // usbmuxd answers, but the only Apple devices on the bus are not phones running normally
};

// The verdict from the facts; `udevRunning` is whether /run/udev/control exists.
DeviceVerdict Diagnose(UsbmuxState service, const std::vector<UsbAppleDevice>& devices, bool udevRunning);

}  // namespace tether
