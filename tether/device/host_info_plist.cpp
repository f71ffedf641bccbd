#include "tether/device/host_info_plist.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

namespace tether {

namespace {

constexpr std::int64_t kAppleEpoch = 978307200;

// The device's values copied under the names a backup's Info.plist uses.
constexpr struct {
  const char* deviceKey;
  const char* infoKey;
} kCopied[] = {
    {"BuildVersion", "Build Version"},
    {"DeviceName", "Device Name"},
    {"DeviceName", "Display Name"},
    {"IntegratedCircuitCardIdentity", "ICCID"},
    {"InternationalMobileEquipmentIdentity", "IMEI"},
    {"MobileEquipmentIdentifier", "MEID"},
    {"PhoneNumber", "Phone Number"},
    {"ProductType", "Product Type"},
    {"ProductVersion", "Product Version"},
    {"SerialNumber", "Serial Number"},
};

std::string RandomGuid() {
  std::random_device random;
  std::string guid;
  static const char kHex[] = "0123456789ABCDEF";
  for (int i = 0; i < 32; ++i) guid += kHex[random() & 15];
  return guid;
}

}  // namespace

DeviceError WriteHostInfoPlist(LockdownSession& session, const BackupRoot& root) {
  const std::string& udid = session.Udid();
  plist_t info = plist_new_dict();
  for (const auto& copied : kCopied) {
    DeviceError error;
    const std::optional<std::string> value = session.StringValue(nullptr, copied.deviceKey, &error);
    if (error) {
      plist_free(info);
      return error;
    }
    if (value && !value->empty()) plist_dict_set_item(info, copied.infoKey, plist_new_string(value->c_str()));
  }
  std::string upper = udid;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  plist_dict_set_item(info, "GUID", plist_new_string(RandomGuid().c_str()));
  plist_dict_set_item(info, "Last Backup Date",
                      plist_new_date(static_cast<std::int32_t>(std::time(nullptr) - kAppleEpoch), 0));
  plist_dict_set_item(info, "Target Identifier", plist_new_string(udid.c_str()));
  plist_dict_set_item(info, "Target Type", plist_new_string("Device"));
  plist_dict_set_item(info, "Unique Identifier", plist_new_string(upper.c_str()));
  const std::optional<std::string> minimum = session.StringValue("com.apple.mobile.iTunes", "MinITunesVersion");
  const std::string version = minimum && !minimum->empty() ? *minimum : "10.0.1";
  plist_dict_set_item(info, "iTunes Version", plist_new_string(version.c_str()));

  char* xml = nullptr;
  std::uint32_t size = 0;
  plist_to_xml(info, &xml, &size);
  plist_free(info);
  int result = root.MakeFolder(udid);
  const int fd = result == 0 ? root.OpenFile(udid + "/Info.plist", O_WRONLY | O_TRUNC, 0600) : result;
  result = fd < 0 ? fd : 0;
  for (std::uint32_t done = 0; fd >= 0 && done < size;) {
    const ssize_t put = ::write(fd, xml + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) {
      result = -errno;
      break;
    }
    done += static_cast<std::uint32_t>(put);
  }
  if (fd >= 0 && ::close(fd) != 0 && result == 0) result = -errno;
  std::free(xml);
  if (result == 0) return {};
  if (result == -ENOSPC) return {DeviceErrorKind::DiskFull, -105, "The disk holding the backup folder is full."};
  return {DeviceErrorKind::LocalIo, result, std::string("Writing Info.plist failed: ") + std::strerror(-result)};
}

}  // namespace tether
