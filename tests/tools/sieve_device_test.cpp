// `sieve device list` against the scripted fake device: what each device shows, and
// how a usbmuxd that is absent differs from one that is broken.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/sieve_cli.h"
#include "tether/device/fake_device.h"

namespace sieve::test {
namespace {

constexpr char kTrusted[] = "00008101-000A1B2C3D4E5F60";
constexpr char kDenied[] = "2222222222222222222222222222222222222222";

const JsonValue* ByUdid(const JsonValue& list, const std::string& udid) {
  for (const JsonValue& item : list.Items) {
    if (item.Text("udid") == udid) return &item;
  }
  return nullptr;
}

TEST(SieveDevice, ListsEachDeviceWithItsTrustState) {
  tether::test::FakeDevice fake(std::string(R"({"devices": [)") +
                                R"({"udid": ")" + kTrusted +
                                R"(", "name": "Anna's iPhone", "productType": "iPhone13,2"},)" +
                                R"({"udid": ")" + kDenied +
                                R"(", "productType": "iPhone14,5", "productVersion": "17.0", "pair": ["denied"]}]})");
  ASSERT_TRUE(fake.Ready()) << fake.Failure();
  const CommandResult run = RunSieve({"device", "list", "--json"}, {}, {fake.EnvironmentEntry()});
  ASSERT_EQ(run.ExitCode, 0) << run.Err << fake.Log();
  const JsonValue list = ParseJson(run.Out);
  ASSERT_EQ(list.Items.size(), 2u) << run.Out;

  const JsonValue* trusted = ByUdid(list, kTrusted);
  ASSERT_NE(trusted, nullptr) << run.Out;
  EXPECT_EQ(trusted->Text("name"), "Anna's iPhone");
  EXPECT_EQ(trusted->Text("product_type"), "iPhone13,2");
  EXPECT_EQ(trusted->Text("model"), "iPhone 12");
  EXPECT_EQ(trusted->Text("product_version"), "16.5");
  EXPECT_EQ(trusted->Text("mode"), "normal");
  EXPECT_EQ(trusted->Text("trust"), "trusted");
  EXPECT_TRUE((*trusted)["wait"].IsNull());

  // Without trust the device still says what it is, but not its name.
  const JsonValue* denied = ByUdid(list, kDenied);
  ASSERT_NE(denied, nullptr) << run.Out;
  EXPECT_EQ(denied->Text("name"), "");
  EXPECT_EQ(denied->Text("product_type"), "iPhone14,5");
  EXPECT_EQ(denied->Text("product_version"), "17.0");
  EXPECT_EQ(denied->Text("trust"), "waiting");
  EXPECT_EQ(denied->Text("wait"), "denied");
  EXPECT_NE(denied->Text("wait_text").find("Don't Trust"), std::string::npos) << run.Out;

  const CommandResult table = Succeeds({"device", "list"}, {}, {fake.EnvironmentEntry()});
  EXPECT_NE(table.Out.find(kTrusted), std::string::npos) << table.Out;
  EXPECT_NE(table.Out.find("waiting"), std::string::npos) << table.Out;
}

TEST(SieveDevice, NoServiceIsAnEmptyListAndABrokenOneAFailure) {
  TempDir dir;
  WriteFile(dir.Join("a-file"), "x");
  const struct {
    std::string address;
    int exitCode;
    std::string out;
  } cases[] = {
      {"UNIX:" + dir.Join("absent"), 0, "[]\n"},
      {"UNIX:" + dir.Join("a-file"), 1, ""},
      {"UNIX:", 1, ""},
  };
  for (const auto& c : cases) {
    const CommandResult run = RunSieve({"device", "list", "--json"}, {}, {"USBMUXD_SOCKET_ADDRESS=" + c.address});
    EXPECT_EQ(run.ExitCode, c.exitCode) << c.address << ": " << run.Err;
    EXPECT_EQ(run.Out, c.out) << c.address;
    if (c.exitCode != 0) {
      EXPECT_EQ(run.Err.rfind("sieve: usbmuxd: ", 0), 0u) << run.Err;
    }
  }
}

}  // namespace
}  // namespace sieve::test
