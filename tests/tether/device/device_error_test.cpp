// What the libraries' codes become, and the numbers and names callers branch on.
#include <gtest/gtest.h>

#include "tether/device/lockdown_session.h"

namespace tether {
namespace {

using K = DeviceErrorKind;

TEST(DeviceError, LockdownCodesMeanTheTrustStatesTheyStandFor) {
  const struct {
    lockdownd_error_t code;
    K kind;
  } cases[] = {
      {LOCKDOWN_E_SUCCESS, K::None},
      {LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING, K::TrustPending},
      {LOCKDOWN_E_PASSWORD_PROTECTED, K::Locked},
      {LOCKDOWN_E_USER_DENIED_PAIRING, K::TrustDenied},
      {LOCKDOWN_E_INVALID_HOST_ID, K::StalePairing},
      {LOCKDOWN_E_INVALID_CONF, K::StalePairing},
      {LOCKDOWN_E_MISSING_PAIR_RECORD, K::StalePairing},
      {LOCKDOWN_E_INVALID_PAIR_RECORD, K::StalePairing},
      {LOCKDOWN_E_MUX_ERROR, K::Disconnected},
      {LOCKDOWN_E_INVALID_ACTIVATION_RECORD, K::NotActivated},
      {LOCKDOWN_E_MISSING_ACTIVATION_RECORD, K::NotActivated},
      {LOCKDOWN_E_INVALID_SERVICE, K::ServiceRefused},
      {LOCKDOWN_E_RECEIVE_TIMEOUT, K::Timeout},
      {LOCKDOWN_E_SSL_ERROR, K::Failed},
      {LOCKDOWN_E_UNKNOWN_ERROR, K::Failed},
  };
  for (const auto& c : cases) {
    const DeviceError error = LockdownError(c.code, "step");
    EXPECT_EQ(error.kind, c.kind) << c.code;
    if (c.kind != K::None) {
      EXPECT_EQ(error.code, c.code);
      EXPECT_EQ(error.text.rfind("step: ", 0), 0u) << error.text;
    }
  }
  EXPECT_EQ(IdeviceError(IDEVICE_E_NO_DEVICE, "x").kind, K::NoDevice);
  EXPECT_EQ(IdeviceError(IDEVICE_E_NOT_ENOUGH_DATA, "x").kind, K::Disconnected);
  EXPECT_FALSE(IdeviceError(IDEVICE_E_SUCCESS, "x"));
}

TEST(DeviceError, NumbersAndNames) {
  const struct {
    DeviceError error;
    int number;
  } cases[] = {
      {{K::None, 0, ""}, 0},
      {{K::DiskFull, 0, ""}, -105},
      {{K::DiskFull, 28, ""}, -105},
      {{K::DeviceReported, 208, ""}, 208},
      {{K::TrustPending, -19, ""}, -19},
      // A code that would read as a full disk, or as success, gives the kind's number.
      {{K::Failed, -105, ""}, -1000 - static_cast<int>(K::Failed)},
      {{K::Cancelled, 0, ""}, -1000 - static_cast<int>(K::Cancelled)},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorNumber(c.error), c.number) << KindName(c.error.kind);

  // Every kind has a name of its own that reads back as that kind.
  for (int i = 0; i <= static_cast<int>(K::Failed); ++i) {
    const auto kind = static_cast<K>(i);
    EXPECT_EQ(KindFromName(KindName(kind)), kind) << KindName(kind);
  }
  EXPECT_STREQ(KindName(K::DiskFull), "disk-full");
  EXPECT_EQ(KindFromName("no-such-kind"), K::Failed);
}

}  // namespace
}  // namespace tether
