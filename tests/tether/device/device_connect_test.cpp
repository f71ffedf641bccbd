// Attach, trust and identify against the scripted fake device, with Debian's own
// libimobiledevice and libusbmuxd in between.
#include <gtest/gtest.h>

#include <mutex>
#include <utility>
#include <vector>

#include "tether/device/device_connect.h"
#include "tether/device/device_models.h"
#include "tether/device/device_watcher.h"
#include "tether/device/fake_device.h"

namespace tether {
namespace {

using test::FakeDevice;
using test::WaitUntil;

constexpr char kPhone[] = "00008101-000A1B2C3D4E5F60";
constexpr char kOther[] = "1111111111111111111111111111111111111111";

// A scenario with these devices, each given by the members after its udid.
std::string Scenario(const std::vector<std::pair<std::string, std::string>>& devices) {
  std::string json = R"({"devices": [)";
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (i > 0) json += ", ";
    json += R"({"udid": ")" + devices[i].first + '"';
    if (!devices[i].second.empty()) json += ", " + devices[i].second;
    json += "}";
  }
  return json + "]}";
}

TEST(DeviceConnect, TrustAnswersStepByStep) {
  struct Step {
    int trust;
    TrustWait wait;
  };
  const struct {
    const char* name;
    const char* members;
    std::vector<Step> steps;  // one IsTrueConnect each
  } cases[] = {
      {"no device", R"("attached": false)", {{0, TrustWait::None}}},
      {"trusted after two pending",
       R"("pair": ["pending", "pending", "ok"])",
       {{2, TrustWait::DialogPending}, {2, TrustWait::DialogPending}, {1, TrustWait::None}, {1, TrustWait::None}}},
      {"locked, then trusted", R"("pair": ["locked", "ok"])", {{2, TrustWait::Locked}, {1, TrustWait::None}}},
      {"denied stays denied", R"("pair": ["denied"])", {{2, TrustWait::Denied}, {2, TrustWait::Denied}}},
      {"a valid record needs no pairing", R"("pairRecord": "valid", "pair": ["denied"])", {{1, TrustWait::None}}},
      {"a stale record is made again", R"("pairRecord": "stale", "pair": ["ok"])", {{1, TrustWait::None}}},
      {"a stale record, then the dialog",
       R"("pairRecord": "stale", "pair": ["pending", "ok"])",
       {{2, TrustWait::DialogPending}, {1, TrustWait::None}}},
      {"not activated", R"("activation": "Unactivated")", {{2, TrustWait::NotActivated}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDevice fake(Scenario({{kPhone, c.members}}));
    ASSERT_TRUE(fake.Ready()) << fake.Failure();
    CDeviceConnect connect;
    EXPECT_EQ(connect.CheckConnection(), c.steps.front().trust == 0 ? 0 : 1);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      EXPECT_EQ(connect.IsTrueConnect(), c.steps[i].trust) << "step " << i << ": " << connect.WaitError().text
                                                           << "\n" << fake.Log();
      EXPECT_EQ(connect.WaitReason(), c.steps[i].wait) << "step " << i;
      if (c.steps[i].wait != TrustWait::None) {
        EXPECT_FALSE(WaitText(connect.WaitReason(), connect.WaitError()).empty());
      }
    }
  }
}

TEST(DeviceConnect, NamesTheTrustedDeviceAndSeesItGo) {
  FakeDevice fake(Scenario({{kPhone, R"("name": "Anna's iPhone", "productType": "iPhone13,2")"}}));
  ASSERT_TRUE(fake.Ready()) << fake.Failure();
  CDeviceConnect connect;
  ASSERT_EQ(connect.IsTrueConnect(), 1) << connect.WaitError().text;
  EXPECT_EQ(connect.Udid(), kPhone);
  std::string name;
  std::string kind;
  ASSERT_EQ(connect.GetDeviceInfo(name, kind), 1);
  EXPECT_EQ(name, "Anna's iPhone");
  EXPECT_EQ(kind, "iPhone 12, iOS 16.5");

  ASSERT_TRUE(fake.Detach(kPhone));
  EXPECT_TRUE(WaitUntil([&] { return connect.CheckConnection() == 0; }));
  EXPECT_EQ(connect.IsTrueConnect(), 0);
  EXPECT_EQ(connect.GetDeviceInfo(name, kind), 0);

  ASSERT_TRUE(fake.Attach(kPhone));
  EXPECT_TRUE(WaitUntil([&] { return connect.CheckConnection() == 1; }));
  EXPECT_EQ(connect.IsTrueConnect(), 1);
}

TEST(DeviceConnect, SeveralDevices) {
  FakeDevice fake(Scenario({{kPhone, R"("name": "First")"}, {kOther, R"("name": "Second")"}}));
  ASSERT_TRUE(fake.Ready()) << fake.Failure();
  CDeviceConnect any;
  EXPECT_EQ(any.IsHaveMoreDevice(), 1);
  ASSERT_EQ(any.CheckConnection(), 1);
  const std::string first = any.Udid();

  // The object keeps to its device while the other comes and goes.
  const std::string other = first == kPhone ? kOther : kPhone;
  CDeviceConnect named(other);
  ASSERT_EQ(named.IsTrueConnect(), 1) << named.WaitError().text;
  EXPECT_EQ(named.Udid(), other);
  ASSERT_TRUE(fake.Detach(other));
  EXPECT_TRUE(WaitUntil([&] { return any.IsHaveMoreDevice() == 0; }));
  EXPECT_EQ(named.CheckConnection(), 0);
  EXPECT_EQ(any.CheckConnection(), 1);
  EXPECT_EQ(any.Udid(), first);

  const std::vector<DeviceSummary> listed = CDeviceConnect::ListDevices();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].udid, first);
}

TEST(DeviceWatcher, ReportsPlugUnplugAndPairing) {
  FakeDevice fake(Scenario({{kPhone, ""}}));
  ASSERT_TRUE(fake.Ready()) << fake.Failure();
  std::mutex mutex;
  std::vector<std::string> seen;
  const auto saw = [&](const std::string& entry) {
    return WaitUntil([&] {
      const std::lock_guard lock(mutex);
      return std::find(seen.begin(), seen.end(), entry) != seen.end();
    });
  };
  DeviceWatcher watcher;
  ASSERT_FALSE(watcher.Start([&](DeviceWatcher::Event event, const std::string& udid) {
    const std::lock_guard lock(mutex);
    seen.push_back(std::string(EventName(event)) + " " + udid);
  }));
  DeviceWatcher second;
  EXPECT_TRUE(second.Start([](DeviceWatcher::Event, const std::string&) {}));  // one per process

  const std::string udid = kPhone;
  EXPECT_TRUE(saw("added " + udid));
  CDeviceConnect connect;
  EXPECT_EQ(connect.IsTrueConnect(), 1);
  EXPECT_TRUE(saw("paired " + udid));
  fake.Detach(kPhone);
  EXPECT_TRUE(saw("removed " + udid));
  watcher.Stop();

  // A stopped watcher frees the one place for another.
  EXPECT_FALSE(second.Start([](DeviceWatcher::Event, const std::string&) {}));
}

TEST(DeviceModels, FriendlyNamesAndSecondLine) {
  const struct {
    const char* productType;
    const char* version;
    const char* text;
  } cases[] = {
      {"iPhone13,2", "16.5", "iPhone 12, iOS 16.5"},
      {"iPhone12,8", "17.0", "iPhone SE (2nd generation), iOS 17.0"},
      {"iPhone99,1", "26.0", "iPhone99,1, iOS 26.0"},
      {"iPad8,1", "16.5", "iPad8,1, iPadOS 16.5"},
      {"iPad4,1", "12.5.7", "iPad4,1, iOS 12.5.7"},
      {"iPhone13,2", "", "iPhone 12"},
      {"", "16.5", "iOS 16.5"},
  };
  for (const auto& c : cases) EXPECT_EQ(DeviceKindText(c.productType, c.version), c.text);
}

}  // namespace
}  // namespace tether
