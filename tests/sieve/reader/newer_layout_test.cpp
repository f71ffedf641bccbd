// Backups of iOS 10 and later through the reader: the encrypted index opened with
// ManifestKey, one key derivation per open (and a saved key instead of a password), and
// a key of another backup or lying property lists failing clearly. (Cut and damaged keys,
// key bags and indexes are the hostile campaign's: tools/mkhostile.)
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "sieve/itunes_backup_reader.h"
#include "support/test_support.h"

namespace sieve {
namespace {
namespace fs = std::filesystem;

constexpr char kPassword[] = "newer-layout";

// Rewrites a property list of the backup through libplist (XML or binary alike).
void EditPlist(const std::string& path, const std::function<void(plist_t)>& edit) {
  const std::string bytes = test::ReadFile(path);
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
  ASSERT_NE(root, nullptr) << path;
  edit(root);
  char* xml = nullptr;
  std::uint32_t size = 0;
  plist_to_xml(root, &xml, &size);
  test::WriteFile(path, std::string(xml, size));
  std::free(xml);
  plist_free(root);
}

class NewerLayout : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir();
    passwordFile_ = test::WritePasswordFile(*dir_, kPassword);
    encrypted_ = test::MakeBackup(*dir_, "encrypted",
                                  {"--profile", "small", "--seed", "8", "--manifest-db", "--encrypted",
                                   "--password-file", passwordFile_, "--double-protection", "--dp-iterations", "2000"});
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  // A private copy of the encrypted backup to damage.
  std::string Copy(const std::string& name) {
    const std::string target = dir_->Join(name);
    fs::remove_all(target);
    fs::copy(encrypted_.Folder, target, fs::copy_options::recursive);
    return target;
  }

  static test::TempDir* dir_;
  static std::string passwordFile_;
  static test::GeneratedBackup encrypted_;
};
test::TempDir* NewerLayout::dir_ = nullptr;
std::string NewerLayout::passwordFile_;
test::GeneratedBackup NewerLayout::encrypted_;

void CountRecord(void*, _InfoType, void* user) { ++*static_cast<int*>(user); }

int ScanCount(CItunesBackupReader& reader, int index) {
  int count = 0;
  reader.SetCallBack(CountRecord, &count);
  EXPECT_EQ(reader.ReadBackup(index), 0) << reader.LastErrorText(index);
  EXPECT_EQ(reader.LastError(index), ReaderError::None) << reader.LastErrorText(index);
  return count;
}

TEST_F(NewerLayout, EncryptedIndexOpensWithThePasswordAndGivesItsDerivedKey) {
  CItunesBackupReader reader;
  ASSERT_EQ(reader.ReadItunesbackFromPath(encrypted_.Folder.c_str()), 0);
  EXPECT_EQ(reader.Layout(0), BackupLayout::ManifestDb);
  EXPECT_TRUE(reader.IndexNeedsPassword(0));
  EXPECT_TRUE(reader.Warnings(0).empty());
  std::vector<BackupFileEntry> files;
  EXPECT_EQ(reader.ReadFileIndex(0, files), -1) << "the index is encrypted";
  EXPECT_TRUE(files.empty());

  FileKey key{};
  EXPECT_EQ(reader.GetDerivedKey(0, key), 0);
  reader.SetPassword(0, kPassword);
  ASSERT_EQ(reader.CheckPassword(0), 1) << reader.LastErrorText(0);
  ASSERT_EQ(reader.GetDerivedKey(0, key), 1);
  ASSERT_EQ(reader.ReadFileIndex(0, files), 1) << reader.LastErrorText(0);
  EXPECT_EQ(files.size(), test::ReadTruthFiles(encrypted_.TruthPath).size());
  const int records = ScanCount(reader, 0);
  EXPECT_GT(records, 50);
  // The decrypted index never outlives its reading.
  EXPECT_FALSE(fs::exists(fs::path(reader.PrivateFolder(0)) / "Manifest.db"));

  // A saved key opens the backup as the password does: tools' SieveNewerLayout tests it
  // through every command, a wrong key too.
}

TEST_F(NewerLayout, AnotherBackupsKeyOrALyingPropertyListFailsClearly) {
  struct Case {
    const char* name;
    std::function<void(const std::string& folder)> damage;
    ReaderError error;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"ManifestKey of another backup",
       [](const std::string& f) {
         const std::string other(44, '\x04');
         EditPlist(f + "/Manifest.plist", [&other](plist_t root) {
           plist_dict_set_item(root, "ManifestKey", plist_new_data(other.data(), other.size()));
         });
       },
       ReaderError::BadIndex, "ManifestKey"},
      {"says it is not encrypted",
       [](const std::string& f) {
         EditPlist(f + "/Manifest.plist", [](plist_t root) { plist_dict_set_item(root, "IsEncrypted", plist_new_bool(0)); });
       },
       ReaderError::BadIndex, "encrypted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = Copy("damaged");
    c.damage(folder);
    CItunesBackupReader reader;
    ASSERT_EQ(reader.ReadItunesbackFromPath(folder.c_str()), 0);
    reader.SetPassword(0, kPassword);
    int count = 0;
    reader.SetCallBack(CountRecord, &count);
    EXPECT_EQ(reader.ReadBackup(0), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(reader.LastError(0), c.error) << reader.LastErrorText(0);
    EXPECT_NE(reader.LastErrorText(0).find(c.says), std::string::npos) << reader.LastErrorText(0);
  }
}

TEST_F(NewerLayout, KeysInTheIndexOfAPlainLookingBackupAreNotIgnored) {
  // Either layout: Manifest.plist gone, so nothing says "encrypted" but the index's keys.
  const std::string older = dir_->Join("older");
  test::MakeBackup(*dir_, "older", {"--profile", "small", "--seed", "8", "--encrypted", "--password-file",
                                    passwordFile_});
  for (const std::string& folder : {older, Copy("newer-plain-looking")}) {
    SCOPED_TRACE(folder);
    fs::remove(folder + "/Manifest.plist");
    CItunesBackupReader reader;
    ASSERT_EQ(reader.ReadItunesbackFromPath(folder.c_str()), 0);
    EXPECT_EQ(reader.GetIsEncrypt(0), 0);
    int count = 0;
    reader.SetCallBack(CountRecord, &count);
    EXPECT_EQ(reader.ReadBackup(0), 0);
    EXPECT_EQ(count, 0);
    const std::string out = dir_->Join("extracted");
    EXPECT_EQ(reader.ExtractFile(0, "HomeDomain", "Library/SMS/sms.db", out), 0);
    EXPECT_FALSE(fs::exists(out)) << "ciphertext written as the file";
    EXPECT_NE(reader.LastError(0), ReaderError::None);
  }
}

}  // namespace
}  // namespace sieve
