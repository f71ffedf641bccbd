// One device opened through usbmuxd with a lockdownd session on it (the pairing
// handshake done), from which values are read and services started. Everything the
// libraries answer is turned into a DeviceError here.
//
// A session is cheap but not free (pairing may run, and the device drops an idle
// lockdownd connection after about ten seconds): open one for a piece of work, read or
// start what that work needs, and let it go.
#pragma once

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <memory>
#include <optional>
#include <string>

#include "tether/device/device_error.h"

namespace tether {

// The label lockdownd shows for our requests.
inline constexpr char kLockdownLabel[] = "quarry";

// What the libraries' codes mean to us; `what` names the step ("opening the device").
DeviceError IdeviceError(idevice_error_t code, const std::string& what);
DeviceError LockdownError(lockdownd_error_t code, const std::string& what);

// Frees a service descriptor on every way out.
struct ServiceDescriptorFree {
  void operator()(lockdownd_service_descriptor_t service) const;
};
using ServiceDescriptor =
    std::unique_ptr<lockdownd_service_descriptor, ServiceDescriptorFree>;

class LockdownSession {
 public:
  // Opens the device `udid` (usbmuxd only, never over the network) and runs the
  // handshake: pairs when usbmuxd holds no pair record, then starts the session.
  // Null with `error` set when it fails: TrustPending, Locked, TrustDenied and
  // StalePairing say the device is there but does not (yet) trust us.
  static std::unique_ptr<LockdownSession> Open(const std::string& udid, DeviceError& error);
  // Only the lockdownd connection, without pairing or session: the few values a device
  // gives to anyone (ProductType, ProductVersion, DeviceClass) and nothing more. Never
  // shows the trust dialog.
  static std::unique_ptr<LockdownSession> OpenUnpaired(const std::string& udid, DeviceError& error);

  ~LockdownSession();
  LockdownSession(const LockdownSession&) = delete;
  LockdownSession& operator=(const LockdownSession&) = delete;

  const std::string& Udid() const { return udid_; }
  idevice_t Device() const { return device_; }

  // A value of the device; `domain` null for the global one. A string value, empty
  // optional when absent or of another type (error set only when the request failed).
  std::optional<std::string> StringValue(const char* domain, const char* key, DeviceError* error = nullptr);
  std::optional<bool> BoolValue(const char* domain, const char* key, DeviceError* error = nullptr);

  // Starts a service; `withEscrowBag` sends the pair record's escrow bag, which
  // mobilebackup2 needs to back up a locked device. Null with `error` set on failure.
  ServiceDescriptor StartService(const char* name, bool withEscrowBag, DeviceError& error);

  // Ends the session and the lockdownd connection and keeps the device open, for work
  // that goes on only over services already started (mobilebackup2 wants lockdownd
  // let go once it runs).
  void CloseLockdown();

 private:
  LockdownSession(std::string udid, idevice_t device, lockdownd_client_t client);
  // The value as the device sent it (owned by the caller), null when absent.
  plist_t Value(const char* domain, const char* key, DeviceError* error);

  std::string udid_;
  idevice_t device_ = nullptr;
  lockdownd_client_t client_ = nullptr;
};

// Forgets the pair record usbmuxd holds for `udid`, so that the next handshake pairs
// anew (after the device was reset and no longer knows our record).
DeviceError ForgetPairRecord(const std::string& udid);

}  // namespace tether
