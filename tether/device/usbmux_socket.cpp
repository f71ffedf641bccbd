#include "tether/device/usbmux_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tether {

namespace {

constexpr char kDefaultSocket[] = "/var/run/usbmuxd";
constexpr unsigned kAppleVendor = 0x05ac;

UsbmuxState StateOfErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return UsbmuxState::Missing;
    case ECONNREFUSED: return UsbmuxState::Refused;
    case EACCES:
    case EPERM: return UsbmuxState::Denied;
    default: return UsbmuxState::Failed;
  }
}

// Closes the descriptor on every way out.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

UsbmuxState ProbeUnix(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return StateOfErrno(errno);
  if (!S_ISSOCK(info.st_mode)) return UsbmuxState::NotASocket;
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return UsbmuxState::Invalid;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const Fd socket{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  if (socket.fd < 0) return UsbmuxState::Failed;
  if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return StateOfErrno(errno);
  }
  return UsbmuxState::Answers;
}

UsbmuxState ProbeTcp(const std::string& host, int port, int timeoutMs) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || found == nullptr) {
    return UsbmuxState::Invalid;
  }
  UsbmuxState state = UsbmuxState::Failed;
  for (const addrinfo* a = found; a != nullptr && state != UsbmuxState::Answers; a = a->ai_next) {
    const Fd socket{::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol)};
    if (socket.fd < 0) continue;
    if (::connect(socket.fd, a->ai_addr, a->ai_addrlen) == 0) {
      state = UsbmuxState::Answers;
      break;
    }
    if (errno != EINPROGRESS) {
      state = StateOfErrno(errno);
      continue;
    }
    // A service that never answers must not hold the diagnostics up.
    pollfd wait{socket.fd, POLLOUT, 0};
    if (::poll(&wait, 1, timeoutMs) != 1) continue;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) continue;
    state = error == 0 ? UsbmuxState::Answers : StateOfErrno(error);
  }
  ::freeaddrinfo(found);
  return state;
}

// The hexadecimal number in a sysfs attribute file ("05ac\n"); nullopt-like -1 when unreadable.
long HexAttribute(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string text;
  if (!(in >> text) || text.empty() || text.size() > 8) return -1;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (error != std::errc() || end != text.data() + text.size()) return -1;
  return static_cast<long>(value);
}

}  // namespace

UsbmuxAddress UsbmuxAddressFrom(const char* value) {
  UsbmuxAddress address;
  const std::string text = value == nullptr ? std::string() : std::string(value);
  address.text = text.empty() ? kDefaultSocket : text;
  if (text.empty()) {
    address.kind = UsbmuxAddress::Kind::Unix;
    address.path = kDefaultSocket;
    return address;
  }
  if (text.rfind("UNIX:", 0) == 0) {
    address.path = text.substr(5);
    if (!address.path.empty()) address.kind = UsbmuxAddress::Kind::Unix;
    return address;
  }
  // host:port, the port after the last colon (an IPv6 host has colons of its own).
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return address;
  int port = 0;
  const char* first = text.data() + colon + 1;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(first, last, port);
  if (error != std::errc() || end != last || port <= 0 || port > 65535) return address;
  address.host = text.substr(0, colon);
  if (address.host.size() > 2 && address.host.front() == '[' && address.host.back() == ']') {
    address.host = address.host.substr(1, address.host.size() - 2);
  }
  address.port = port;
  address.kind = UsbmuxAddress::Kind::Tcp;
  return address;
}

UsbmuxAddress CurrentUsbmuxAddress() { return UsbmuxAddressFrom(std::getenv("USBMUXD_SOCKET_ADDRESS")); }

UsbmuxState ProbeUsbmux(const UsbmuxAddress& address, int timeoutMs) {
  switch (address.kind) {
    case UsbmuxAddress::Kind::Unix: return ProbeUnix(address.path);
    case UsbmuxAddress::Kind::Tcp: return ProbeTcp(address.host, address.port, timeoutMs);
    case UsbmuxAddress::Kind::Invalid: break;
  }
  return UsbmuxState::Invalid;
}

UsbAppleDevice::Mode ModeOfProduct(unsigned productId) {
  if (productId >= 0x1280 && productId <= 0x1283) return UsbAppleDevice::Mode::Recovery;
  if (productId == 0x1227) return UsbAppleDevice::Mode::Dfu;
  if (productId >= 0x1290 && productId <= 0x12ff) return UsbAppleDevice::Mode::Normal;
  return UsbAppleDevice::Mode::Other;
}

std::vector<UsbAppleDevice> AppleUsbDevices(const std::string& sysfsDevices) {
  std::vector<UsbAppleDevice> devices;
  std::error_code error;
  std::filesystem::directory_iterator it(sysfsDevices, error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::filesystem::path folder = it->path();
    if (HexAttribute(folder / "idVendor") != static_cast<long>(kAppleVendor)) continue;
    const long product = HexAttribute(folder / "idProduct");
    if (product < 0) continue;
    UsbAppleDevice device;
    device.productId = static_cast<unsigned>(product);
    device.mode = ModeOfProduct(device.productId);
    device.sysfsName = folder.filename().string();
    devices.push_back(std::move(device));
  }
  std::sort(devices.begin(), devices.end(),
            [](const UsbAppleDevice& a, const UsbAppleDevice& b) { return a.sysfsName < b.sysfsName; });
  return devices;
}

DeviceVerdict Diagnose(UsbmuxState service, const std::vector<UsbAppleDevice>& devices, bool udevRunning) {
  const auto any = [&devices](UsbAppleDevice::Mode mode) {
    return std::any_of(devices.begin(), devices.end(), [mode](const UsbAppleDevice& d) { return d.mode == mode; });
  };
  // A phone in recovery or DFU mode never shows through usbmuxd: say so whatever the service does.
  if (!any(UsbAppleDevice::Mode::Normal)) {
    if (any(UsbAppleDevice::Mode::Recovery)) return DeviceVerdict::RecoveryMode;
    if (any(UsbAppleDevice::Mode::Dfu)) return DeviceVerdict::DfuMode;
  }
  switch (service) {
    case UsbmuxState::Invalid: return DeviceVerdict::AddressInvalid;
    case UsbmuxState::Denied: return DeviceVerdict::ServiceDenied;
    case UsbmuxState::Refused:
    case UsbmuxState::Failed: return DeviceVerdict::ServiceNotAnswering;
    case UsbmuxState::Missing:
    case UsbmuxState::NotASocket:
      if (devices.empty()) return DeviceVerdict::NoDevice;
      return udevRunning ? DeviceVerdict::ServiceMissing : DeviceVerdict::ServiceNotStartable;
    case UsbmuxState::Answers: break;
  }
  // The bus may not be readable (a container without /sys) while usbmuxd sees a phone:
  // with the service answering, only Apple devices none of which runs normally say more.
  if (!devices.empty() && !any(UsbAppleDevice::Mode::Normal)) return DeviceVerdict::NotReachable;
  return DeviceVerdict::Ready;
}

}  // namespace tether
