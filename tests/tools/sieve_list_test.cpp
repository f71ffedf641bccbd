// `sieve list`: the backups of a folder in name-then-date order, and the
// default folder from the XDG base directory rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools/sieve_cli.h"

namespace sieve::test {
namespace {

std::vector<std::string> FolderNames(const CommandResult& run) {
  std::vector<std::string> names;
  for (const JsonValue& b : ParseJson(run.Out).Items) {
    names.push_back(std::filesystem::path(b.Text("folder")).filename().string());
  }
  return names;
}

TEST(SieveList, OrdersByNameThenDateAndFindsTheDefaultFolder) {
  TempDir dir;
  const std::string root = dir.Join("root");
  // Folder order, name order and date order all differ; an upper-case name sorts first.
  MakeBackup(dir, "root/a1", {"--profile", "small", "--display-name", "beta", "--backup-date", "2016-01-01T00:00:00Z"});
  MakeBackup(dir, "root/a2", {"--profile", "small", "--display-name", "Alpha", "--backup-date", "2017-03-01T00:00:00Z"});
  MakeBackup(dir, "root/a3", {"--profile", "small", "--display-name", "Alpha", "--backup-date", "2015-05-01T00:00:00Z"});
  std::filesystem::create_directories(root + "/not-a-backup");

  const CommandResult json = Succeeds({"list", "--root", root, "--json"});
  EXPECT_EQ(FolderNames(json), (std::vector<std::string>{"a3", "a2", "a1"}));
  const JsonValue listed = ParseJson(json.Out);
  ASSERT_EQ(listed.Items.size(), 3u);
  EXPECT_EQ(listed.Items[0].Int("index", -1), 0);
  EXPECT_EQ(listed.Items[2].Text("name"), "beta");
  EXPECT_FALSE(listed.Items[0]["encrypted"].Bool);

  // A folder that looks like a backup but cannot be listed is named, not silently missing.
  const auto broken = MakeBackup(dir, "root/broken", {"--profile", "small"});
  std::filesystem::remove(broken.Folder + "/Info.plist");
  const CommandResult table = Succeeds({"list", "--root", root});
  EXPECT_NE(table.Err.find("warning: not listed: " + broken.Folder + ": the folder has no Info.plist"),
            std::string::npos)
      << table.Err;
  // The table lists in the same order (the order itself: reader_list_test.cpp).
  EXPECT_LT(table.Out.find("a3"), table.Out.find("a1"));
  EXPECT_NE(table.Out.find("Serial"), std::string::npos);

  // $XDG_DATA_HOME wins; without it, ~/.local/share.
  MakeBackup(dir, "xdg/MobileSync/Backup/x1", {"--profile", "small", "--display-name", "From XDG"});
  MakeBackup(dir, "home/.local/share/MobileSync/Backup/h1", {"--profile", "small", "--display-name", "From home"});
  const CommandResult xdg = Succeeds({"list", "--json"}, {}, {"XDG_DATA_HOME=" + dir.Join("xdg"), "HOME=" + dir.Join("home")});
  EXPECT_EQ(FolderNames(xdg), std::vector<std::string>{"x1"});
  const CommandResult home = Succeeds({"list", "--json"}, {}, {"XDG_DATA_HOME", "HOME=" + dir.Join("home")});
  EXPECT_EQ(FolderNames(home), std::vector<std::string>{"h1"});
  const CommandResult none = RunSieve({"list"}, {}, {"XDG_DATA_HOME", "HOME=" + dir.Join("nobody")});
  EXPECT_EQ(none.ExitCode, 4);

  // An empty folder is a valid, empty list.
  std::filesystem::create_directories(dir.Join("empty"));
  const CommandResult empty = Succeeds({"list", "--root", dir.Join("empty"), "--json"});
  EXPECT_EQ(ParseJson(empty.Out).Items.size(), 0u);
}

}  // namespace
}  // namespace sieve::test
