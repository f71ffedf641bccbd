#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>

#include "sieve/itunes_backup_reader.h"
#include "support/test_support.h"

namespace sieve {
namespace {
namespace fs = std::filesystem;
using test::MakeBackup;
using test::TempDir;

std::vector<std::string> Names(const CItunesBackupReader& reader) {
  std::vector<std::string> names;
  for (int i = 0; i < reader.GetBackuplistCount(); ++i) names.push_back(reader.BackupName(i));
  return names;
}

TEST(BackupList, OrderedByNameThenDateBytewiseAndKeysUnique) {
  TempDir root;
  MakeBackup(root, "f1", {"--profile", "small", "--display-name", "zed", "--backup-date", "2016-01-02T00:00:00Z"});
  MakeBackup(root, "f2", {"--profile", "small", "--display-name", "Zed", "--backup-date", "2016-01-02T00:00:00Z"});
  MakeBackup(root, "f3", {"--profile", "small", "--display-name", "alpha", "--backup-date", "2016-01-03T00:00:00Z"});
  MakeBackup(root, "f4", {"--profile", "small", "--display-name", "alpha", "--backup-date", "2015-01-03T00:00:00Z",
                          "--serial", "SECOND"});
  // Same name and date as f1: only the first found is listed.
  MakeBackup(root, "f5", {"--profile", "small", "--display-name", "zed", "--backup-date", "2016-01-02T00:00:00Z",
                          "--serial", "DUPLICATE"});
  fs::create_directory(root.Join("not-a-backup"));
  test::WriteFile(root.Join("stray-file"), "x");

  CItunesBackupReader reader;
  EXPECT_EQ(reader.GetItunesBackList(root.Path().c_str()), 1);
  ASSERT_EQ(reader.GetBackuplistCount(), 4);
  EXPECT_EQ(Names(reader), (std::vector<std::string>{"Zed", "alpha", "alpha", "zed"}));
  EXPECT_EQ(reader.SerialNumber(1), "SECOND");  // the earlier date text sorts first
  EXPECT_NE(reader.SerialNumber(3), "DUPLICATE");

  // Listing again adds nothing; a missing folder changes nothing.
  reader.GetItunesBackList(root.Path().c_str());
  EXPECT_EQ(reader.GetItunesBackList(root.Join("missing").c_str()), 1);
  EXPECT_EQ(reader.GetBackuplistCount(), 4);

  // A backup that sorts first shifts every index and returns its own.
  TempDir other;
  const auto first = MakeBackup(other, "b", {"--profile", "small", "--display-name", "AAA"});
  EXPECT_EQ(reader.ReadItunesbackFromPath(first.Folder.c_str()), 0);
  EXPECT_EQ(reader.BackupName(1), "Zed");
  EXPECT_EQ(reader.ReadItunesbackFromPath(root.Join("not-a-backup").c_str()), -1);
  EXPECT_EQ(reader.GetBackuplistCount(), 5);
}

// One damaged backup beside good ones: the good ones are all listed, the damaged ones
// are listed apart from each other (with a warning) or named as problems, and
// nothing blocks or crashes.
TEST(BackupList, DamagedBackupsNeverHideTheGoodOnes) {
  TempDir root;
  MakeBackup(root, "good1", {"--profile", "small", "--display-name", "good one"});
  MakeBackup(root, "good2", {"--profile", "small", "--display-name", "good two", "--manifest-db"});
  struct Damage {
    const char* name;
    std::function<void(const std::string&)> apply;
  };
  const std::vector<Damage> damages = {
      {"garbage info", [](const std::string& f) { test::WriteFile(f + "/Info.plist", "garbage"); }},
      {"nested info",
       [](const std::string& f) {
         std::string xml = "<plist><dict><key>Display Name</key>";
         for (int i = 0; i < 200000; ++i) xml += "<array>";
         test::WriteFile(f + "/Info.plist", xml);
       }},
      {"fifo info",
       [](const std::string& f) {
         fs::remove(f + "/Info.plist");
         ASSERT_EQ(::mkfifo((f + "/Info.plist").c_str(), 0600), 0);
       }},
      {"fifo manifest",
       [](const std::string& f) {
         fs::remove(f + "/Manifest.plist");
         ASSERT_EQ(::mkfifo((f + "/Manifest.plist").c_str(), 0600), 0);
       }},
      {"no info", [](const std::string& f) { fs::remove(f + "/Info.plist"); }},
  };
  for (std::size_t i = 0; i < damages.size(); ++i) {
    const auto made = MakeBackup(root, "bad" + std::to_string(i), {"--profile", "small"});
    damages[i].apply(made.Folder);
  }
  CItunesBackupReader reader;
  const auto started = std::chrono::steady_clock::now();
  reader.GetItunesBackList(root.Path().c_str());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20)) << "a FIFO blocked the listing";
  const std::vector<std::string> names = Names(reader);
  EXPECT_NE(std::find(names.begin(), names.end(), "good one"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "good two"), names.end());
  // The two unreadable Info.plist files are two entries, each with its warning.
  int unnamed = 0;
  for (int i = 0; i < reader.GetBackuplistCount(); ++i) {
    if (!reader.BackupName(i).empty()) continue;
    ++unnamed;
    ASSERT_FALSE(reader.Warnings(i).empty());
    EXPECT_NE(reader.Warnings(i)[0].find("Info.plist"), std::string::npos);
  }
  EXPECT_EQ(unnamed, 2);
  // The FIFO Manifest.plist leaves its backup listed (as not encrypted).
  EXPECT_EQ(reader.GetBackuplistCount(), 2 + 2 + 1);
  ASSERT_EQ(reader.ListingProblems().size(), 2u);
  EXPECT_NE(reader.ListingProblems()[0].find("bad2: Info.plist is not a regular file"), std::string::npos)
      << reader.ListingProblems()[0];
  EXPECT_NE(reader.ListingProblems()[1].find("bad4: the folder has no Info.plist"), std::string::npos)
      << reader.ListingProblems()[1];
}

