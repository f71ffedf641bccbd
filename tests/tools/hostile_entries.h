// Appends hand-made entries to a generated plain backup, for names the
// generator never writes: paths that climb out, links, control characters and
// bytes that are not UTF-8.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "support/test_support.h"

namespace sieve::test {

inline void PutBigEndian(std::string& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

inline void PutIndexString(std::string& out, std::optional<std::string_view> text) {
  if (!text) {
    PutBigEndian(out, 0xFFFF, 2);
    return;
  }
  PutBigEndian(out, text->size(), 2);
  out += *text;
}

inline std::string Sha1Hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha1(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

struct HandMadeEntry {
  std::string domain;
  std::string path;
  std::string content;                    // written as the stored file of a regular file
  std::optional<std::string> linkTarget;  // set: a symbolic link
  std::uint32_t modifiedTime = 1400000000;
};

// Adds the entry at the end of the backup's Manifest.mbdb and, for a regular
// file, writes its stored file under the name the index rules give it.
inline void AppendEntry(const std::string& backupFolder, const HandMadeEntry& e) {
  const bool link = e.linkTarget.has_value();
  std::string record;
  PutIndexString(record, e.domain);
  PutIndexString(record, e.path);
  PutIndexString(record, link ? std::optional<std::string_view>(*e.linkTarget) : std::nullopt);
  PutIndexString(record, std::nullopt);  // digest
  PutIndexString(record, std::nullopt);  // file key
  PutBigEndian(record, link ? 0120777 : 0100644, 2);
  PutBigEndian(record, 990000 + e.path.size(), 8);  // inode
  PutBigEndian(record, 501, 4);
  PutBigEndian(record, 501, 4);
  for (int t = 0; t < 3; ++t) PutBigEndian(record, e.modifiedTime, 4);
  PutBigEndian(record, link ? 0 : e.content.size(), 8);
  PutBigEndian(record, 4, 1);  // protection class
  PutBigEndian(record, 0, 1);  // no properties
  std::ofstream(backupFolder + "/Manifest.mbdb", std::ios::binary | std::ios::app) << record;
  if (!link) WriteFile(backupFolder + "/" + Sha1Hex(e.domain + "-" + e.path), e.content);
}

}  // namespace sieve::test
