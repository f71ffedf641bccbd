// Where the usbmuxd service is looked for, whether it answers, and which Apple
// devices the USB bus shows: against real sockets of the test's own and a made-up
// sysfs tree.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "support/test_support.h"
#include "tether/device/device_sources.h"
#include "tether/device/usbmux_socket.h"

namespace tether {
namespace {

using Kind = UsbmuxAddress::Kind;

TEST(UsbmuxAddress, ReadsTheVariableAsLibusbmuxdDoes) {
  const struct {
    const char* value;
    Kind kind;
    const char* pathOrHost;
    int port;
  } cases[] = {
      {nullptr, Kind::Unix, "/var/run/usbmuxd", 0},
      {"", Kind::Unix, "/var/run/usbmuxd", 0},
      {"UNIX:/tmp/fake.sock", Kind::Unix, "/tmp/fake.sock", 0},
      {"UNIX:", Kind::Invalid, "", 0},
      {"127.0.0.1:27015", Kind::Tcp, "127.0.0.1", 27015},
      {"[::1]:27015", Kind::Tcp, "::1", 27015},
      {"localhost:0", Kind::Invalid, "", 0},
      {"localhost:70000", Kind::Invalid, "", 0},
      {"localhost:27x", Kind::Invalid, "", 0},
      {"justahost", Kind::Invalid, "", 0},
      {":27015", Kind::Invalid, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value == nullptr ? "(unset)" : c.value);
    const UsbmuxAddress a = UsbmuxAddressFrom(c.value);
    EXPECT_EQ(a.kind, c.kind);
    EXPECT_EQ(c.kind == Kind::Tcp ? a.host : a.path, c.pathOrHost);
    EXPECT_EQ(a.port, c.port);
  }
}

// A listening socket of the test: UNIX at a path, or TCP on a free local port.
struct Listener {
  int fd = -1;
  int port = 0;
  ~Listener() {
    if (fd >= 0) ::close(fd);
  }
  bool Unix(const std::string& path) {
    fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    return fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 4) == 0;
  }
  bool Tcp() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
      return false;
    }
    port = ntohs(a.sin_port);
    return true;
  }
};

TEST(UsbmuxProbe, TellsAnsweringMissingStaleAndWrongKindsApart) {
  sieve::test::TempDir dir;
  const std::string live = dir.Join("live.sock");
  Listener service;
  ASSERT_TRUE(service.Unix(live));
  // A socket file nobody listens on any more: what a stopped service leaves behind.
  const std::string stale = dir.Join("stale.sock");
  {
    Listener gone;
    ASSERT_TRUE(gone.Unix(stale));
  }
  sieve::test::WriteFile(dir.Join("file"), "not a socket");
  Listener tcp;
  ASSERT_TRUE(tcp.Tcp());
  int closedPort = 0;
  {
    Listener closed;
    ASSERT_TRUE(closed.Tcp());
    closedPort = closed.port;
  }
  const struct {
    std::string value;
    UsbmuxState state;
  } cases[] = {
      {"UNIX:" + live, UsbmuxState::Answers},
      {"UNIX:" + dir.Join("none.sock"), UsbmuxState::Missing},
      {"UNIX:" + stale, UsbmuxState::Refused},
      {"UNIX:" + dir.Join("file"), UsbmuxState::NotASocket},
      {"UNIX:" + std::string(200, 'x'), UsbmuxState::Missing},
      {"127.0.0.1:" + std::to_string(tcp.port), UsbmuxState::Answers},
      {"127.0.0.1:" + std::to_string(closedPort), UsbmuxState::Refused},
      {"nonsense", UsbmuxState::Invalid},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(ProbeUsbmux(UsbmuxAddressFrom(c.value.c_str()), 500), c.state);
  }
}

