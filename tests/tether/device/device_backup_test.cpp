// Device backups end to end against the scripted fake device: the helper process, its
// supervisor and `sieve device backup` on Debian's own libimobiledevice, with the
// faults a real device shows. Each backup must be the replayed folder byte for byte,
// and a failure must never look like success.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"
#include "tether/device/fake_device.h"
#include "tether/device/device_backup.h"
#include "tether/device/device_paths.h"

namespace tether {
namespace {

namespace fs = std::filesystem;
using sieve::test::TempDir;

constexpr char kUdid[] = "00008030-001A2B3C4D5E6F70";
constexpr char kPassword[] = "fake device backup";

// The generated backups the fake replays, made once for the whole program.
struct Replays {
  TempDir dir;
  std::string plain;
  std::string encrypted;
  std::string passwordFile;
  Replays() {
    const std::vector<std::string> common = {"--profile", "small", "--seed", "5", "--manifest-db", "--status-plist"};
    plain = sieve::test::MakeBackup(dir, "plain", common).Folder;
    passwordFile = sieve::test::WritePasswordFile(dir, kPassword);
    std::vector<std::string> encryptedArgs = common;
    encryptedArgs.insert(encryptedArgs.end(), {"--encrypted", "--password-file", passwordFile, "--iterations", "1"});
    encrypted = sieve::test::MakeBackup(dir, "encrypted", encryptedArgs).Folder;
  }
};

const Replays& Generated() {
  static const Replays replays;
  return replays;
}

std::string Scenario(const std::string& replay, const std::string& backupExtra, bool willEncrypt = false,
                     const std::string& pairing = R"("pairRecord": "valid")") {
  return std::string(R"({"devices": [{"udid": ")") + kUdid + R"(", )" + pairing + R"(, "willEncrypt": )" +
         (willEncrypt ? "true" : "false") + R"(, "backup": {"replay": ")" + replay + R"(", "chunkSize": 4096)" +
         (backupExtra.empty() ? "" : ", " + backupExtra) + "}}]}";
}

// The host writes Info.plist itself; everything else must be the device's bytes.
void ExpectSameFiles(const std::string& replayed, const std::string& made) {
  std::vector<std::string> expected = sieve::test::ListFilesBelow(replayed);
  std::erase(expected, "Info.plist");
  std::vector<std::string> got = sieve::test::ListFilesBelow(made);
  ASSERT_TRUE(std::erase(got, "Info.plist") == 1) << "no host Info.plist in " << made;
  ASSERT_EQ(got, expected);
  for (const std::string& name : expected) {
    EXPECT_EQ(sieve::test::ReadFile(made + "/" + name), sieve::test::ReadFile(replayed + "/" + name)) << name;
  }
}

// `sieve scan --json` of the folder, with the folder's own path and the time taken out of it.
std::string ScanRecords(const std::string& folder, const std::string& passwordFile) {
  std::vector<std::string> args = {"scan", "--json", folder};
  if (!passwordFile.empty()) args.insert(args.end(), {"--password-file", passwordFile});
  sieve::test::CommandResult scan = sieve::test::RunSieve(args);
  EXPECT_EQ(scan.ExitCode, 0) << scan.Err;
  for (std::size_t at; (at = scan.Out.find(folder)) != std::string::npos;) scan.Out.replace(at, folder.size(), "<B>");
  // The summary's timing differs from run to run.
  if (const std::size_t at = scan.Out.find("\"elapsed_seconds\":"); at != std::string::npos) {
    scan.Out.erase(at, scan.Out.find_first_of(",}", at) - at);
  }
  return scan.Out;
}

void Backup(CDeviceBackup& backup, const std::string& folder, const std::string& helper = BACKUP_HELPER) {
  backup.SetHelperPath(helper);
  ASSERT_EQ(backup.StartBackup(folder), 0) << backup.GetErrorDsp();
  backup.WaitFinish();
}

TEST(DeviceBackup, FullBackupIsTheDevicesFilesAndScansTheSame) {
  const struct {
    const char* name;
    bool encrypted;
    bool throughCli;
  } cases[] = {{"plain, through sieve device backup", false, true}, {"encrypted by the device", true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string& replay = c.encrypted ? Generated().encrypted : Generated().plain;
    // The command line meets a device that has yet to trust this computer.
    const std::string pairing = c.throughCli ? R"("pairRecord": "none", "pair": ["pending", "pending", "ok"])"
                                             : R"("pairRecord": "valid")";
    test::FakeDevice fake(Scenario(replay, R"("passcodePrompt": true, "passcodeSeconds": 1)", c.encrypted, pairing));
    ASSERT_TRUE(fake.Ready()) << fake.Failure();
    TempDir out;
    const std::string folder = out.Join("backups");
    std::string made;
    if (c.throughCli) {
      const sieve::test::CommandResult run = sieve::test::RunSieve({"device", "backup", "-o", folder});
      ASSERT_EQ(run.ExitCode, 0) << run.Err << fake.Log();
      made = run.Out.substr(0, run.Out.find('\n'));
      EXPECT_NE(run.Err.find("passcode"), std::string::npos) << run.Err;
      EXPECT_NE(run.Err.find("Trust"), std::string::npos) << run.Err;
    } else {
      ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
      CDeviceBackup backup;
      Backup(backup, folder);
      ASSERT_EQ(backup.GetErrorCode(), 0) << backup.GetErrorDsp() << fake.Log();
      EXPECT_EQ(backup.GetBackProgress(), 100.0);
      made = backup.GetDeviceBackDir();
    }
    ASSERT_EQ(made, folder + "/" + kUdid);
    ExpectSameFiles(replay, made);
    const std::string password = c.encrypted ? Generated().passwordFile : "";
    EXPECT_EQ(ScanRecords(made, password), ScanRecords(replay, password));
  }
}

TEST(DeviceBackup, FailuresAreReportedNeverSuccess) {
  TempDir tools;
  // The same helper under a file size limit: writes beyond it fail (EFBIG) as a full
  // disk or a broken one would.
  const std::string limited = tools.Join("limited-helper");
  sieve::test::WriteFile(limited, std::string("#!/bin/sh\ntrap '' XFSZ\nulimit -f 16\nexec ") + BACKUP_HELPER +
                                      " \"$@\"\n");
  // Stands in for a helper that crashes after a little progress.
  const std::string crashing = tools.Join("crashing-helper");
  sieve::test::WriteFile(crashing, "#!/bin/sh\necho '{\"progress\": 40}'\nkill -SEGV $$\n");
  for (const std::string& script : {limited, crashing}) ASSERT_EQ(::chmod(script.c_str(), 0700), 0);
  const struct {
    const char* name;
    std::string backupExtra;
    DeviceErrorKind kind;
    int number;           // GetErrorCode, 0: any
    const char* inText;   // part of GetErrorDsp
    std::string helper = BACKUP_HELPER;
  } cases[] = {
      {"the device's own error", R"j("errorCode": 208, "errorDescription": "Device locked (MBErrorDomain/208)")j",
       DeviceErrorKind::DeviceReported, 208, "Device locked"},
      {"unplugged in the middle of a file", R"("disconnectAfterBytes": 10000)", DeviceErrorKind::Disconnected, 0,
       "broke"},
      {"cancelled on the device", R"("cancelAfterFiles": 3)", DeviceErrorKind::Cancelled, 0, "device cancelled"},
      {"not finished", R"("snapshotState": "uploading")", DeviceErrorKind::Failed, 0, "uploading"},
      {"a write that fails here", "", DeviceErrorKind::LocalIo, 0, "Writing", limited},
      {"a helper that dies", "", DeviceErrorKind::Failed, 0, "signal", crashing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeDevice fake(Scenario(Generated().plain, c.backupExtra));
    ASSERT_TRUE(fake.Ready()) << fake.Failure();
    TempDir out;
    CDeviceBackup backup;
    Backup(backup, out.Path(), c.helper);
    const DeviceError error = backup.GetError();
    EXPECT_EQ(error.kind, c.kind) << error.text << fake.Log();
    if (c.number != 0) {
      EXPECT_EQ(backup.GetErrorCode(), c.number);
    }
    EXPECT_NE(backup.GetErrorCode(), 0);
    EXPECT_NE(error.text.find(c.inText), std::string::npos) << error.text;
    EXPECT_LT(backup.GetBackProgress(), 100.0);
    EXPECT_EQ(backup.GetDeviceBackDir(), "");
  }
}

TEST(DeviceBackup, HostileNamesFailAloneAndWriteNothingOutside) {
  TempDir outside;
  const std::string absolute = outside.Join("absolute");
  // A move whose old name holds a NUL fails alone, without ending the helper.
  test::FakeDevice fake(Scenario(Generated().plain, R"("hostileNames": ["../escape", ")" + absolute +
                                                        R"(", "x/../../escape2"], "moveItems": {")" + kUdid +
                                                        R"(/a\u0000b": ")" + kUdid + R"(/moved"})"));
  ASSERT_TRUE(fake.Ready()) << fake.Failure();
  TempDir out;
  const std::string folder = out.Join("in");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  CDeviceBackup backup;
  Backup(backup, folder);
  EXPECT_EQ(backup.GetErrorCode(), 0) << backup.GetErrorDsp() << fake.Log();
  ExpectSameFiles(Generated().plain, backup.GetDeviceBackDir());
  EXPECT_FALSE(fs::exists(absolute));
  EXPECT_EQ(sieve::test::ListFilesBelow(out.Path()).size(), sieve::test::ListFilesBelow(folder).size());
  // Each refused upload was answered with an error status, not taken in silence.
  EXPECT_NE(fake.Log().find("hostile upload '../escape' -> status -13"), std::string::npos) << fake.Log();
  // The key reads up to its NUL, a name that is not there.
  EXPECT_NE(fake.Log().find("MoveItems 1 -> status -6"), std::string::npos) << fake.Log();
}

TEST(DeviceBackup, StopIsInstantEvenWhileTheDeviceIsSilent) {
  test::FakeDevice fake(Scenario(Generated().plain, R"("silenceSeconds": 60)"));
  ASSERT_TRUE(fake.Ready()) << fake.Failure();
  TempDir out;
  CDeviceBackup backup;
  backup.SetHelperPath(BACKUP_HELPER);
  ASSERT_EQ(backup.StartBackup(out.Path()), 0) << backup.GetErrorDsp();
  ASSERT_TRUE(test::WaitUntil([&] { return backup.WaitingNote().find("preparing") != std::string::npos; }))
      << backup.GetErrorDsp() << fake.Log();
  const auto asked = std::chrono::steady_clock::now();
  backup.StopDeviceBackup();
  backup.WaitFinish();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(3));
  EXPECT_EQ(backup.GetError().kind, DeviceErrorKind::Cancelled);
  EXPECT_LT(backup.GetBackProgress(), 100.0);
  // A new backup may start at once in the emptied folder.
  EXPECT_EQ(EmptyBackupFolder(out.Path()), 0);
  EXPECT_TRUE(sieve::test::ListFilesBelow(out.Path()).empty());
}

}  // namespace
}  // namespace tether
