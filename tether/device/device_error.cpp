#include "tether/device/device_error.h"

#include <array>
#include <string_view>

namespace tether {

namespace {

constexpr int kDiskFullNumber = -105;

struct KindInfo {
  DeviceErrorKind kind;
  const char* name;
};

// In the order of the enum; the position gives the fallback number.
constexpr std::array<KindInfo, 17> kKinds{{
    {DeviceErrorKind::None, "none"},
    {DeviceErrorKind::NoDevice, "no-device"},
    {DeviceErrorKind::ServiceUnreachable, "service-unreachable"},
    {DeviceErrorKind::TrustPending, "trust-pending"},
    {DeviceErrorKind::Locked, "locked"},
    {DeviceErrorKind::TrustDenied, "trust-denied"},
    {DeviceErrorKind::StalePairing, "stale-pairing"},
    {DeviceErrorKind::NotActivated, "not-activated"},
    {DeviceErrorKind::ServiceRefused, "service-refused"},
    {DeviceErrorKind::ProtocolMismatch, "protocol-mismatch"},
    {DeviceErrorKind::DeviceReported, "device-reported"},
    {DeviceErrorKind::Disconnected, "disconnected"},
    {DeviceErrorKind::Cancelled, "cancelled"},
    {DeviceErrorKind::DiskFull, "disk-full"},
    {DeviceErrorKind::LocalIo, "local-io"},
    {DeviceErrorKind::Timeout, "timeout"},
    {DeviceErrorKind::Failed, "failed"},
}};

static_assert(kKinds.back().kind == DeviceErrorKind::Failed, "every kind has its entry");

}  // namespace

int ErrorNumber(const DeviceError& error) {
  if (error.kind == DeviceErrorKind::None) return 0;
  if (error.kind == DeviceErrorKind::DiskFull) return kDiskFullNumber;
  // A library code that happens to read -105 must not be taken for a full disk, and
  // 0 would read as success.
  if (error.code != 0 && error.code != kDiskFullNumber) return error.code;
  return -1000 - static_cast<int>(error.kind);
}

const char* KindName(DeviceErrorKind kind) {
  for (const KindInfo& info : kKinds) {
    if (info.kind == kind) return info.name;
  }
  return "failed";
}

DeviceErrorKind KindFromName(const std::string& name) {
  for (const KindInfo& info : kKinds) {
    if (name == info.name) return info.kind;
  }
  return DeviceErrorKind::Failed;
}

}  // namespace tether
