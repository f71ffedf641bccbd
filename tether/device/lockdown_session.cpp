#include "tether/device/lockdown_session.h"

#include <usbmuxd.h>

#include <cstdlib>
#include <utility>

#include "tether/plist.h"

namespace tether {

namespace {

DeviceError Make(DeviceErrorKind kind, int code, const std::string& what, const char* text) {
  return DeviceError{kind, code, what + ": " + text};
}

struct PlistFree {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

}  // namespace

DeviceError IdeviceError(idevice_error_t code, const std::string& what) {
  switch (code) {
    case IDEVICE_E_SUCCESS: return {};
    case IDEVICE_E_NO_DEVICE:
      // 1.3.0 folds every usbmuxd failure into this code, so it also covers a
      // service that does not answer; the usbmux probe tells them apart.
      return Make(DeviceErrorKind::NoDevice, code, what, "no such device is attached (or usbmuxd does not answer)");
    case IDEVICE_E_NOT_ENOUGH_DATA:
      return Make(DeviceErrorKind::Disconnected, code, what, "the connection ended in the middle of a message");
    case IDEVICE_E_TIMEOUT: return Make(DeviceErrorKind::Timeout, code, what, "the device did not answer in time");
    case IDEVICE_E_SSL_ERROR: return Make(DeviceErrorKind::Failed, code, what, "the encrypted connection failed");
    case IDEVICE_E_INVALID_ARG: return Make(DeviceErrorKind::Failed, code, what, "invalid argument");
    default: return Make(DeviceErrorKind::Failed, code, what, "unknown error");
  }
}

DeviceError LockdownError(lockdownd_error_t code, const std::string& what) {
  using K = DeviceErrorKind;
  switch (code) {
    case LOCKDOWN_E_SUCCESS: return {};
    case LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING:
      return Make(K::TrustPending, code, what, "the device asks whether to trust this computer: tap Trust on it");
    case LOCKDOWN_E_PASSWORD_PROTECTED:
      return Make(K::Locked, code, what, "the device is locked: unlock it so that it can ask to trust this computer");
    case LOCKDOWN_E_USER_DENIED_PAIRING:
      return Make(K::TrustDenied, code, what,
                  "\"Don't Trust\" was tapped on the device: unplug it and plug it in again to be asked again");
    case LOCKDOWN_E_INVALID_HOST_ID:
    case LOCKDOWN_E_MISSING_HOST_ID:
    case LOCKDOWN_E_INVALID_CONF:
    case LOCKDOWN_E_MISSING_PAIR_RECORD:
    case LOCKDOWN_E_INVALID_PAIR_RECORD:
      return Make(K::StalePairing, code, what, "the device no longer knows this computer's pairing");
    case LOCKDOWN_E_INVALID_ACTIVATION_RECORD:
    case LOCKDOWN_E_MISSING_ACTIVATION_RECORD:
      return Make(K::NotActivated, code, what, "the device is not activated");
    case LOCKDOWN_E_MUX_ERROR:
      return Make(K::Disconnected, code, what, "the device went away or usbmuxd stopped answering");
    case LOCKDOWN_E_RECEIVE_TIMEOUT: return Make(K::Timeout, code, what, "the device did not answer in time");
    case LOCKDOWN_E_SSL_ERROR:
      return Make(K::Failed, code, what,
                  "the encrypted session failed (the device may have rejected the pairing: unplug and plug it in)");
    case LOCKDOWN_E_MISSING_SERVICE:
    case LOCKDOWN_E_INVALID_SERVICE:
      return Make(K::ServiceRefused, code, what, "the device does not offer this service");
    case LOCKDOWN_E_SERVICE_LIMIT:
      return Make(K::ServiceRefused, code, what, "the device runs too many services: unplug it and plug it in");
    case LOCKDOWN_E_SERVICE_PROHIBITED: return Make(K::ServiceRefused, code, what, "the device forbids this service");
    case LOCKDOWN_E_ESCROW_LOCKED:
      return Make(K::ServiceRefused, code, what, "the device must be unlocked once after it started");
    case LOCKDOWN_E_PAIRING_PROHIBITED_OVER_THIS_CONNECTION:
    case LOCKDOWN_E_MC_PROTECTED:
    case LOCKDOWN_E_MC_CHALLENGE_REQUIRED:
      return Make(K::Failed, code, what, "the device's management profile does not allow pairing with this computer");
    case LOCKDOWN_E_FMIP_PROTECTED: return Make(K::Failed, code, what, "Find My protects the device");
    case LOCKDOWN_E_PLIST_ERROR:
    case LOCKDOWN_E_DICT_ERROR:
    case LOCKDOWN_E_INVALID_RESPONSE:
      return Make(K::Failed, code, what, "the device sent an answer that could not be read");
    default: break;
  }
  const char* text = lockdownd_strerror(code);
  return Make(K::Failed, code, what, text ? text : "unknown error");
}

void ServiceDescriptorFree::operator()(lockdownd_service_descriptor_t service) const {
  lockdownd_service_descriptor_free(service);
}

LockdownSession::LockdownSession(std::string udid, idevice_t device, lockdownd_client_t client)
    : udid_(std::move(udid)), device_(device), client_(client) {}

LockdownSession::~LockdownSession() {
  CloseLockdown();
  if (device_) idevice_free(device_);
}

std::unique_ptr<LockdownSession> LockdownSession::Connect(const std::string& udid, bool handshake,
                                                          DeviceError& error) {
  if (udid.empty()) {
    error = DeviceError{DeviceErrorKind::NoDevice, 0, "opening the device: no device was named"};
    return nullptr;
  }
  idevice_t device = nullptr;
  error = IdeviceError(idevice_new_with_options(&device, udid.c_str(), IDEVICE_LOOKUP_USBMUX),
                       "opening the device " + udid);
  if (error) return nullptr;
  lockdownd_client_t client = nullptr;
  error = LockdownError(handshake ? lockdownd_client_new_with_handshake(device, &client, kLockdownLabel)
                                  : lockdownd_client_new(device, &client, kLockdownLabel),
                        "connecting to lockdownd");
  if (error) {
    idevice_free(device);
    return nullptr;
  }
  return std::unique_ptr<LockdownSession>(new LockdownSession(udid, device, client));
}

std::unique_ptr<LockdownSession> LockdownSession::Open(const std::string& udid, DeviceError& error) {
  return Connect(udid, true, error);
}

std::unique_ptr<LockdownSession> LockdownSession::OpenUnpaired(const std::string& udid, DeviceError& error) {
  return Connect(udid, false, error);
}

void LockdownSession::CloseLockdown() {
  if (!client_) return;
  lockdownd_client_free(client_);  // ends the session first
  client_ = nullptr;
}

plist_t LockdownSession::Value(const char* domain, const char* key, DeviceError* error) {
  if (!client_) {
    if (error) *error = DeviceError{DeviceErrorKind::Failed, 0, std::string("reading ") + key + ": lockdownd was closed"};
    return nullptr;
  }
  plist_t value = nullptr;
  const lockdownd_error_t code = lockdownd_get_value(client_, domain, key, &value);
  // A key the device does not have is an absent value, not a failure.
  if (code == LOCKDOWN_E_MISSING_VALUE || code == LOCKDOWN_E_MISSING_KEY) return nullptr;
  DeviceError failure = LockdownError(code, std::string("reading ") + key);
  if (failure) {
    plist_free(value);
    if (error) *error = std::move(failure);
    return nullptr;
  }
  return value;
}

std::optional<std::string> LockdownSession::StringValue(const char* domain, const char* key, DeviceError* error) {
  const PlistPtr value(Value(domain, key, error));
  std::string text;
  if (!value || !PlistStringValue(value.get(), text)) return std::nullopt;
  return text;
}

std::optional<bool> LockdownSession::BoolValue(const char* domain, const char* key, DeviceError* error) {
  const PlistPtr value(Value(domain, key, error));
  if (!value || plist_get_node_type(value.get()) != PLIST_BOOLEAN) return std::nullopt;
  uint8_t flag = 0;
  plist_get_bool_val(value.get(), &flag);
  return flag != 0;
}

ServiceDescriptor LockdownSession::StartService(const char* name, bool withEscrowBag, DeviceError& error) {
  const std::string what = std::string("starting ") + name;
  if (!client_) {
    error = DeviceError{DeviceErrorKind::Failed, 0, what + ": lockdownd was closed"};
    return nullptr;
  }
  lockdownd_service_descriptor_t service = nullptr;
  const lockdownd_error_t code = withEscrowBag
                                     ? lockdownd_start_service_with_escrow_bag(client_, name, &service)
                                     : lockdownd_start_service(client_, name, &service);
  ServiceDescriptor owned(service);
  // With the escrow bag, the library answers INVALID_CONF when our record has none and
  // the device MissingValue when it refuses the one we sent: neither is a stale pairing.
  if (withEscrowBag && (code == LOCKDOWN_E_INVALID_CONF || code == LOCKDOWN_E_MISSING_VALUE)) {
    error = Make(DeviceErrorKind::ServiceRefused, code, what,
                 "the device did not accept this computer's escrow bag (unlock it, or pair again)");
    return nullptr;
  }
  error = LockdownError(code, what);
  if (error) return nullptr;
  if (!owned || owned->port == 0) {
    error = DeviceError{DeviceErrorKind::ServiceRefused, 0, what + ": the device gave no port"};
    return nullptr;
  }
  return owned;
}

DeviceError ForgetPairRecord(const std::string& udid) {
  const int result = usbmuxd_delete_pair_record(udid.c_str());
  if (result == 0) return {};
  // usbmuxd answers "bad device" (2) when it holds no record: nothing left to forget.
  if (result == -2) return {};
  return DeviceError{DeviceErrorKind::ServiceUnreachable, result,
                     "forgetting the pairing of " + udid + ": usbmuxd did not take the request"};
}

}  // namespace tether
