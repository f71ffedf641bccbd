#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "sieve/reader/private_folder.h"

namespace sieve {
namespace {
namespace fs = std::filesystem;

TEST(PrivateFolder, OwnerOnlyUniqueNamesAndRemovedWithItsOwner) {
  std::string path;
  {
    PrivateFolder folder;
    EXPECT_EQ(folder.Path(), "");
    ASSERT_TRUE(folder.Ensure());
    path = folder.Path();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const std::string first = folder.NewFilePath("sms.db");
    std::ofstream(first) << "x";
    const std::string second = folder.NewFilePath("sms.db");
    const std::string third = folder.NewFilePath("sms.db");
    EXPECT_NE(first, second);
    EXPECT_NE(second, third);
    EXPECT_EQ(fs::path(second).filename(), "sms-2.db");
    // Names from a database can never leave the folder.
    EXPECT_EQ(fs::path(folder.NewFilePath("../../etc/passwd")).parent_path(), fs::path(path));
    EXPECT_EQ(fs::path(folder.NewFilePath("..")).parent_path(), fs::path(path));

    folder.Clear();
    EXPECT_TRUE(fs::exists(path));
    EXPECT_FALSE(fs::exists(first));
    // Two readers never share a folder.
    PrivateFolder other;
    ASSERT_TRUE(other.Ensure());
    EXPECT_NE(other.Path(), path);
  }
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace sieve
