// Paths a device sends during a backup: refused when they could leave the backup
// folder, and never followed through a link planted inside it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_support.h"
#include "tether/device/device_paths.h"

namespace tether {
namespace {

namespace fs = std::filesystem;

TEST(DevicePaths, OnlyPlainRelativePathsAreAccepted) {
  const struct {
    const char* path;
    std::size_t parts;
  } cases[] = {
      {"00008030-UDID/Manifest.plist", 2}, {"UDID/ab/abcdef0123", 3}, {"Status.plist", 1},
      {"", 0}, {"/etc/passwd", 0}, {"../x", 0}, {"UDID/../../x", 0}, {"UDID/./x", 0},
      {"UDID//x", 0}, {"UDID/x/", 0}, {"..", 0}, {".", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DevicePathParts(c.path).size(), c.parts) << c.path;
  }
  EXPECT_TRUE(DevicePathParts(std::string_view("a\0b", 3)).empty());
  std::string deep;
  for (int i = 0; i < 65; ++i) deep += "d/";
  deep += "f";
  EXPECT_TRUE(DevicePathParts(deep).empty());
}

TEST(DevicePaths, WritesAndRemovalsStayInsideAndNeverFollowALink) {
  sieve::test::TempDir dir;
  const std::string root = dir.Join("backup");
  const std::string outside = dir.Join("outside");
  fs::create_directories(root);
  fs::create_directories(outside);
  sieve::test::WriteFile(outside + "/keep", "mine");
  // Links a hostile backup folder (or device) could have put in place.
  fs::create_directory_symlink(outside, root + "/linkdir");
  fs::create_symlink(outside + "/keep", root + "/linkfile");
  BackupRoot backup(root);
  ASSERT_TRUE(backup.IsOpen());

  const int fd = backup.OpenFile("UDID/ab/abcdef", O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "data", 4), 4);
  ::close(fd);
  EXPECT_EQ(sieve::test::ReadFile(root + "/UDID/ab/abcdef"), "data");
  EXPECT_EQ(backup.MakeFolder("UDID/cd"), 0);
  EXPECT_TRUE(fs::is_directory(root + "/UDID/cd"));

  EXPECT_EQ(backup.OpenFile("../escape", O_WRONLY), -EINVAL);
  EXPECT_EQ(backup.OpenFile("/tmp/escape", O_WRONLY), -EINVAL);
  EXPECT_EQ(backup.OpenFile("linkdir/new", O_WRONLY), -ELOOP);
  EXPECT_EQ(backup.OpenFile("linkfile", O_WRONLY | O_TRUNC), -ELOOP);
  EXPECT_EQ(backup.MakeFolder("linkdir"), -ELOOP);
  EXPECT_FALSE(fs::exists(outside + "/new"));
  EXPECT_FALSE(fs::exists(dir.Join("escape")));

  // Removing the links removes the links, not what they point at; a folder goes whole.
  EXPECT_EQ(backup.Remove("linkdir"), 0);
  EXPECT_EQ(backup.Remove("linkfile"), 0);
  EXPECT_EQ(backup.Remove("UDID"), 0);
  EXPECT_EQ(backup.Remove("UDID/not/there"), 0);
  EXPECT_EQ(backup.Remove("../outside"), -EINVAL);
  EXPECT_EQ(sieve::test::ReadFile(outside + "/keep"), "mine");
  EXPECT_TRUE(fs::is_empty(root));

  // A folder of links inside the backup: emptying it leaves their targets alone.
  fs::create_directories(root + "/UDID/x");
  fs::create_directory_symlink(outside, root + "/UDID/x/in");
  EXPECT_EQ(backup.Remove("UDID"), 0);
  EXPECT_EQ(sieve::test::ReadFile(outside + "/keep"), "mine");

  EXPECT_FALSE(BackupRoot(root + "/linkdir-none").IsOpen());
  fs::create_directory_symlink(outside, dir.Join("rootlink"));
  EXPECT_FALSE(BackupRoot(dir.Join("rootlink")).IsOpen());  // the backup folder itself must not be a link
}

TEST(DevicePaths, MovesCopiesListingsAndEmptyingStayInside) {
  sieve::test::TempDir dir;
  const std::string root = dir.Join("backup");
  const std::string outside = dir.Join("outside");
  fs::create_directories(root + "/UDID/ab");
  fs::create_directories(outside);
  sieve::test::WriteFile(outside + "/keep", "mine");
  sieve::test::WriteFile(root + "/UDID/ab/one", "1");
  fs::create_directory_symlink(outside, root + "/UDID/linkdir");
  fs::create_symlink(outside + "/keep", root + "/UDID/linkfile");
  BackupRoot backup(root);
  ASSERT_TRUE(backup.IsOpen());

  // Neither end of a move or copy may lead out or through a link.
  const struct {
    const char* from;
    const char* to;
    int result;
  } moves[] = {
      {"UDID/ab/one", "../stolen", -EINVAL}, {"../outside/keep", "UDID/got", -EINVAL},
      {"UDID/linkdir/keep", "UDID/got", -ELOOP}, {"UDID/ab/one", "UDID/linkdir/planted", -ELOOP},
  };
  for (const auto& m : moves) {
    EXPECT_EQ(backup.Rename(m.from, m.to), m.result) << m.from << " -> " << m.to;
    EXPECT_EQ(backup.Copy(m.from, m.to), m.result) << m.from << " -> " << m.to;
  }
  EXPECT_EQ(backup.OpenExisting("UDID/linkfile", O_RDONLY), -ELOOP);
  EXPECT_EQ(backup.OpenFolder("UDID/linkdir"), -ELOOP);
  // A copied folder takes its files and leaves its links behind.
  EXPECT_EQ(backup.Copy("UDID", "copy"), 0);
  EXPECT_EQ(sieve::test::ReadFile(root + "/copy/ab/one"), "1");
  EXPECT_FALSE(fs::exists(fs::symlink_status(root + "/copy/linkdir")));
  EXPECT_EQ(backup.Rename("copy/ab/one", "moved/one"), 0);
  EXPECT_EQ(sieve::test::ReadFile(root + "/moved/one"), "1");
  EXPECT_FALSE(fs::exists(root + "/copy/ab/one"));

  EXPECT_EQ(EmptyBackupFolder(root), 0);
  EXPECT_TRUE(fs::is_empty(root));
  EXPECT_EQ(sieve::test::ReadFile(outside + "/keep"), "mine");
  fs::create_directory_symlink(outside, dir.Join("rootlink"));
  EXPECT_EQ(EmptyBackupFolder(dir.Join("rootlink")), -ELOOP);
  EXPECT_EQ(EmptyBackupFolder(dir.Join("fresh")), 0);  // made when missing
  EXPECT_TRUE(fs::is_directory(dir.Join("fresh")));
}

}  // namespace
}  // namespace tether
