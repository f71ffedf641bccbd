// Values and service starts over a real lockdownd session with the fake device: what
// the backup relies on, and how each refusal reads.
#include <gtest/gtest.h>

#include "tether/device/fake_device.h"
#include "tether/device/lockdown_session.h"

namespace tether {
namespace {

constexpr char kPhone[] = "00008101-000A1B2C3D4E5F60";

TEST(LockdownSession, ReadsValuesAndStartsServicesOrSaysWhyNot) {
  const struct {
    const char* name;
    const char* members;
    const char* service;
    bool escrowBag;
    DeviceErrorKind kind;
  } cases[] = {
      {"a service", R"("services": {"afc": false})", "com.apple.mobile.notification_proxy", false,
       DeviceErrorKind::None},
      {"a refused service", R"("services": {"afc": false})", "com.apple.afc", false, DeviceErrorKind::ServiceRefused},
      {"backup with the escrow bag", "", "com.apple.mobilebackup2", true, DeviceErrorKind::None},
      {"an escrow bag the device will not take", R"("escrowBag": false)", "com.apple.mobilebackup2", true,
       DeviceErrorKind::ServiceRefused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeDevice fake(std::string(R"({"devices": [{"udid": ")") + kPhone +
                          R"(", "pairRecord": "valid", "willEncrypt": true)" + (*c.members ? ", " : "") + c.members +
                          "}]}");
    ASSERT_TRUE(fake.Ready()) << fake.Failure();
    DeviceError error;
    const auto session = LockdownSession::Open(kPhone, error);
    ASSERT_TRUE(session) << error.text << "\n" << fake.Log();
    EXPECT_EQ(session->BoolValue("com.apple.mobile.backup", "WillEncrypt"), true);
    EXPECT_EQ(session->StringValue(nullptr, "ProductVersion"), "16.5");
    DeviceError absent;
    EXPECT_EQ(session->StringValue(nullptr, "NoSuchKey", &absent), std::nullopt);
    EXPECT_FALSE(absent) << absent.text;

    const ServiceDescriptor service = session->StartService(c.service, c.escrowBag, error);
    EXPECT_EQ(error.kind, c.kind) << error.text;
    EXPECT_EQ(service != nullptr, c.kind == DeviceErrorKind::None);

    session->CloseLockdown();
    EXPECT_FALSE(session->StartService(c.service, c.escrowBag, error));
    EXPECT_EQ(error.kind, DeviceErrorKind::Failed);
  }
  DeviceError error;
  EXPECT_FALSE(LockdownSession::Open(kPhone, error));  // the fake is gone
  EXPECT_EQ(error.kind, DeviceErrorKind::NoDevice) << error.text;
}

}  // namespace
}  // namespace tether
