#include "sieve/backup/stored_name.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <string>

#include "support/test_support.h"

namespace sieve {
namespace {

// An independent SHA-1, so the test does not lean on the code under test.
std::string ReferenceSha1Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha1(), nullptr);
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  return hex;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

TEST(StoredName, IsTheSha1OfTheRawBytes) {
  // The messages database has the same stored name on every device.
  EXPECT_EQ(StoredFileName("HomeDomain", "Library/SMS/sms.db"), "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
  EXPECT_EQ(StoredFileName("NULL", "NULL"), ReferenceSha1Hex("NULL-NULL"));
  EXPECT_EQ(StoredFileName("", ""), ReferenceSha1Hex("-"));
  // Bytes that are not UTF-8 are hashed as they are, never converted or replaced.
  const std::string latin1 = "Media/caf\xe9.jpg";
  const std::string zeros("a\0b", 3);
  EXPECT_EQ(StoredFileName("CameraRollDomain", latin1), ReferenceSha1Hex("CameraRollDomain-" + latin1));
  EXPECT_EQ(StoredFileName(zeros, "\xff\xfe"), ReferenceSha1Hex(zeros + "-\xff\xfe"));
}

TEST(StoredName, LocatorFindsEveryCaseAndLayout) {
  test::TempDir dir;
  const std::string lower = StoredFileName("HomeDomain", "lower");
  const std::string upper = StoredFileName("HomeDomain", "upper");
  const std::string mixed = StoredFileName("HomeDomain", "mixed");
  const std::string nested = StoredFileName("HomeDomain", "nested");
  const std::string both = StoredFileName("HomeDomain", "both");
  const std::string linked = StoredFileName("HomeDomain", "linked");
  const std::string folder = StoredFileName("HomeDomain", "folder");
  const std::string missing = StoredFileName("HomeDomain", "missing");

  std::string mixedOnDisk = mixed;
  for (std::size_t i = 0; i < mixedOnDisk.size(); i += 2) mixedOnDisk[i] = Upper(mixedOnDisk.substr(i, 1))[0];
  test::WriteFile(dir.Join(lower), "l");
  test::WriteFile(dir.Join(Upper(upper)), "u");
  test::WriteFile(dir.Join(mixedOnDisk), "m");
  ::mkdir(dir.Join(nested.substr(0, 2)).c_str(), 0700);
  test::WriteFile(dir.Join(nested.substr(0, 2) + "/" + Upper(nested)), "n");
  test::WriteFile(dir.Join(Upper(both)), "B");
  test::WriteFile(dir.Join(both), "b");
  ::mkdir(dir.Join(folder).c_str(), 0700);
  ASSERT_EQ(::symlink("/etc/passwd", dir.Join(linked).c_str()), 0);
  test::WriteFile(dir.Join("Info.plist"), "not stored");

  const StoredFileLocator locator(dir.Path());
  const auto expectFound = [&](const std::string& name, const std::string& onDisk) {
    EXPECT_EQ(locator.Find(name), dir.Join(onDisk)) << name;
    EXPECT_EQ(locator.Find(Upper(name)), dir.Join(onDisk)) << name;
    EXPECT_EQ(FindStoredFile(dir.Path(), name), dir.Join(onDisk)) << name;
  };
  expectFound(lower, lower);
  expectFound(upper, Upper(upper));
  expectFound(mixed, mixedOnDisk);
  expectFound(nested, nested.substr(0, 2) + "/" + Upper(nested));
  expectFound(both, both);  // the lower-case name wins when both exist

  // Links and folders are not stored files; names that are not stored names match nothing.
  for (const std::string& absent : {linked, folder, missing, std::string("Info.plist"), std::string()}) {
    EXPECT_EQ(locator.Find(absent), "") << absent;
    EXPECT_EQ(FindStoredFile(dir.Path(), absent), "") << absent;
  }
  EXPECT_EQ(StoredFileLocator(dir.Join("no-such-folder")).Find(lower), "");
  EXPECT_EQ(FindStoredFile(dir.Join("no-such-folder"), lower), "");
}

}  // namespace
}  // namespace sieve
