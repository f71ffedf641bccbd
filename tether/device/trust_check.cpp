#include "tether/device/trust_check.h"

#include <utility>

namespace tether {

TrustWait WaitOf(DeviceErrorKind kind) {
  switch (kind) {
    case DeviceErrorKind::None:
    case DeviceErrorKind::NoDevice:
    case DeviceErrorKind::ServiceUnreachable:
    case DeviceErrorKind::Disconnected: return TrustWait::None;
    case DeviceErrorKind::TrustPending: return TrustWait::DialogPending;
    case DeviceErrorKind::Locked: return TrustWait::Locked;
    case DeviceErrorKind::TrustDenied: return TrustWait::Denied;
    case DeviceErrorKind::StalePairing: return TrustWait::StalePairing;
    case DeviceErrorKind::NotActivated: return TrustWait::NotActivated;
    default: return TrustWait::Other;
  }
}

TrustVerdict VerdictOf(DeviceError error) {
  TrustVerdict verdict;
  verdict.wait = WaitOf(error.kind);
  verdict.trust = verdict.wait == TrustWait::None ? 0 : 2;
  verdict.error = std::move(error);
  return verdict;
}

TrustVerdict CheckTrust(const std::string& udid) {
  DeviceError error;
  auto session = LockdownSession::Open(udid, error);
  if (!session && error.kind == DeviceErrorKind::StalePairing) {
    // Our record names a host the device no longer knows: without it the handshake
    // pairs anew, and the device asks the user to trust us again.
    if (DeviceError forget = ForgetPairRecord(udid)) return VerdictOf(std::move(forget));
    session = LockdownSession::Open(udid, error);
  }
  if (!session) return VerdictOf(std::move(error));

  if (session->StringValue(nullptr, "ActivationState") == "Unactivated") {
    return VerdictOf(DeviceError{DeviceErrorKind::NotActivated, 0,
                                 "the device is not activated: finish its setup before a backup"});
  }
  TrustVerdict verdict;
  verdict.trust = 1;
  verdict.session = std::move(session);
  return verdict;
}

}  // namespace tether
