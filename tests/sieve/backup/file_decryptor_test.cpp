// Stored files are checked against OpenSSL's own encryption: AES-256-CBC with a zero
// initial value, and its "CS2" ciphertext stealing for lengths that are not whole blocks.
#include "sieve/backup/file_decryptor.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace sieve {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kChunk = kDecryptBufferSize;

Bytes RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
  return bytes;
}

FileKey TestKey(unsigned seed) {
  const Bytes random = RandomBytes(32, seed);
  FileKey key;
  std::copy(random.begin(), random.end(), key.begin());
  return key;
}

// Encrypts with OpenSSL. With stealing, "CS2" swaps the last two blocks only when the
// length is not whole blocks, which is the layout of the device's files.
Bytes Encrypt(const FileKey& key, const Bytes& plain, bool stealing) {
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, stealing ? "AES-256-CBC-CTS" : "AES-256-CBC", nullptr);
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  const std::uint8_t iv[16] = {};
  char mode[] = "CS2";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_CIPHER_PARAM_CTS_MODE, mode, 0),
                               OSSL_PARAM_construct_end()};
  Bytes out(plain.size() + 32);
  int written = 0;
  int last = 0;
  const bool ok = cipher != nullptr && context != nullptr &&
                  EVP_EncryptInit_ex2(context, cipher, key.data(), iv, stealing ? params : nullptr) == 1 &&
                  EVP_CIPHER_CTX_set_padding(context, 0) == 1 &&
                  EVP_EncryptUpdate(context, out.data(), &written, plain.data(), static_cast<int>(plain.size())) == 1 &&
                  EVP_EncryptFinal_ex(context, out.data() + written, &last) == 1;
  EVP_CIPHER_CTX_free(context);
  EVP_CIPHER_free(cipher);
  EXPECT_TRUE(ok) << "reference encryption of " << plain.size() << " bytes";
  out.resize(static_cast<std::size_t>(written + last));
  return out;
}

Bytes Pkcs7Pad(Bytes plain) {
  const std::size_t count = 16 - plain.size() % 16;
  plain.insert(plain.end(), count, static_cast<std::uint8_t>(count));
  return plain;
}

Bytes Decrypted(const Bytes& cipher, const FileKey& key) { return DecryptBuffer(cipher.data(), cipher.size(), key); }

class FileDecryptorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "decryptor-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::string Write(const std::string& name, const Bytes& bytes) const {
    std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                       static_cast<std::streamsize>(bytes.size()));
    return Path(name);
  }

  static Bytes Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  // Decrypts through a file on disk and returns the target's bytes.
  Bytes DecryptedFile(const Bytes& cipher, const FileKey& key) const {
    const std::string source = Write("cipher", cipher);
    EXPECT_EQ(DecryptFile(source, Path("plain"), key), DecryptStatus::Ok);
    return Read(Path("plain"));
  }

  fs::path dir_;
};

TEST_F(FileDecryptorTest, RoundTripsAtBlockAndBufferBoundaries) {
  const FileKey key = TestKey(1);
  const std::size_t sizes[] = {16,        17,        31,        32,        33,        40,        48,
                               63,        64,        kChunk - 33, kChunk - 32, kChunk - 31, kChunk - 16, kChunk,
                               kChunk + 1, kChunk + 16, kChunk + 40, 2 * kChunk - 64 + 15, 3 * kChunk + 5};
  for (const std::size_t size : sizes) {
    Bytes plain = RandomBytes(size, static_cast<unsigned>(size));
    plain.back() = 0;  // never a valid padding, so every byte must come back
    const Bytes cipher = Encrypt(key, plain, true);
    ASSERT_EQ(cipher.size(), size);
    EXPECT_TRUE(Decrypted(cipher, key) == plain) << size << " bytes in memory";
    EXPECT_TRUE(DecryptedFile(cipher, key) == plain) << size << " bytes through a file";
  }
  // Less than one block cannot be decrypted: no output, but no failure either.
  for (const std::size_t size : {0, 5, 15}) {
    const Bytes cipher = RandomBytes(size, 7);
    EXPECT_TRUE(Decrypted(cipher, key).empty()) << size;
    EXPECT_TRUE(DecryptedFile(cipher, key).empty()) << size;
  }
}