TEST(AppleUsbDevices, FindsApplesDevicesAndTheirModesInSysfs) {
  sieve::test::TempDir dir;
  const auto device = [&](const std::string& name, const char* vendor, const char* product) {
    std::filesystem::create_directories(dir.Join(name));
    if (vendor != nullptr) sieve::test::WriteFile(dir.Join(name + "/idVendor"), std::string(vendor) + "\n");
    if (product != nullptr) sieve::test::WriteFile(dir.Join(name + "/idProduct"), std::string(product) + "\n");
  };
  device("1-2", "05ac", "12a8");     // an iPhone, running
  device("1-1", "05ac", "1281");     // one in recovery mode
  device("2-1", "05ac", "1227");     // one in DFU mode
  device("1-3", "046d", "c52b");     // a mouse
  device("1-4", "05ac", "zzzz");     // an unreadable product id
  device("usb1", nullptr, nullptr);  // a root hub's folder without ids
  const std::vector<UsbAppleDevice> found = AppleUsbDevices(dir.Path());
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].sysfsName, "1-1");
  EXPECT_EQ(found[0].mode, UsbAppleDevice::Mode::Recovery);
  EXPECT_EQ(found[1].productId, 0x12a8u);
  EXPECT_EQ(found[1].mode, UsbAppleDevice::Mode::Normal);
  EXPECT_EQ(found[2].mode, UsbAppleDevice::Mode::Dfu);
  EXPECT_TRUE(AppleUsbDevices(dir.Join("missing")).empty());

  // The recovery-mode source lists the two that usbmuxd never sees, by the ECID iBoot puts
  // in its serial string (nothing can be opened here, so no model), else by the bus name.
  sieve::test::WriteFile(dir.Join("1-1/serial"),
                         "CPID:8030 CPRV:11 CPFM:03 SCEP:01 BDID:04 ECID:001A2B3C4D5E6F70 IBFL:3C\n");
  sieve::test::WriteFile(dir.Join("2-1/serial"), "CPID:8030 ECID:zz\n");
  DeviceError error;
  const std::vector<DeviceSummary> listed = ListRecoveryDevices(dir.Path(), error);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].udid, "0x1A2B3C4D5E6F70");
  EXPECT_EQ(listed[0].mode, DeviceMode::Recovery);
  EXPECT_EQ(listed[1].udid, "usb:2-1");
  EXPECT_EQ(listed[1].mode, DeviceMode::Dfu);
  EXPECT_FALSE(error);
}

TEST(DeviceVerdict, FollowsTheServiceThenTheBus) {
  using M = UsbAppleDevice::Mode;
  const auto bus = [](std::initializer_list<M> modes) {
    std::vector<UsbAppleDevice> devices;
    for (const M mode : modes) devices.push_back({0, mode, "x"});
    return devices;
  };
  const struct {
    UsbmuxState service;
    std::vector<UsbAppleDevice> devices;
    bool udev;
    DeviceVerdict verdict;
  } cases[] = {
      {UsbmuxState::Answers, bus({M::Normal}), true, DeviceVerdict::Ready},
      {UsbmuxState::Answers, {}, true, DeviceVerdict::Ready},  // no /sys to read: the device list decides
      {UsbmuxState::Answers, bus({M::Other}), true, DeviceVerdict::NotReachable},
      {UsbmuxState::Missing, {}, true, DeviceVerdict::NoDevice},
      {UsbmuxState::Missing, bus({M::Normal}), true, DeviceVerdict::ServiceMissing},
      {UsbmuxState::Missing, bus({M::Normal}), false, DeviceVerdict::ServiceNotStartable},
      {UsbmuxState::NotASocket, bus({M::Normal}), true, DeviceVerdict::ServiceMissing},
      {UsbmuxState::Refused, bus({M::Normal}), true, DeviceVerdict::ServiceNotAnswering},
      {UsbmuxState::Denied, bus({M::Normal}), true, DeviceVerdict::ServiceDenied},
      {UsbmuxState::Invalid, bus({M::Normal}), true, DeviceVerdict::AddressInvalid},
      {UsbmuxState::Missing, bus({M::Recovery}), false, DeviceVerdict::RecoveryMode},
      {UsbmuxState::Answers, bus({M::Dfu}), true, DeviceVerdict::DfuMode},
      {UsbmuxState::Answers, bus({M::Recovery, M::Normal}), true, DeviceVerdict::Ready},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(Diagnose(cases[i].service, cases[i].devices, cases[i].udev), cases[i].verdict) << "case " << i;
  }
}

}  // namespace
}  // namespace tether
