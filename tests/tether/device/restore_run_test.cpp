// The repair run against a scripted idevicerestore first on PATH: progress to the
// end, a failed download, the erase line refused unless erase was chosen, a version
// too old for the device, and cancel allowed only before PREPARE.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/test_support.h"
#include "tether/device/recovery_device.h"
#include "tether/device/restore_run.h"
#include "tether/device/usbmux_socket.h"

namespace tether {
namespace {

using Kind = RestoreLine::Kind;

TEST(RestoreRun, ReadsItsLines) {
  const struct {
    const char* line;
    Kind kind;
    int stepOrPercent;
  } cases[] = {
      {"progress: 2 0.500000", Kind::Progress, 2}, {"  progress: 6 1.0\r", Kind::Progress, 6},
      {"progress: 7 0.5", Kind::Other, 0},          {"progress: 1 x", Kind::Other, 0},
      {"downloading: 42%", Kind::Download, 42},     {"downloading: 120%", Kind::Download, 100},
      {"downloading: -1%", Kind::Other, 0},         {"This restore will erase your device data.", Kind::EraseWarning, 0},
      {"ERROR: Unable to download", Kind::Other, 0},
  };
  for (const auto& c : cases) {
    const RestoreLine line = ParseRestoreLine(c.line);
    EXPECT_EQ(line.kind, c.kind) << c.line;
    const int got = c.kind == Kind::Progress ? line.step : c.kind == Kind::Download ? line.percent : 0;
    EXPECT_EQ(got, c.stepOrPercent) << c.line;
  }
  EXPECT_LT(OverallPercent(RestoreStage::Downloading, 1.0), OverallPercent(RestoreStage::Prepare, 0.0));
  EXPECT_LT(OverallPercent(RestoreStage::Fud, 1.0), OverallPercent(RestoreStage::Finished, 0.0));
}

TEST(RestoreRun, JudgesTheToolForTheDevice) {
  const struct {
    const char* version;
    const char* productType;
    bool tooOld;
  } cases[] = {
      {"idevicerestore 1.0.0", "", true},                  // a model libirecovery 1.0.0 does not know
      {"idevicerestore 1.0.0", "iPhone12,1", true},        // signed firmware is iOS 16 or later
      {"idevicerestore 1.0.0", "iPhone9,1", false},        // stops at iOS 15
      {"idevicerestore 1.0.0-190-g1a2b3c", "", false},     // built from source
      {"idevicerestore 1.0.0+git20240709", "iPhone15,2", false},
      {"idevicerestore 1.1.0", "", false},
      {"idevicerestore 0.9.9", "iPhone9,1", false},
      {"idevicerestore 0.9.9", "iPhone10,1", true},
      {"gibberish", "", true},
  };
  for (const auto& c : cases) {
    const bool tooOld = !RestoreToolIsNewerThan100(c.version) && TooNewForRestore100(c.productType);
    EXPECT_EQ(tooOld, c.tooOld) << c.version << " " << c.productType;
  }
}

// A folder with the fake as "idevicerestore", put first on PATH for the test's life.
class FakeTool {
 public:
  FakeTool() {
    std::filesystem::create_symlink(FAKE_IDEVICERESTORE, dir_.Join("idevicerestore"));
    const char* path = std::getenv("PATH");
    oldPath_ = path != nullptr ? path : "";
    ::setenv("PATH", (dir_.Path() + ":" + oldPath_).c_str(), 1);
    ::setenv("FAKE_IDEVICERESTORE_SCRIPT", dir_.Join("script").c_str(), 1);
    ::setenv("FAKE_IDEVICERESTORE_ARGS", dir_.Join("args").c_str(), 1);
  }
  ~FakeTool() {
    ::setenv("PATH", oldPath_.c_str(), 1);
    ::unsetenv("FAKE_IDEVICERESTORE_SCRIPT");
    ::unsetenv("FAKE_IDEVICERESTORE_ARGS");
    ::unsetenv("FAKE_IDEVICERESTORE_VERSION");
  }
  void Script(const std::string& text) const { sieve::test::WriteFile(dir_.Join("script"), text); }
  std::string Arguments() const {
    return std::filesystem::exists(dir_.Join("args")) ? sieve::test::ReadFile(dir_.Join("args")) : "";
  }
  std::string Cache() const { return dir_.Join("cache"); }

