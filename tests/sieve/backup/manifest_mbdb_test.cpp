#include "sieve/backup/manifest_mbdb.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sieve/backup/stored_name.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using Bytes = std::vector<std::uint8_t>;

void PutNumber(Bytes& out, std::uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutField(Bytes& out, const std::optional<std::string>& text) {
  if (!text) return PutNumber(out, 0xFFFF, 2);
  PutNumber(out, text->size(), 2);
  out.insert(out.end(), text->begin(), text->end());
}

struct Entry {
  std::optional<std::string> domain = "HomeDomain", path = "Library/file", link, digest, key;
  std::uint16_t mode = 0x81A4;
  std::uint64_t inode = 7, size = 1234;
  std::uint32_t uid = 501, gid = 502, mtime = 1400000000, atime = 1400000001, ctime = 1400000002;
  std::uint8_t protection = 3;
  int properties = 0;
};

Bytes Header() { return {'m', 'b', 'd', 'b', 5, 0}; }

void PutEntry(Bytes& out, const Entry& e) {
  PutField(out, e.domain);
  PutField(out, e.path);
  PutField(out, e.link);
  PutField(out, e.digest);
  PutField(out, e.key);
  PutNumber(out, e.mode, 2);
  PutNumber(out, e.inode, 8);
  PutNumber(out, e.uid, 4);
  PutNumber(out, e.gid, 4);
  PutNumber(out, e.mtime, 4);
  PutNumber(out, e.atime, 4);
  PutNumber(out, e.ctime, 4);
  PutNumber(out, e.size, 8);
  PutNumber(out, e.protection, 1);
  PutNumber(out, static_cast<std::uint64_t>(e.properties), 1);
  for (int i = 0; i < e.properties; ++i) {
    PutField(out, "name" + std::to_string(i));
    PutField(out, i % 2 == 0 ? std::optional<std::string>("value") : std::nullopt);
  }
}

// Parses a copy that ends exactly where the input ends, so a sanitizer build reports
// any read past it.
MbdbResult ParseExact(const Bytes& bytes, std::vector<CManifestRecord>& out, const MbdbProgress& progress = {}) {
  auto copy = std::make_unique<std::uint8_t[]>(bytes.size() + 1);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return ParseMbdb(bytes.empty() ? nullptr : copy.get(), bytes.size(), out, progress);
}

// Three records of different shapes, and the offset where each one ends.
Bytes ThreeRecords(std::vector<std::size_t>& ends) {
  Bytes bytes = Header();
  Entry folder;
  folder.path = "Library";
  folder.mode = 0x41ED;
  PutEntry(bytes, folder);
  ends.push_back(bytes.size());
  Entry file;  // 255 properties: read as a signed byte the count would be negative
  file.key = std::string(44, '\x5a');
  file.properties = 255;
  PutEntry(bytes, file);
  ends.push_back(bytes.size());
  Entry link;
  link.path = "Library/link";
  link.mode = 0xA1ED;
  link.link = "/var/mobile/target";
  PutEntry(bytes, link);
  ends.push_back(bytes.size());
  return bytes;
}

// Every field of a record in one line, so a record is checked by one comparison.
std::string Described(const CManifestRecord& r) {
  const char kind = r.IsDirectory() ? 'd' : r.IsSymlink() ? 'l' : r.IsRegularFile() ? 'f' : '?';
  std::string key = r.HasEncryptionKey ? "key" + std::to_string(r.EncryptionKey.size()) : "nokey";
  if (r.EncryptionKey.size() == 44) key += ":" + std::to_string(r.EncryptionKey[3]) + ":" + std::to_string(r.EncryptionKey[43]);
  return r.Domain + "|" + r.Path + "|" + r.LinkTarget + "|" + key + "|" + kind + std::to_string(r.Mode) + "|" +
         std::to_string(r.Inode) + "|" + std::to_string(r.UserId) + "|" + std::to_string(r.GroupId) + "|" +
         std::to_string(r.ModifiedTime) + "|" + std::to_string(r.AccessTime) + "|" + std::to_string(r.CreatedTime) + "|" +
         std::to_string(r.Size) + "|" + std::to_string(r.ProtectionClass);
}

TEST(ManifestMbdb, ReadsEveryFieldAndAbsentFields) {
  Bytes bytes = Header();
  Entry full;  // every field at its widest
  full.domain = "AppDomain-com.example.Reader";
  full.path = "Documents/a.PDF";
  full.link = "";
  full.digest = std::string(20, '\x01');
  full.key = std::string("\x00\x00\x00\x03", 4) + std::string(40, '\xee');
  full.inode = 0x0102030405060708ULL;
  full.size = 0xF0000000FULL;
  full.uid = 0xFFFFFFFFu;
  full.protection = 0xFF;
  PutEntry(bytes, full);
  Entry absent;  // absent domain and path read as "NULL" and hash as "NULL-NULL"
  absent.domain.reset();
  absent.path.reset();
  absent.mode = 0x41ED;
  PutEntry(bytes, absent);
  Entry emptyKey;  // a present but empty key is still "present"; callers test its length
  emptyKey.key = "";
  emptyKey.mode = 0xA1FF;
  emptyKey.link = "../elsewhere";
  PutEntry(bytes, emptyKey);

  std::vector<CManifestRecord> out;
  const MbdbResult result = ParseExact(bytes, out);
  ASSERT_EQ(result.status, MbdbStatus::Ok);
  EXPECT_EQ(result.errorOffset, bytes.size());
  ASSERT_EQ(out.size(), 3u);
  const std::string times = "|1400000000|1400000001|1400000002|";
  EXPECT_EQ(Described(out[0]), "AppDomain-com.example.Reader|Documents/a.PDF||key44:3:238|f33188|72623859790382856|4294967295|502" +
                                   times + "64424509455|255");
  EXPECT_EQ(Described(out[1]), "NULL|NULL||nokey|d16877|7|501|502" + times + "1234|3");
  EXPECT_EQ(Described(out[2]), "HomeDomain|Library/file|../elsewhere|key0|l41471|7|501|502" + times + "1234|3");
  EXPECT_EQ(out[0].StoredName, StoredFileName("AppDomain-com.example.Reader", "Documents/a.PDF"));
  EXPECT_EQ(out[1].StoredName, StoredFileName("NULL", "NULL"));
}

TEST(ManifestMbdb, CutAtEveryOffsetKeepsTheWholeRecords) {
  std::vector<std::size_t> ends;
  const Bytes bytes = ThreeRecords(ends);
  std::vector<CManifestRecord> out;
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    const Bytes part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    const MbdbResult result = ParseExact(part, out);
    if (cut < 6) {
      EXPECT_EQ(result.status, MbdbStatus::NotAnIndex) << cut;
      EXPECT_TRUE(out.empty());
      continue;
    }
    std::size_t whole = 0;
    while (whole < ends.size() && ends[whole] <= cut) ++whole;
    ASSERT_EQ(out.size(), whole) << "cut at " << cut;
    const bool atBoundary = cut == 6 || (whole > 0 && ends[whole - 1] == cut);
    EXPECT_EQ(result.status, atBoundary ? MbdbStatus::Ok : MbdbStatus::Truncated) << cut;
    if (!atBoundary) {
      EXPECT_EQ(result.errorOffset, whole == 0 ? 6 : ends[whole - 1]) << cut;
    }
  }
  EXPECT_EQ(out.size(), 3u);
  EXPECT_EQ(out[2].LinkTarget, "/var/mobile/target");
  // Another magic or version, or no bytes at all, is no index. (Flipped and random bytes in
  // general are the fuzz target's: fuzz/manifest_mbdb_fuzz.cpp.)
  for (const std::size_t at : {0, 3, 4, 5}) {
    Bytes other = bytes;
    other[at] ^= 0x20;
    EXPECT_EQ(ParseExact(other, out).status, MbdbStatus::NotAnIndex) << at;
    EXPECT_TRUE(out.empty());
  }
  EXPECT_EQ(ParseMbdb(nullptr, 100, out).status, MbdbStatus::NotAnIndex);
}

