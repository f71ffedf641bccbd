// Known-answer vectors from RFC 3394, RFC 6070, RFC 7914 and NIST SP 800-38A.
#include "sieve/backup/crypto.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sieve::crypto {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(std::stoul(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

std::string Pbkdf2Hex(bool sha256, const std::string& password, const std::string& salt, std::uint32_t rounds,
                      std::size_t size) {
  Bytes out(size);
  const auto* p = reinterpret_cast<const std::uint8_t*>(password.data());
  const auto* s = reinterpret_cast<const std::uint8_t*>(salt.data());
  const bool ok = sha256 ? Pbkdf2HmacSha256(p, password.size(), s, salt.size(), rounds, out.data(), size)
                         : Pbkdf2HmacSha1(p, password.size(), s, salt.size(), rounds, out.data(), size);
  return ok ? HexLower(out.data(), size) : "fail";
}

TEST(Crypto, DigestsAndDerivations) {
  const auto abc = Sha1("abc", 3);
  EXPECT_EQ(HexLower(abc.data(), abc.size()), "a9993e364706816aba3e25717850c26c9cd0d89d");
  const auto empty = Sha1(nullptr, 0);
  EXPECT_EQ(HexLower(empty.data(), empty.size()), "da39a3ee5e6b4b0d3255bfef95601890afd80709");

  // RFC 6070, without the 16,777,216-round vector.
  EXPECT_EQ(Pbkdf2Hex(false, "password", "salt", 1, 20), "0c60c80f961f0e71f3a9b524af6012062fe037a6");
  EXPECT_EQ(Pbkdf2Hex(false, "password", "salt", 2, 20), "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957");
  EXPECT_EQ(Pbkdf2Hex(false, "password", "salt", 4096, 20), "4b007901b765489abead49d926f721d065a429c1");
  EXPECT_EQ(Pbkdf2Hex(false, "passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25),
            "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
  EXPECT_EQ(Pbkdf2Hex(false, std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16),
            "56fa6aa75548099dcc37d7f03425e0c3");
  EXPECT_EQ(Pbkdf2Hex(false, "", "salt", 1, 20), "a33dddc30478185515311f8752895d36ea4363a2");  // empty password
  // RFC 7914 section 11.
  EXPECT_EQ(Pbkdf2Hex(true, "passwd", "salt", 1, 64),
            "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
            "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
  // Zero rounds, and counts the library cannot take, are refused rather than run.
  EXPECT_EQ(Pbkdf2Hex(false, "password", "salt", 0, 20), "fail");
  EXPECT_EQ(Pbkdf2Hex(true, "password", "salt", 0x80000000u, 20), "fail");
}

TEST(Crypto, KeyWrapRfc3394Section4_6) {
  const Bytes kek = FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  const Bytes key = FromHex("00112233445566778899aabbccddeeff000102030405060708090a0b0c0d0e0f");
  const Bytes wrapped = FromHex("28c9f404c4b810f4cbccb35cfb87f8263f5786e2d80ed326cbc7f0e71a99f43bfb988b9b7a02dd21");
  Bytes out(32);
  ASSERT_TRUE(AesKeyUnwrap(kek.data(), wrapped.data(), wrapped.size(), out.data()));
  EXPECT_EQ(out, key);
  Bytes rewrapped(40);
  ASSERT_TRUE(AesKeyWrap(kek.data(), key.data(), key.size(), rewrapped.data()));
  EXPECT_EQ(rewrapped, wrapped);

  // A flipped bit anywhere fails the integrity check and leaves no key material behind.
  for (std::size_t i = 0; i < wrapped.size(); i += 7) {
    Bytes damaged = wrapped;
    damaged[i] ^= 0x10;
    std::fill(out.begin(), out.end(), 0xEE);
    EXPECT_FALSE(AesKeyUnwrap(kek.data(), damaged.data(), damaged.size(), out.data())) << "byte " << i;
    EXPECT_EQ(out, Bytes(32, 0));
  }
  // Sizes that cannot be a wrapping are refused without writing.
  std::fill(out.begin(), out.end(), 0xEE);
  for (const std::size_t size : {0, 16, 39}) EXPECT_FALSE(AesKeyUnwrap(kek.data(), wrapped.data(), size, out.data()));
  EXPECT_EQ(out, Bytes(32, 0xEE));
  EXPECT_FALSE(AesKeyWrap(kek.data(), key.data(), 12, rewrapped.data()));
}

TEST(Crypto, AesCbcAndEcbNistVectors) {
  // SP 800-38A F.2.6 (CBC-AES256.Decrypt); F.1.6 (ECB-AES256.Decrypt) shares key and plaintext.
  const Bytes key = FromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const Bytes iv = FromHex("000102030405060708090a0b0c0d0e0f");
  const Bytes cipher = FromHex(
      "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
      "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b");
  const Bytes plain = FromHex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  Bytes out(cipher.size());
  Aes256CbcDecryptor whole(key.data(), iv.data());
  ASSERT_TRUE(whole.Ok());
  ASSERT_TRUE(whole.Update(cipher.data(), cipher.size(), out.data()));
  EXPECT_EQ(out, plain);

  // The chaining value carries over between calls, and decryption may be in place.
  Aes256CbcDecryptor pieces(key.data(), iv.data());
  Bytes buffer = cipher;
  ASSERT_TRUE(pieces.Update(buffer.data(), 16, buffer.data()));
  ASSERT_TRUE(pieces.Update(buffer.data() + 16, 48, buffer.data() + 16));
  EXPECT_EQ(buffer, plain);
  EXPECT_FALSE(pieces.Update(buffer.data(), 15, out.data()));

  const Bytes ecb = FromHex("f3eed1bdb5d2a03c064b5a7e3db181f8");
  std::uint8_t block[16];
  Aes256EcbDecryptBlock(key.data(), ecb.data(), block);
  EXPECT_EQ(Bytes(block, block + 16), Bytes(plain.begin(), plain.begin() + 16));
}

}  // namespace
}  // namespace sieve::crypto
