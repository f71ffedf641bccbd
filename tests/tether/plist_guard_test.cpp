// The property-list layer reads untrusted bytes: shapes that would overflow
// libplist's stack are refused first, archive references are bounded, and only
// regular files are read.
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tether/keyed_archive.h"
#include "tether/plist.h"
#include "tether/plist_shape.h"

namespace tether {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBinary(plist_t node) { return sieve::test::ToBinaryPlist(node); }

Bytes Nested(int depth) {
  plist_t node = plist_new_array();
  for (int i = 1; i < depth; ++i) {
    plist_t outer = plist_new_array();
    plist_array_append_item(outer, node);
    node = outer;
  }
  return ToBinary(node);
}

std::string NestedXml(int depth) {
  std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE plist><plist version=\"1.0\">";
  for (int i = 0; i < depth; ++i) xml += "<array>";
  xml += "<true/>";
  for (int i = 0; i < depth; ++i) xml += "</array>";
  return xml + "</plist>";
}

bool Acceptable(const Bytes& b) { return PlistShapeAcceptable(b.data(), b.size()); }
bool Acceptable(const std::string& s) {
  return PlistShapeAcceptable(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

TEST(PlistShape, DepthIsBoundedInBothFormats) {
  EXPECT_TRUE(Acceptable(Nested(10)));
  EXPECT_TRUE(Acceptable(Nested(63)));
  EXPECT_FALSE(Acceptable(Nested(65)));
  EXPECT_FALSE(Acceptable(Nested(5000)));
  EXPECT_TRUE(Acceptable(NestedXml(10)));
  EXPECT_FALSE(Acceptable(NestedXml(100000)));
  // CPlist refuses such a list outright instead of crashing inside libplist.
  const Bytes deep = Nested(5000);
  CPlist plist;
  EXPECT_EQ(plist.ParseBytes(deep.data(), deep.size()), 0);
}

TEST(PlistShape, BinaryTablesMustLieInsideTheData) {
  Bytes good = Nested(3);
  ASSERT_TRUE(Acceptable(good));
  const std::size_t trailer = good.size() - 32;
  struct Case {
    const char* name;
    std::size_t at;
    std::uint8_t value;
  };
  const Case cases[] = {
      {"offset size 0", trailer + 6, 0},       {"reference size 9", trailer + 7, 9},
      {"object count huge", trailer + 8, 0xFF}, {"top object past the table", trailer + 23, 0x7F},
      {"table past the end", trailer + 31, 0xF0},
  };
  for (const Case& c : cases) {
    Bytes bad = good;
    bad[c.at] = c.value;
    EXPECT_FALSE(Acceptable(bad)) << c.name;
  }
  // A container that lists itself (outer array's reference patched to object 0).
  Bytes loop = good;
  loop[9] = 0;
  EXPECT_FALSE(Acceptable(loop));
  EXPECT_FALSE(Acceptable(Bytes(good.begin(), good.begin() + 20)));
}

Bytes Archive(const std::vector<plist_t>& objects, std::uint64_t root = 1) {
  plist_t top = plist_new_dict();
  plist_dict_set_item(top, "root", plist_new_uid(root));
  plist_t array = plist_new_array();
  for (plist_t o : objects) plist_array_append_item(array, o);
  plist_t archive = plist_new_dict();
  plist_dict_set_item(archive, "$version", plist_new_uint(100000));
  plist_dict_set_item(archive, "$top", top);
  plist_dict_set_item(archive, "$objects", array);
  return ToBinary(archive);
}

plist_t Dict(std::initializer_list<std::pair<const char*, plist_t>> items) {
  plist_t d = plist_new_dict();
  for (const auto& [k, v] : items) plist_dict_set_item(d, k, v);
  return d;
}

TEST(KeyedArchive, FollowsReferencesWithinBounds) {
  const std::uint8_t key[5] = {3, 0, 0, 0, 9};
  const Bytes bytes = Archive({plist_new_string("$null"),
                               Dict({{"Size", plist_new_uint(42)},
                                     {"Name", plist_new_string("Fotos/Gr\xC3\xBC\xC3\x9F""e \xF0\x9F\x93\xB7.jpg")},
                                     {"Negative", plist_new_uint(static_cast<std::uint64_t>(-5))},
                                     {"RelativePath", plist_new_uid(2)},
                                     {"EncryptionKey", plist_new_uid(3)},
                                     {"Target", plist_new_uid(0)},
                                     {"Loop", plist_new_uid(4)},
                                     {"Far", plist_new_uid(99)}}),
                               plist_new_string("Library/SMS/sms.db"),
                               Dict({{"NS.data", plist_new_data(reinterpret_cast<const char*>(key), 5)}}),
                               plist_new_uid(4)});
  KeyedArchive archive;
  ASSERT_TRUE(archive.Parse(bytes.data(), bytes.size()));
  EXPECT_EQ(archive.Unsigned("Size"), 42u);
  // Non-ASCII text is stored as UTF-16 (a character outside the BMP as a surrogate pair).
  EXPECT_EQ(archive.String("Name"), "Fotos/Gr\xC3\xBC\xC3\x9F""e \xF0\x9F\x93\xB7.jpg");
  EXPECT_EQ(archive.Signed("Negative"), -5);
  EXPECT_EQ(archive.String("RelativePath"), "Library/SMS/sms.db");
  EXPECT_EQ(archive.Data("EncryptionKey"), Bytes(key, key + 5));
  // "$null", a reference to itself and one past $objects all read as absent.
  for (const char* absent : {"Target", "Loop", "Far", "Missing"}) {
    EXPECT_FALSE(archive.Has(absent)) << absent;
  }
  // Wrong types are absent too, never misread.
  EXPECT_FALSE(archive.String("Size"));
  EXPECT_FALSE(archive.Unsigned("RelativePath"));
  EXPECT_FALSE(archive.Data("Size"));
}

TEST(KeyedArchive, RefusesWhatIsNotAnArchive) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {
      {"root past $objects", Archive({plist_new_string("$null"), Dict({})}, 7)},
      {"root is a string", Archive({plist_new_string("$null"), plist_new_string("x")})},
      {"root is $null", Archive({plist_new_string("$null")}, 0)},
      {"no $objects", ToBinary(Dict({{"$top", Dict({{"root", plist_new_uid(1)}})}}))},
      {"not a property list", Bytes{'h', 'e', 'l', 'l', 'o'}},
      {"empty", Bytes{}},
  };
  for (const Case& c : cases) {
    KeyedArchive archive;
    EXPECT_FALSE(archive.Parse(c.bytes.data(), c.bytes.size())) << c.name;
    EXPECT_FALSE(archive.Has("Size")) << c.name;
  }
}

TEST(ReadRegularFile, RefusesWhatIsNotAPlainFileWithoutBlocking) {
  sieve::test::TempDir dir;
  const std::string plain = dir.Path() + "/plain.plist";
  sieve::test::WriteFile(plain, "<plist><dict/></plist>");
  const std::string fifo = dir.Path() + "/fifo.plist";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string link = dir.Path() + "/link.plist";
  ASSERT_EQ(::symlink(plain.c_str(), link.c_str()), 0);

  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(ReadRegularFile(plain, 1024, bytes));
  EXPECT_FALSE(ReadRegularFile(plain, 4, bytes)) << "larger than allowed";
  const auto started = std::chrono::steady_clock::now();
  for (const std::string& path : {fifo, link, dir.Path(), dir.Path() + "/absent"}) {
    EXPECT_FALSE(ReadRegularFile(path, 1024, bytes)) << path;
    EXPECT_TRUE(bytes.empty());
    CPlist plist;
    EXPECT_EQ(plist.ReadPlist(path), 0) << path;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

}  // namespace
}  // namespace tether