TEST(BackupList, PropertiesAndInvalidIndexes) {
  TempDir root;
  const auto plain = MakeBackup(root, "plain", {"--profile", "small", "--omit-info-key", "Serial Number",
                                                "--product-version", "10.3.1", "--binary-plists"});
  const auto bare = MakeBackup(root, "bare", {"--profile", "small", "--no-manifest-plist", "--encrypted",
                                              "--password-file", test::WritePasswordFile(root, "pw"),
                                              "--display-name", std::string(5000, 'N')});
  CItunesBackupReader reader;
  const int a = reader.ReadItunesbackFromPath(plain.Folder.c_str());
  ASSERT_GE(a, 0);
  EXPECT_EQ(reader.SerialNumber(a), "");
  EXPECT_EQ(reader.ProductVersion(a), "10.3.1");
  EXPECT_EQ(reader.ProductType(a), "iPhone7,2");
  EXPECT_EQ(reader.GetIsEncrypt(a), 0);
  EXPECT_FALSE(reader.BackupTime(a).empty());

  const int b = reader.ReadItunesbackFromPath(bare.Folder.c_str());
  ASSERT_GE(b, 0);
  EXPECT_EQ(reader.GetIsEncrypt(b), 0);  // no Manifest.plist: listed as not encrypted
  // A hostile 5,000-byte name is cut to what the classic buffers hold.
  EXPECT_EQ(reader.BackupName(b).size(), CItunesBackupReader::kTextBufferSize - 1);
  char buffer[CItunesBackupReader::kTextBufferSize];
  reader.GetBackupNameAt(b, buffer, sizeof buffer);
  EXPECT_EQ(std::strlen(buffer), sizeof buffer - 1);
  char small[8];
  reader.GetBackupNameAt(b, small, sizeof small);
  EXPECT_STREQ(small, "NNNNNNN");

  std::strcpy(buffer, "untouched");
  reader.GetBackupNameAt(-1, buffer, sizeof buffer);
  reader.GetDeviceName(reader.GetBackuplistCount(), buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(reader.GetIsEncrypt(7), 0);
  EXPECT_EQ(reader.ReadBackup(-1), 0);
  EXPECT_EQ(reader.GetPrg(9), 0.0f);
  EXPECT_EQ(reader.DecrpytFile(9, "a", "b", reinterpret_cast<const unsigned char*>(buffer)), 0);
  reader.SetStop(-3, 1);
  reader.SetPassword(42, "x");
}

}  // namespace
}  // namespace sieve
