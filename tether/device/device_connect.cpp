#include "tether/device/device_connect.h"

#include <algorithm>
#include <utility>

#include "tether/device/attached_devices.h"
#include "tether/device/device_models.h"
#include "tether/device/trust_check.h"

namespace tether {

const char* WaitName(TrustWait wait) {
  switch (wait) {
    case TrustWait::None: return "none";
    case TrustWait::DialogPending: return "dialog-pending";
    case TrustWait::Locked: return "locked";
    case TrustWait::Denied: return "denied";
    case TrustWait::StalePairing: return "stale-pairing";
    case TrustWait::NotActivated: return "not-activated";
    case TrustWait::Other: return "other";
  }
  return "other";
}

std::string WaitText(TrustWait wait, const DeviceError& error) {
  switch (wait) {
    case TrustWait::None: return {};
    case TrustWait::DialogPending: return "Tap Trust on the device and enter its passcode";
    case TrustWait::Locked: return "Unlock the device so that it can ask to trust this computer";
    case TrustWait::Denied: return "\"Don't Trust\" was tapped: unplug the device and plug it in again";
    case TrustWait::StalePairing: return "The device forgot this computer: unplug it and plug it in again";
    case TrustWait::NotActivated: return "The device is not activated: finish its setup first";
    case TrustWait::Other: break;
  }
  return error.text;
}

const char* ModeName(DeviceMode mode) {
  switch (mode) {
    case DeviceMode::Normal: return "normal";
    case DeviceMode::Recovery: return "recovery";
    case DeviceMode::Dfu: return "dfu";
  }
  return "normal";
}

CDeviceConnect::CDeviceConnect(std::string udid) : wantedUdid_(std::move(udid)) {}

bool CDeviceConnect::ChooseDevice() {
  const std::vector<std::string> udids = AttachedUdids();
  const auto attached = [&](const std::string& udid) {
    return std::find(udids.begin(), udids.end(), udid) != udids.end();
  };
  if (!wantedUdid_.empty()) {
    udid_ = attached(wantedUdid_) ? wantedUdid_ : std::string();
  } else if (udid_.empty() || !attached(udid_)) {
    udid_ = udids.empty() ? std::string() : udids.front();
  }
  return !udid_.empty();
}

int CDeviceConnect::CheckConnection() { return ChooseDevice() ? 1 : 0; }

int CDeviceConnect::IsHaveMoreDevice() { return AttachedUdids().size() > 1 ? 1 : 0; }

int CDeviceConnect::IsTrueConnect() {
  if (!ChooseDevice()) {
    wait_ = TrustWait::None;
    waitError_ = DeviceError{DeviceErrorKind::NoDevice, 0, "no device is attached"};
    return 0;
  }
  TrustVerdict verdict = CheckTrust(udid_);
  wait_ = verdict.wait;
  waitError_ = std::move(verdict.error);
  return verdict.trust;
}

int CDeviceConnect::GetDeviceInfo(std::string& name, std::string& kind) {
  if (!ChooseDevice()) return 0;
  DeviceError error;
  const auto session = LockdownSession::Open(udid_, error);
  if (!session) return 0;
  const std::string productType = session->StringValue(nullptr, "ProductType").value_or("");
  const std::string version = session->StringValue(nullptr, "ProductVersion").value_or("");
  name = session->StringValue(nullptr, "DeviceName").value_or("");
  if (name.empty()) name = ModelName(productType);
  if (name.empty()) return 0;
  kind = DeviceKindText(productType, version);
  return 1;
}

namespace {

void ReadNames(LockdownSession& session, DeviceSummary& summary) {
  summary.productType = session.StringValue(nullptr, "ProductType").value_or("");
  summary.productVersion = session.StringValue(nullptr, "ProductVersion").value_or("");
  summary.deviceClass = session.StringValue(nullptr, "DeviceClass").value_or("");
}

}  // namespace

std::vector<DeviceSummary> CDeviceConnect::ListDevices(DeviceError* error) {
  std::vector<DeviceSummary> devices;
  for (const std::string& udid : AttachedUdids(error)) {
    DeviceSummary summary;
    summary.udid = udid;
    TrustVerdict verdict = CheckTrust(udid);
    if (verdict.trust == 0) continue;  // gone since usbmuxd listed it
    summary.trust = verdict.trust;
    summary.wait = verdict.wait;
    summary.waitError = std::move(verdict.error);
    if (verdict.session) {
      ReadNames(*verdict.session, summary);
      summary.name = verdict.session->StringValue(nullptr, "DeviceName").value_or("");
    } else {
      // Without trust a device still tells anyone what it is.
      DeviceError ignored;
      if (const auto plain = LockdownSession::OpenUnpaired(udid, ignored)) ReadNames(*plain, summary);
    }
    devices.push_back(std::move(summary));
  }
  return devices;
}

}  // namespace tether