 private:
  sieve::test::TempDir dir_;
  std::string oldPath_;
};

constexpr char kDownloadAndRestore[] =
    "out downloading: 0%\nout downloading: 50%\nout downloading: 100%\n"
    "out progress: 0 1.0\nout progress: 1 0.5\nout progress: 2 0.3\nout progress: 3 1.0\n"
    "out progress: 4 1.0\nout progress: 5 1.0\nout progress: 6 1.0\nout DONE\n";

TEST(RestoreRun, RunsTheToolAndStopsWhereItMust) {
  const struct {
    const char* name;
    std::string script;
    bool erase;
    RestoreEnd end;
    const char* textHas;
    int percentAtEnd;
  } cases[] = {
      {"update to the end", kDownloadAndRestore, false, RestoreEnd::Succeeded, "", 100},
      {"download fails",
       "out downloading: 30%\nerr ERROR: Unable to download firmware\nexit 255\n", false, RestoreEnd::Failed,
       "internet", OverallPercent(RestoreStage::Downloading, 0.3)},
      {"erase refused",
       "out progress: 0 1.0\nout This restore will erase your device data.\nsleep 20\nout progress: 1 0.1\nexit 0\n",
       false, RestoreEnd::WouldErase, "erase", OverallPercent(RestoreStage::Detect, 1.0)},
      {"erase chosen",
       "out progress: 0 1.0\nout This restore will erase your device data.\nout progress: 6 1.0\n", true,
       RestoreEnd::Succeeded, "", 100},
      {"restore fails", "out progress: 2 0.5\nerr ERROR: Unable to send filesystem\nexit 1\n", false,
       RestoreEnd::Failed, "Unable to send filesystem", OverallPercent(RestoreStage::UploadFs, 0.5)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeTool tool;
    tool.Script(c.script);
    RestoreRun run({"idevicerestore", tool.Cache(), 0xA1B2C3ull, "", c.erase});
    const auto started = std::chrono::steady_clock::now();
    const RestoreResult result = run.Run();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(result.end, c.end) << result.error.text;
    EXPECT_NE(result.error.text.find(c.textHas), std::string::npos) << result.error.text;
    EXPECT_EQ(run.Progress().percent, c.percentAtEnd);
    const std::string expected = "-C\n" + tool.Cache() + "\n-l\n-y\n-P\n-i\n0xa1b2c3\n" + (c.erase ? "-e\n" : "");
    EXPECT_EQ(tool.Arguments(), expected);
  }
}

TEST(RestoreRun, CancelsOnlyBeforePrepare) {
  for (const bool beforePrepare : {true, false}) {
    SCOPED_TRACE(beforePrepare ? "during the download" : "after PREPARE began");
    FakeTool tool;
    tool.Script(beforePrepare ? "out downloading: 10%\nsleep 20\n"
                              : "out progress: 1 0.1\nsleep 1\nout progress: 6 1.0\n");
    RestoreRun run({"idevicerestore", tool.Cache(), 0, "", false});
    RestoreResult result;
    std::thread worker([&] { result = run.Run(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (run.Progress().percent == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(run.Cancel(), beforePrepare);
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now(), deadline);
    EXPECT_EQ(result.end, beforePrepare ? RestoreEnd::Cancelled : RestoreEnd::Succeeded) << result.error.text;
  }
}

TEST(RestoreRun, TellsWhenTheToolIsTooOldOrMissing) {
  FakeTool tool;
  RestoreToolCheck check = CheckRestoreTool("");
  EXPECT_TRUE(check.found);
  EXPECT_EQ(check.versionText, "idevicerestore 1.0.0");
  EXPECT_EQ(check.error.kind, DeviceErrorKind::ProtocolMismatch);
  EXPECT_NE(check.error.text.find("Debian 13"), std::string::npos) << check.error.text;
  ::setenv("FAKE_IDEVICERESTORE_VERSION", "idevicerestore 1.0.0+git20240709", 1);
  EXPECT_FALSE(CheckRestoreTool("").error);
  check = CheckRestoreTool("", "no-such-idevicerestore");
  EXPECT_FALSE(check.found);
  EXPECT_NE(check.error.text.find("not installed"), std::string::npos) << check.error.text;
  RestoreRun missing({"no-such-idevicerestore", tool.Cache(), 0, "", false});
  EXPECT_EQ(missing.Run().end, RestoreEnd::ToolMissing);
}

TEST(RecoveryDevice, NamesTheDeviceAndFailsCleanlyWithoutOne) {
  const struct {
    unsigned productId;
    bool known;
    RecoveryMode mode;
  } modes[] = {{0x1281, true, RecoveryMode::Recovery}, {0x1227, true, RecoveryMode::Dfu},
               {0x1222, true, RecoveryMode::Wtf},      {0x12a8, false, RecoveryMode::Recovery}};
  for (const auto& m : modes) {
    const auto mode = RecoveryModeOfProduct(m.productId);
    EXPECT_EQ(mode.has_value(), m.known) << m.productId;
    EXPECT_EQ(mode.value_or(m.mode), m.mode);
  }
  const RecoveryDevice iphone11 = DescribeRecoveryDevice(RecoveryMode::Recovery, 0x1234, 0x8030, 0x04);
  EXPECT_EQ(iphone11.productType, "iPhone12,1");
  const RecoveryDevice newer = DescribeRecoveryDevice(RecoveryMode::Dfu, 0x1234, 0x8101, 0x0c);
  EXPECT_EQ(newer.productType, "");
  EXPECT_EQ(RecoveryDeviceLabel(newer), "Apple device CPID 0x8101");
  EXPECT_EQ(ParseEcid("0x1A2b"), 0x1a2bu);
  EXPECT_EQ(ParseEcid("6699"), 6699u);
  for (const char* bad : {"", "0x", "0", "12ab", "0x12g", "-5"}) EXPECT_FALSE(ParseEcid(bad)) << bad;
  EXPECT_EQ(EcidText(0xA1B2), "0xA1B2");

  // Without a phone here (and without any USB access in CI) the open fails: an error
  // that says so, not a crash or a hang.
  const DeviceError error = ExitRecovery(0x1234);
  EXPECT_TRUE(error);
  EXPECT_FALSE(error.text.empty());
  if (AppleUsbDevices().empty()) {
    EXPECT_EQ(error.kind, DeviceErrorKind::NoDevice) << error.text;
  }
  RecoveryWatcher watcher;
  watcher.Start([](const RecoveryDevice&, bool) {});
  EXPECT_TRUE(watcher.Devices().empty());
  watcher.Stop();
}

}  // namespace
}  // namespace tether