TEST_F(FileDecryptorTest, ShapeOfTheOutput) {
  const FileKey key = TestKey(2);
  Bytes plain = RandomBytes(48, 3);
  plain.back() = 0;
  Bytes cipher = Encrypt(key, plain, false);
  const Bytes first = Decrypted(cipher, key);
  ASSERT_EQ(first.size(), 48u);
  // The first block stands alone (zero initial value); damage later on does not reach it.
  cipher[40] ^= 0xFF;
  const Bytes damaged = Decrypted(cipher, key);
  ASSERT_EQ(damaged.size(), 48u);
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + 32, damaged.begin()));
  EXPECT_NE(first, damaged);

  // Two blocks and eight bytes come back as exactly 40 bytes; a wrong key gives garbage of the same length.
  Bytes forty = RandomBytes(40, 4);
  forty.back() = 1;  // looks like padding, but a stolen-ciphertext file never carries any
  const Bytes stolen = Encrypt(key, forty, true);
  EXPECT_EQ(Decrypted(stolen, key), forty);
  const Bytes wrong = Decrypted(stolen, TestKey(99));
  EXPECT_EQ(wrong.size(), 40u);
  EXPECT_NE(wrong, forty);
}

TEST_F(FileDecryptorTest, PaddingIsDroppedOnlyWhenValid) {
  const FileKey key = TestKey(5);
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{16}, std::size_t{31},
                                 kChunk - 1, kChunk, kChunk + 17}) {
    const Bytes original = RandomBytes(size, static_cast<unsigned>(size) + 11);
    const Bytes cipher = Encrypt(key, Pkcs7Pad(original), false);
    EXPECT_TRUE(Decrypted(cipher, key) == original) << size << " bytes in memory";
    EXPECT_TRUE(DecryptedFile(cipher, key) == original) << size << " bytes through a file";
  }

  const Bytes body = RandomBytes(32, 6);
  auto withEnding = [&](const Bytes& ending) {
    Bytes plain = body;
    plain.resize(48 - ending.size());
    plain.insert(plain.end(), ending.begin(), ending.end());
    return plain;
  };
  // Not a padding: every byte stays.
  for (const Bytes& ending : {Bytes{0x00}, Bytes{0x11}, Bytes{0x02, 0x03, 0x03}, Bytes{0x04, 0x04, 0x04}}) {
    const Bytes plain = withEnding(ending);
    EXPECT_EQ(Decrypted(Encrypt(key, plain, false), key), plain) << "ending " << int(ending.back());
  }
  // A whole block of 0x10 is a padding, and so is a lone 0x01.
  const Bytes fullBlockPadding = withEnding(Bytes(16, 0x10));
  EXPECT_EQ(Decrypted(Encrypt(key, fullBlockPadding, false), key), Bytes(body.begin(), body.begin() + 32));
  EXPECT_EQ(Decrypted(Encrypt(key, withEnding({0x01}), false), key).size(), 47u);
}

TEST_F(FileDecryptorTest, FailuresLeaveNoTarget) {
  const FileKey key = TestKey(8);
  const Bytes plain = RandomBytes(4 * kChunk, 9);
  const std::string source = Write("source", Encrypt(key, plain, false));
  const std::string target = Path("target");

  EXPECT_EQ(DecryptFile(Path("missing"), target, key), DecryptStatus::OpenFailed);
  EXPECT_EQ(DecryptFile(dir_.string(), target, key), DecryptStatus::OpenFailed);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(DecryptFile(source, Path("no-such-folder/target"), key), DecryptStatus::CreateFailed);

  // The stored file is never the target, under its own name or another link to it.
  const Bytes stored = Read(source);
  EXPECT_EQ(DecryptFile(source, source, key), DecryptStatus::CreateFailed);
  fs::create_hard_link(source, Path("alias"));
  EXPECT_EQ(DecryptFile(source, Path("alias"), key), DecryptStatus::CreateFailed);
  EXPECT_TRUE(Read(source) == stored);

  // An older, longer target is replaced; a new one is private to its owner.
  Write("target", RandomBytes(5 * kChunk, 10));
  EXPECT_EQ(DecryptFile(source, target, key), DecryptStatus::Ok);
  EXPECT_TRUE(Read(target) == plain);
  EXPECT_EQ(DecryptFile(source, Path("fresh"), key), DecryptStatus::Ok);
  struct stat info {};
  ASSERT_EQ(::stat(Path("fresh").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // A write that fails part-way (here a file-size limit) removes the partial target.
  const std::string partial = Path("partial");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kChunk, kChunk};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const bool ok = DecryptFile(source, partial, key) == DecryptStatus::WriteFailed && !fs::exists(partial);
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace sieve