TEST(ManifestMbdb, ProgressAfterEveryRecordAndStop) {
  std::vector<std::size_t> ends;
  const Bytes bytes = ThreeRecords(ends);
  std::vector<CManifestRecord> out;
  std::vector<std::uint64_t> seen;
  MbdbResult result = ParseExact(bytes, out, [&](std::uint64_t consumed, std::uint64_t total) {
    EXPECT_EQ(total, bytes.size());
    seen.push_back(consumed);
    return true;
  });
  EXPECT_EQ(result.status, MbdbStatus::Ok);
  EXPECT_EQ(seen, std::vector<std::uint64_t>(ends.begin(), ends.end()));

  int calls = 0;
  result = ParseExact(bytes, out, [&](std::uint64_t, std::uint64_t) { return ++calls < 2; });
  EXPECT_EQ(result.status, MbdbStatus::Stopped);
  EXPECT_EQ(result.errorOffset, ends[1]);
  EXPECT_EQ(out.size(), 2u);
}

TEST(ManifestMbdb, ReadsFilesAndNamesWhyNot) {
  test::TempDir dir;
  std::vector<std::size_t> ends;
  const Bytes bytes = ThreeRecords(ends);
  test::WriteFile(dir.Join("Manifest.mbdb"), std::string(bytes.begin(), bytes.end()));
  std::vector<CManifestRecord> out(5);
  EXPECT_EQ(ReadMbdbFile(dir.Join("Manifest.mbdb"), out).status, MbdbStatus::Ok);
  EXPECT_EQ(out.size(), 3u);

  EXPECT_EQ(ReadMbdbFile(dir.Join("absent"), out).status, MbdbStatus::Missing);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(ReadMbdbFile(dir.Path(), out).status, MbdbStatus::ReadError);
  test::WriteFile(dir.Join("empty"), "");
  EXPECT_EQ(ReadMbdbFile(dir.Join("empty"), out).status, MbdbStatus::NotAnIndex);
  if (::geteuid() != 0) {  // root reads any file whatever its mode
    ::chmod(dir.Join("Manifest.mbdb").c_str(), 0);
    EXPECT_EQ(ReadMbdbFile(dir.Join("Manifest.mbdb"), out).status, MbdbStatus::ReadError);
  }
}

}  // namespace
}  // namespace sieve
